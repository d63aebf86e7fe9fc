// Reads NAME.mcap of a folder, a recording of several LiDARs (either profile),
// with the official MCAP reader, the official ROS 2 definitions, CDR reader and
// writer, and the official Foxglove schemas; compares each device's rounds with
// its own data file NAME-FRAME.txt:
//   node check_multi.js FOLDER NAME FRAME=X,Y,Z,YAW...
// (each device's frame id and mount, in the order of its --port).
// Prints one line per check and "multi: N passed, M failed"; exits 1 on a failure.
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const { McapIndexedReader } = require("@mcap/core");
const { FileHandleReadable } = require("@mcap/nodejs");
const { loadDecompressHandlers } = require("@mcap/support");
const { parse } = require("@foxglove/rosmsg");
const { MessageReader, MessageWriter } = require("@foxglove/rosmsg2-serialization");
const { ros2jazzy } = require("@foxglove/rosmsg-msgs-common");
const foxgloveSchemas = require("@foxglove/schemas/jsonschema");

const { checker, readTxt } = require("./checks");

const { check, crashed, finish } = checker();

const nanoseconds = (time) => BigInt(time.sec) * 1000000000n + BigInt(time.nanosec ?? time.nsec);
const withDependencies = (type) => [{ definitions: ros2jazzy[type].definitions }, ...Object.values(ros2jazzy)];
const text = (bytes) => Buffer.from(bytes).toString("utf8");

// The transform a mount gives: the translation, and the yaw as a turn about z.
function expectedTransform(frame, [x, y, z, yaw]) {
  const half = (yaw * Math.PI) / 360;
  return { child: frame, translation: { x, y, z }, rotation: { x: 0, y: 0, z: Math.sin(half), w: Math.cos(half) } };
}

function assertTransform(got, expected, where) {
  assert.equal(got.child, expected.child, where);
  for (const part of ["translation", "rotation"]) {
    for (const [axis, value] of Object.entries(expected[part])) {
      assert.ok(Math.abs(got[part][axis] - value) < 1e-12, `${where}: ${part}.${axis} ${got[part][axis]}, not ${value}`);
    }
  }
}

// Every point of each device's rounds as its own data file has them.
function assertRoundsEqual(rounds, txt, where) {
  assert.equal(rounds.size, txt.size, `${where}: rounds in the recording and in the data file`);
  for (const [number, points] of rounds) {
    const lines = txt.get(String(number));
    assert.ok(lines, `${where}: round ${number} is in the data file`);
    assert.equal(points.length, lines.length, `${where}: round ${number} points`);
    points.forEach((point, i) => {
      for (const name of ["angle", "distance", "intensity"]) {
        assert.equal(point[name], Math.fround(Number(lines[i][name])), `${where}: round ${number} point ${i} ${name}`);
      }
    });
  }
}

// { angle, distance, intensity } of the 24-byte points (x, y, z, intensity, angle, distance).
function pointsOf(data) {
  const points = [];
  for (let at = 0; at + 24 <= data.length; at += 24) {
    points.push({ intensity: data.readFloatLE(at + 12), angle: data.readFloatLE(at + 16), distance: data.readFloatLE(at + 20) });
  }
  return points;
}

// The log time of the first round of any device.
function firstRoundTime(messages, topicOf) {
  return messages.filter((message) => /\/(scan|tx710\/points)$/.test(topicOf(message)))[0].logTime;
}

