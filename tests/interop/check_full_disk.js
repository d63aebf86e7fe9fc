// Reads a.mcap of a recording that a full file system ended with the
// official indexed reader: its summary and footer are there and it holds
// whole rounds, at most the text file's a.txt (which may hold the rounds of
// the last chunk the MCAP file had no room for):
//   node check_full_disk.js FOLDER
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const { McapIndexedReader } = require("@mcap/core");
const { FileHandleReadable } = require("@mcap/nodejs");
const { loadDecompressHandlers } = require("@mcap/support");

const { checker } = require("./checks");

const { check, crashed, finish } = checker();

async function main() {
  const folder = process.argv[2];
  if (!folder) throw new Error("usage: node check_full_disk.js FOLDER");
  const handle = await fs.promises.open(path.join(folder, "a.mcap"), "r");
  let reader;
  await check("the indexed reader opens the file", async () => {
    reader = await McapIndexedReader.Initialize({
      readable: new FileHandleReadable(handle),
      decompressHandlers: await loadDecompressHandlers(),
    });
  });
  if (reader) {
    await check("whole rounds, no more than the text file holds", async () => {
      const scan = [...reader.channelsById.values()].find((channel) => channel.topic === "/scan");
      const sequences = [];
      for await (const message of reader.readMessages({ topics: ["/scan"] })) {
        JSON.parse(Buffer.from(message.data).toString("utf8"));
        sequences.push(message.sequence);
      }
      assert.ok(sequences.length > 0);
      assert.deepEqual(sequences, sequences.map((_, i) => i + 1));
      assert.equal(reader.statistics.channelMessageCounts.get(scan.id), BigInt(sequences.length));
      const txt = fs.readFileSync(path.join(folder, "a.txt"), "utf8").trimEnd().split("\n");
      assert.ok(sequences.length <= Number(txt[txt.length - 1].split(" ")[0]));
    });
  }
  await handle.close();
}

main()
  .catch(crashed)
  .finally(() => finish("full-disk interop"));
