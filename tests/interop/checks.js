// What both interop checks share: the point layout our recordings and stream
// promise, and the "ok"/"FAIL" lines with their closing tally.
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");

const FLOAT32 = 7; // foxglove NumericType
const POINT_FIELDS = ["x", "y", "z", "intensity", "angle", "distance"].map((name, i) => ({
  name,
  offset: 4 * i,
  type: FLOAT32,
}));

// Runs named checks (sync or async), prints one line each; finish(label)
// prints "label: N passed, M failed" and sets the exit code.
function checker() {
  let passed = 0;
  let failed = 0;
  return {
    async check(name, body) {
      try {
        await body();
        passed += 1;
        console.log(`ok   ${name}`);
      } catch (error) {
        failed += 1;
        console.log(`FAIL ${name}\n     ${String(error.message).split("\n").join("\n     ")}`);
      }
    },
    crashed(error) {
      failed += 1;
      console.log(`FAIL ${error.stack ?? error}`);
    },
    finish(label) {
      console.log(`${label}: ${passed} passed, ${failed} failed`);
      process.exitCode = failed > 0 ? 1 : 0;
    },
  };
}

// The rounds of a data file (the viewer's text format), by round number, in file order.
function readTxt(file) {
  const lines = fs.readFileSync(file, "utf8").split("\n");
  assert.equal(lines.shift(), "Round angle distance intensity");
  assert.equal(lines.pop(), "");
  const rounds = new Map();
  for (const line of lines) {
    const [round, angle, distance, intensity] = line.split(" ");
    if (!rounds.has(round)) rounds.set(round, []);
    rounds.get(round).push({ angle, distance, intensity });
  }
  return rounds;
}

module.exports = { FLOAT32, POINT_FIELDS, checker, readTxt };