async function checkRos2(reader, messages, devices, txts) {
  const frames = devices.map((device) => device.child);
  const topicOf = (message) => reader.channelsById.get(message.channelId).topic;
  const channelByTopic = new Map([...reader.channelsById.values()].map((channel) => [channel.topic, channel]));

  await check("channels: each device's /scan and /tx710/points, one /diagnostics, /tf_static latched", () => {
    const expected = ["/diagnostics", "/tf_static", ...frames.flatMap((f) => [`/${f}/scan`, `/${f}/tx710/points`])];
    assert.deepEqual([...channelByTopic.keys()].sort(), expected.sort());
    for (const channel of channelByTopic.values()) {
      const qos = channel.metadata.get("offered_qos_profiles").split("\n");
      const latched = channel.topic === "/tf_static";
      assert.ok(qos.includes(`  durability: ${latched ? "transient_local" : "volatile"}`), channel.topic);
      assert.ok(qos.includes(`  depth: ${latched ? 1 : 10}`), channel.topic);
    }
  });

  await check("/tf_static: tf2_msgs/msg/TFMessage with the official definitions", () => {
    const schema = reader.schemasById.get(channelByTopic.get("/tf_static").schemaId);
    assert.equal(schema.name, "tf2_msgs/msg/TFMessage");
    for (const { name, definitions } of parse(text(schema.data), { ros2: true })) {
      const type = name ?? "tf2_msgs/TFMessage";
      assert.deepEqual(JSON.parse(JSON.stringify(definitions)), JSON.parse(JSON.stringify(ros2jazzy[type].definitions)), type);
    }
  });

  const tf = messages.filter((message) => topicOf(message) === "/tf_static");
  await check("/tf_static: one message, at the first round's time, the devices' mounts", () => {
    assert.equal(tf.length, 1);
    assert.equal(tf[0].logTime, firstRoundTime(messages, topicOf));
    const body = new MessageReader(withDependencies("tf2_msgs/TFMessage")).readMessage(tf[0].data);
    assert.equal(body.transforms.length, devices.length);
    body.transforms.forEach((transform, i) => {
      assert.equal(transform.header.frame_id, "base_link");
      assert.equal(nanoseconds(transform.header.stamp), tf[0].logTime);
      assertTransform({ child: transform.child_frame_id, ...transform.transform }, devices[i], `transform ${i}`);
    });
    // The official writer gives the same bytes back.
    const again = new MessageWriter(withDependencies("tf2_msgs/TFMessage")).writeMessage(body);
    assert.deepEqual(Buffer.from(again), Buffer.from(tf[0].data));
  });

  await check("each device's scans and clouds decode and name its frame; its rounds equal its data file", () => {
    const scanReader = new MessageReader(withDependencies("sensor_msgs/LaserScan"));
    const cloudReader = new MessageReader(withDependencies("sensor_msgs/PointCloud2"));
    frames.forEach((frame, i) => {
      const rounds = new Map();
      for (const message of messages.filter((m) => topicOf(m) === `/${frame}/scan`)) {
        const scan = scanReader.readMessage(message.data);
        assert.equal(scan.header.frame_id, frame);
        assert.equal(scan.ranges.length, 450);
      }
      for (const message of messages.filter((m) => topicOf(m) === `/${frame}/tx710/points`)) {
        const cloud = cloudReader.readMessage(message.data);
        assert.equal(cloud.header.frame_id, frame);
        assert.equal(nanoseconds(cloud.header.stamp), message.logTime);
        rounds.set(message.sequence, pointsOf(Buffer.from(cloud.data.buffer, cloud.data.byteOffset, cloud.data.byteLength)));
      }
      assertRoundsEqual(rounds, txts[i], frame);
    });
  });

  await check("/diagnostics: one DiagnosticArray per device sample, named by its frame; a lost link is an ERROR", () => {
    const diagnosticsReader = new MessageReader(withDependencies("diagnostic_msgs/DiagnosticArray"));
    const seen = new Set();
    for (const message of messages.filter((m) => topicOf(m) === "/diagnostics")) {
      const body = diagnosticsReader.readMessage(message.data);
      assert.equal(body.status.length, 1);
      const [status] = body.status;
      assert.equal(status.name, "tx710: link");
      assert.equal(status.hardware_id, body.header.frame_id);
      assert.ok(frames.includes(status.hardware_id), status.hardware_id);
      seen.add(status.hardware_id);
      const values = Object.fromEntries(status.values.map(({ key, value }) => [key, value]));
      if ("link_down_s" in values) {
        assert.equal(status.level, 2);
        assert.equal(status.message, "link lost");
        assert.ok(Number(values.link_down_s) >= 0);
      }
    }
    assert.deepEqual([...seen].sort(), [...frames].sort());
  });
}

