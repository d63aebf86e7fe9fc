// Reads a.mcap of a recording that a full file system ended with the
// official indexed reader: its summary and footer are there and it holds
// whole rounds, at most the text file's a.txt (which may hold the rounds of
// the last chunk the MCAP file had no room for). Either profile: every topic
// of a round (/scan, and /tx710/points in ROS 2) holds the same rounds.
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
      const ros2 = reader.header.profile === "ros2";
      const topics = ros2 ? ["/scan", "/tx710/points"] : ["/scan"];
      const sequences = new Map(topics.map((topic) => [topic, []]));
      const channels = [...reader.channelsById.values()].filter((channel) => topics.includes(channel.topic));
      assert.equal(channels.length, topics.length);
      for await (const message of reader.readMessages({ topics })) {
        const channel = reader.channelsById.get(message.channelId);
        if (!ros2) JSON.parse(Buffer.from(message.data).toString("utf8"));
        sequences.get(channel.topic).push(message.sequence);
      }
      const rounds = sequences.get("/scan");
      assert.ok(rounds.length > 0);
      assert.deepEqual(rounds, rounds.map((_, i) => i + 1));
      for (const channel of channels) {
        assert.deepEqual(sequences.get(channel.topic), rounds, channel.topic);
        assert.equal(reader.statistics.channelMessageCounts.get(channel.id), BigInt(rounds.length), channel.topic);
      }
      const txt = fs.readFileSync(path.join(folder, "a.txt"), "utf8").trimEnd().split("\n");
      assert.ok(rounds.length <= Number(txt[txt.length - 1].split(" ")[0]));
    });
  }
  await handle.close();
}

main()
  .catch(crashed)
  .finally(() => finish("full-disk interop"));
