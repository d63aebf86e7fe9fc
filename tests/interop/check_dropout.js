// Reads FILE.mcap, a ROS 2 recording by tx710-record --reconnect through one
// dropout of the device, with the official MCAP reader and ROS 2 CDR reader:
//   node check_dropout.js FILE.mcap
// The scans go on numbered without a break, and /diagnostics says ERROR "link
// lost" through the gap, with the seconds the link has been down.
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const { McapIndexedReader } = require("@mcap/core");
const { FileHandleReadable } = require("@mcap/nodejs");
const { loadDecompressHandlers } = require("@mcap/support");

const { checker } = require("./checks");
const { officialReader } = require("./ros2_checks");

const { check, crashed, finish } = checker();

async function main(file) {
  const handle = await fs.promises.open(file, "r");
  const messages = [];
  let topics;
  try {
    const decompressHandlers = await loadDecompressHandlers();
    const reader = await McapIndexedReader.Initialize({ readable: new FileHandleReadable(handle), decompressHandlers });
    topics = new Map([...reader.channelsById.values()].map((channel) => [channel.id, channel.topic]));
    for await (const message of reader.readMessages()) messages.push(message);
  } finally {
    await handle.close();
  }
  const on = (topic) => messages.filter((message) => topics.get(message.channelId) === topic);

  await check("/scan: the rounds numbered on through the dropout", () => {
    const sequences = on("/scan").map((message) => message.sequence);
    assert.deepEqual(sequences, sequences.map((_, i) => i + 1));
  });

  await check("/diagnostics: ERROR \"link lost\" through the gap, receiving before and after", () => {
    const reader = officialReader("diagnostic_msgs/msg/DiagnosticArray");
    const statuses = on("/diagnostics").map((message) => reader.readMessage(message.data).status[0]);
    const lost = statuses.map((status) => status.message === "link lost");
    const first = lost.indexOf(true);
    const last = lost.lastIndexOf(true);
    assert.ok(first > 0, "a status before the loss, and one during it");
    assert.ok(last < statuses.length - 1, "a status after the return");
    assert.ok(lost.slice(first, last + 1).every(Boolean), "one unbroken gap");
    const down = statuses.slice(first, last + 1).map((status) => {
      assert.equal(status.level, 2);
      return Number(status.values.find(({ key }) => key === "link_down_s").value);
    });
    assert.ok(down.every((seconds, i) => i === 0 || seconds > down[i - 1]), `rising: ${down}`);
    assert.ok(down[down.length - 1] >= 1, `the gap lasts ${down[down.length - 1]} s`);
    assert.ok(statuses.slice(last + 1).some((status) => status.message === "receiving"), "receiving again");
  });
}

main(process.argv[2]).catch(crashed).finally(() => finish("dropout"));