async function checkFoxglove(reader, messages, devices, txts) {
  const frames = devices.map((device) => device.child);
  const topicOf = (message) => reader.channelsById.get(message.channelId).topic;
  const channelByTopic = new Map([...reader.channelsById.values()].map((channel) => [channel.topic, channel]));

  await check("channels: each device's /scan and /tx710/status, /tf_static of foxglove.FrameTransform", () => {
    const expected = ["/tf_static", ...frames.flatMap((f) => [`/${f}/scan`, `/${f}/tx710/status`])];
    assert.deepEqual([...channelByTopic.keys()].sort(), expected.sort());
    const schema = reader.schemasById.get(channelByTopic.get("/tf_static").schemaId);
    assert.equal(schema.name, "foxglove.FrameTransform");
    // Our own schema text, with the official schema's fields.
    const ours = JSON.parse(text(schema.data));
    const official = foxgloveSchemas.FrameTransform;
    assert.deepEqual(Object.keys(ours.properties).sort(), Object.keys(official.properties).sort());
    for (const [name, property] of Object.entries(official.properties)) {
      assert.equal(ours.properties[name].type, property.type, name);
      if (property.properties) {
        assert.deepEqual(Object.keys(ours.properties[name].properties).sort(), Object.keys(property.properties).sort());
      }
    }
    assert.deepEqual([...ours.required].sort(), [...official.required].sort());
  });

  await check("/tf_static: one FrameTransform per device, at the first round's time, with the official schema's fields", () => {
    const tf = messages.filter((message) => topicOf(message) === "/tf_static");
    assert.equal(tf.length, devices.length);
    tf.forEach((message, i) => {
      assert.equal(message.logTime, firstRoundTime(messages, topicOf));
      const body = JSON.parse(text(message.data));
      assert.deepEqual(Object.keys(body).sort(), [...foxgloveSchemas.FrameTransform.required].sort());
      assert.equal(body.parent_frame_id, "base_link");
      assert.equal(nanoseconds(body.timestamp), message.logTime);
      assertTransform({ child: body.child_frame_id, ...body }, devices[i], `transform ${i}`);
    });
  });

  await check("each device's point clouds name its frame; its rounds equal its data file", () => {
    frames.forEach((frame, i) => {
      const rounds = new Map();
      for (const message of messages.filter((m) => topicOf(m) === `/${frame}/scan`)) {
        const cloud = JSON.parse(text(message.data));
        assert.equal(cloud.frame_id, frame);
        rounds.set(message.sequence, pointsOf(Buffer.from(cloud.data, "base64")));
      }
      assertRoundsEqual(rounds, txts[i], frame);
      assert.ok(messages.some((m) => topicOf(m) === `/${frame}/tx710/status`), `${frame}: a status`);
    });
  });
}

async function main() {
  const [folder, name, ...mounts] = process.argv.slice(2);
  if (!folder || !name || mounts.length < 2) {
    throw new Error("usage: node check_multi.js FOLDER NAME FRAME=X,Y,Z,YAW FRAME=X,Y,Z,YAW...");
  }
  const devices = mounts.map((mount) => {
    const [frame, values] = mount.split("=");
    return expectedTransform(frame, values.split(",").map(Number));
  });
  const txts = devices.map((device) => readTxt(path.join(folder, `${name}-${device.child}.txt`)));
  const mcapPath = path.join(folder, `${name}.mcap`);
  const handle = await fs.promises.open(mcapPath, "r");
  try {
    const decompressHandlers = await loadDecompressHandlers();
    const reader = await McapIndexedReader.Initialize({ readable: new FileHandleReadable(handle), decompressHandlers });
    const messages = [];
    for await (const message of reader.readMessages()) messages.push(message);
    await (reader.header.profile === "ros2" ? checkRos2 : checkFoxglove)(reader, messages, devices, txts);
  } finally {
    await handle.close();
  }
}

main()
  .catch(crashed)
  .finally(() => finish("multi"));
