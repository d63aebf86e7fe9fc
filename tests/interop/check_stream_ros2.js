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
const shortType = (schemaName) => schemaName.replace("/msg/", "/");
// The frame a topic's headers name: its prefix, or the default frame.
const frameOf = (topic) => (topic.split("/").length > 3 || /^\/[^/]+\/scan$/.test(topic) ? topic.split("/")[1] : "tx710");

// The channels and the messages by topic, until `rounds` scans of each device,
// one diagnostics and (when offered) the latched /tf_static arrived.
function collect(url, rounds) {
  return new Promise((resolve, reject) => {
    const seen = { channels: [], statuses: [], messages: {} };
    const client = new FoxgloveClient({ ws: new WebSocket(url, [FoxgloveClient.SUPPORTED_SUBPROTOCOL]) });
    const topicBySubscription = new Map();
    const scans = () => Object.keys(seen.messages).filter((topic) => topic.endsWith("/scan"));
    const timer = setTimeout(() => {
      client.close();
      reject(new Error(`timed out: ${scans().map((topic) => `${seen.messages[topic].length} on ${topic}`)}`));
    }, 20000);
    client.on("error", (error) => reject(error));
    client.on("status", (status) => seen.statuses.push(status));
    client.on("advertise", (channels) => {
      seen.channels.push(...channels);
      for (const channel of channels) {
        seen.messages[channel.topic] = [];
        topicBySubscription.set(client.subscribe(channel.id), channel.topic);
      }
    });
    client.on("message", ({ subscriptionId, timestamp, data }) => {
      const bytes = new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
      seen.messages[topicBySubscription.get(subscriptionId)].push({ timestamp, data: bytes });
      const done = scans().every((topic) => seen.messages[topic].length >= rounds)
        && seen.messages["/diagnostics"].length >= 1
        && (!("/tf_static" in seen.messages) || seen.messages["/tf_static"].length >= 1);
      if (done) {
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
  const devices = Object.keys(seen.messages).filter((topic) => topic.endsWith("/scan")).map(frameOf);

  await check("channels: the recording's ROS 2 topics, CDR, official definitions", () => {
    const prefixes = devices.length > 1 ? devices.map((frame) => `/${frame}`) : [""];
    const expected = ["/diagnostics", ...prefixes.flatMap((prefix) => [`${prefix}/scan`, `${prefix}/tx710/points`])];
    if (devices.length > 1 || "/tf_static" in seen.messages) expected.push("/tf_static");
    assert.deepEqual(seen.channels.map((channel) => channel.topic).sort(), expected.sort());
    for (const channel of seen.channels) {
      assert.equal(channel.encoding, "cdr");
      assert.equal(channel.schemaEncoding, "ros2msg");
      const [root] = parse(channel.schema, { ros2: true });
      assert.deepEqual(JSON.parse(JSON.stringify(root.definitions)), ros2jazzy[shortType(channel.schemaName)].definitions);
    }
    assert.deepEqual(seen.statuses, []);
  });

  await check(`every message decodes; ${rounds} LaserScans of 450 beams per device stamped one turn before they were sent`, () => {
    for (const channel of seen.channels) {
      const type = shortType(channel.schemaName);
      const reader = new MessageReader([{ definitions: ros2jazzy[type].definitions }, ...Object.values(ros2jazzy)]);
      for (const { timestamp, data } of seen.messages[channel.topic]) {
        const body = reader.readMessage(data);
        if (channel.topic === "/tf_static") {
          assert.deepEqual(body.transforms.map((transform) => transform.child_frame_id).sort(), [...devices].sort());
          continue;
        }
        const stamp = BigInt(body.header.stamp.sec) * 1000000000n + BigInt(body.header.stamp.nanosec);
        if (channel.topic !== "/diagnostics") assert.equal(body.header.frame_id, frameOf(channel.topic));
        if (!channel.topic.endsWith("/scan")) {
          assert.equal(stamp, timestamp, channel.topic);
          continue;
        }
        assert.equal(body.ranges.length, 450);
        assert.equal(body.intensities.length, 450);
        const late = timestamp - stamp - BigInt(Math.round(body.scan_time * 1e9));
        assert.ok(late >= -1000n && late <= 1000n, `stamp ${stamp} of a scan sent at ${timestamp}`);
      }
    }
  });

  await check("/tf_static (when offered): the transforms once, latched", () => {
    if ("/tf_static" in seen.messages) assert.equal(seen.messages["/tf_static"].length, 1);
  });
}

main()
  .catch(crashed)
  .finally(() => finish("ros2 stream"));
