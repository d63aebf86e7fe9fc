// Connects to a live server of the ros2 profile with the official Foxglove
// WebSocket client and checks that it offers the recording's ROS 2 topics and
// that what arrives decodes with the official definitions and CDR reader:
//   node check_stream_ros2.js ws://HOST:PORT [ROUNDS]
// Prints one line per check and "ros2 stream: N passed, M failed"; exits 1 on a failure.
"use strict";

const assert = require("node:assert/strict");
const { FoxgloveClient } = require("@foxglove/ws-protocol");
const WebSocket = require("ws");
const { parse } = require("@foxglove/rosmsg");
const { MessageReader } = require("@foxglove/rosmsg2-serialization");
const { ros2jazzy } = require("@foxglove/rosmsg-msgs-common");

const { checker } = require("./checks");

const { check, crashed, finish } = checker();
const TYPES = {
  "/scan": "sensor_msgs/LaserScan",
  "/tx710/points": "sensor_msgs/PointCloud2",
  "/diagnostics": "diagnostic_msgs/DiagnosticArray",
};

// The channels and the messages by topic, until `rounds` scans and one diagnostics arrived.
function collect(url, rounds) {
  return new Promise((resolve, reject) => {
    const seen = { channels: [], statuses: [], messages: { "/scan": [], "/tx710/points": [], "/diagnostics": [] } };
    const client = new FoxgloveClient({ ws: new WebSocket(url, [FoxgloveClient.SUPPORTED_SUBPROTOCOL]) });
    const topicBySubscription = new Map();
    const timer = setTimeout(() => {
      client.close();
      reject(new Error(`timed out: ${seen.messages["/scan"].length} scans`));
    }, 20000);
    client.on("error", (error) => reject(error));
    client.on("status", (status) => seen.statuses.push(status));
    client.on("advertise", (channels) => {
      seen.channels.push(...channels);
      for (const channel of channels) topicBySubscription.set(client.subscribe(channel.id), channel.topic);
    });
    client.on("message", ({ subscriptionId, timestamp, data }) => {
      const bytes = new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
      seen.messages[topicBySubscription.get(subscriptionId)].push({ timestamp, data: bytes });
      if (seen.messages["/scan"].length >= rounds && seen.messages["/diagnostics"].length >= 1) {
        clearTimeout(timer);
        client.close();
        resolve(seen);
      }
    });
  });
}

async function main() {
  const url = process.argv[2];
  const rounds = Number(process.argv[3] ?? 20);
  if (!url) throw new Error("usage: node check_stream_ros2.js ws://HOST:PORT [ROUNDS]");
  const seen = await collect(url, rounds);

  await check("channels: the recording's ROS 2 topics, CDR, official definitions", () => {
    assert.deepEqual(seen.channels.map((channel) => channel.topic).sort(), Object.keys(TYPES).sort());
    for (const channel of seen.channels) {
      assert.equal(channel.encoding, "cdr");
      assert.equal(channel.schemaEncoding, "ros2msg");
      assert.equal(channel.schemaName.replace("/msg/", "/"), TYPES[channel.topic]);
      const [root] = parse(channel.schema, { ros2: true });
      assert.deepEqual(JSON.parse(JSON.stringify(root.definitions)), ros2jazzy[TYPES[channel.topic]].definitions);
    }
    assert.deepEqual(seen.statuses, []);
  });

  await check(`every message decodes; ${rounds} LaserScans of 450 beams stamped one turn before they were sent`, () => {
    for (const [topic, messages] of Object.entries(seen.messages)) {
      const root = { definitions: ros2jazzy[TYPES[topic]].definitions };
      const reader = new MessageReader([root, ...Object.values(ros2jazzy)]);
      for (const { timestamp, data } of messages) {
        const body = reader.readMessage(data);
        const stamp = BigInt(body.header.stamp.sec) * 1000000000n + BigInt(body.header.stamp.nanosec);
        assert.equal(body.header.frame_id, "tx710");
        if (topic !== "/scan") {
          assert.equal(stamp, timestamp, topic);
          continue;
        }
        assert.equal(body.ranges.length, 450);
        assert.equal(body.intensities.length, 450);
        const late = timestamp - stamp - BigInt(Math.round(body.scan_time * 1e9));
        assert.ok(late >= -1000n && late <= 1000n, `stamp ${stamp} of a scan sent at ${timestamp}`);
      }
    }
  });
}

main()
  .catch(crashed)
  .finally(() => finish("ros2 stream"));
