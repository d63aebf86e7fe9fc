// Checks what the Fast DDS subscriber (dds_subscriber) received from --ros2,
// its bytes decoded by the official ROS 2 CDR reader with the official message
// definitions: the DDS type names, plain CDR, and
// - with RUN_DIR/a.mcap (tx710-record's run): every message equal field for
//   field to the one of the same stamp in the recording, none missing while
//   subscribed (/tf_static: equal but for the stamp, which each output takes
//   at its own start);
// - with RUN_DIR/published.txt (dds_publish_devices' run): as many messages as
//   were published, /tf_static included although the subscriber joined after
//   it was written;
// - with the devices (FRAME[:X,Y,Z,YAW], in their order): each device's
//   topics carry its frame id, each status its device's, and /tf_static holds
//   base_link -> each frame as mounted, stamped before any scan.
//
// Usage: node check_dds.js SUBSCRIBER_DIR RUN_DIR [FRAME[:X,Y,Z,YAW]...]
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const { McapIndexedReader } = require("@mcap/core");
const { FileHandleReadable } = require("@mcap/nodejs");
const { loadDecompressHandlers } = require("@mcap/support");
const { MessageReader } = require("@foxglove/rosmsg2-serialization");
const { ros2jazzy } = require("@foxglove/rosmsg-msgs-common");
const { checker } = require("./checks");

const { check, crashed, finish } = checker();

// The root definition first, then every type it uses, as the reader wants them.
function definitionsOf(root) {
  const found = new Map();
  const visit = (name) => {
    if (found.has(name)) return;
    const definition = ros2jazzy[name];
    assert.ok(definition, `no official definition of ${name}`);
    found.set(name, definition);
    for (const field of definition.definitions) if (field.isComplex) visit(field.type);
  };
  visit(root);
  return [...found.values()];
}

// The subscriber's <topic>.bin: 4-byte little-endian length, then the bytes.
function readSamples(file) {
  const bytes = fs.readFileSync(file);
  const samples = [];
  for (let at = 0; at < bytes.length; ) {
    const length = bytes.readUInt32LE(at);
    samples.push(bytes.subarray(at + 4, at + 4 + length));
    at += 4 + length;
  }
  return samples;
}

// Typed arrays as plain arrays, so that one deep comparison covers both forms.
function plain(value) {
  if (ArrayBuffer.isView(value)) return Array.from(value);
  if (Array.isArray(value)) return value.map(plain);
  if (value && typeof value === "object") return Object.fromEntries(Object.entries(value).map(([k, v]) => [k, plain(v)]));
  return value;
}

// Equal field for field (NaN equal to NaN), naming the first field that is not.
function same(a, b, where = "") {
  if (typeof a === "number" && typeof b === "number") {
    if (!Object.is(a, b)) throw new Error(`${where}: ${a} != ${b}`);
    return;
  }
  if (Array.isArray(a) || (a && typeof a === "object")) {
    assert.deepEqual(Object.keys(a), Object.keys(b), `${where}: fields`);
    for (const key of Object.keys(a)) same(a[key], b[key], `${where}.${key}`);
    return;
  }
  assert.equal(a, b, where);
}

function stampKey(message) {
  return `${message.header.stamp.sec}.${String(message.header.stamp.nanosec).padStart(9, "0")}`;
}

// The messages of one topic in a.mcap, decoded with the official definitions;
// none when the file has no such topic.
async function recorded(mcapPath, topic, type) {
  const handle = await fs.promises.open(mcapPath, "r");
  try {
    const reader = await McapIndexedReader.Initialize({
      readable: new FileHandleReadable(handle),
      decompressHandlers: await loadDecompressHandlers(),
    });
    const channel = [...reader.channelsById.values()].find((c) => c.topic === topic);
    if (!channel) return [];
    const schema = reader.schemasById.get(channel.schemaId);
    assert.equal(schema?.name, type.replace("/", "/msg/"), `a.mcap's ${topic} is a ROS 2 ${type}`);
    const decoder = new MessageReader(definitionsOf(type));
    const messages = [];
    for await (const message of reader.readMessages({ topics: [topic] }))
      messages.push(plain(decoder.readMessage(message.data)));
    return messages;
  } finally {
    await handle.close();
  }
}

// The subscriber's files by their last name.
const TYPES = {
  scan: { type: "sensor_msgs/LaserScan", dds: "sensor_msgs::msg::dds_::LaserScan_" },
  points: { type: "sensor_msgs/PointCloud2", dds: "sensor_msgs::msg::dds_::PointCloud2_" },
  diagnostics: { type: "diagnostic_msgs/DiagnosticArray", dds: "diagnostic_msgs::msg::dds_::DiagnosticArray_" },
  tf_static: { type: "tf2_msgs/TFMessage", dds: "tf2_msgs::msg::dds_::TFMessage_" },
};

// FRAME:X,Y,Z,YAW, or FRAME for a device without a mount (at the origin).
function parseDevice(text) {
  const match = /^([^:]+)(?::([^,]+),([^,]+),([^,]+),([^,]+))?$/.exec(text);
  if (!match) throw new Error(`a device is FRAME[:X,Y,Z,YAW], not ${text}`);
  const [x, y, z, yaw] = match.slice(2).map((value) => Number(value ?? 0));
  return { frame: match[1], mounted: match[2] !== undefined, x, y, z, yaw };
}

function readLines(file) {
  return fs.existsSync(file) ? fs.readFileSync(file, "utf8").split("\n").filter((line) => line) : [];
}

function near(actual, expected, where) {
  if (!(Math.abs(actual - expected) <= 1e-9)) throw new Error(`${where}: ${actual}, expected ${expected}`);
}

function withoutStamps(message) {
  return { transforms: message.transforms.map((t) => ({ ...t, header: { ...t.header, stamp: null } })) };
}

async function checkTopic(received, run, devices, file, topic, decodedOf) {
  const { type, dds } = TYPES[path.basename(file)];
  const samples = readSamples(path.join(received, `${file}.bin`));
  const reader = new MessageReader(definitionsOf(type));
  const decoded = samples.map((bytes) => plain(reader.readMessage(bytes)));
  decodedOf[file] = decoded;
  const mcapPath = path.join(run, "a.mcap");
  const recordedTopic = topic.slice("rt".length);
  const messages = fs.existsSync(mcapPath) ? await recorded(mcapPath, recordedTopic, type) : null;
  const published = readLines(path.join(run, "published.txt")).find((line) => line.startsWith(`${file} `));
  const expected = messages ? Math.min(messages.length, 1) : Number(published?.split(" ")[1] ?? 1);
  const writers = fs.readFileSync(path.join(received, "writers.txt"), "utf8").split("\n");

  await check(`${topic}: ${expected ? "the writer is seen" : "no writer"} as type ${dds}`, () => {
    assert.equal(writers.includes(`${topic} ${dds}`), expected > 0, writers.join("\n"));
  });
  if (!expected) return;
  await check(`${topic}: plain CDR, little-endian (XCDR1)`, () => {
    assert.ok(samples.length > 0, "nothing received");
    for (const bytes of samples) assert.deepEqual([bytes[0], bytes[1]], [0, 1]);
  });
  if (messages && file === "tf_static") {
    await check(`${topic}: the message equals a.mcap's but for the stamps`, () => {
      assert.equal(decoded.length, 1);
      same(withoutStamps(decoded[0]), withoutStamps(messages[0]), "tf_static");
    });
  } else if (messages) {
    await check(`${topic}: each message equals a.mcap's of the same stamp, none missing while subscribed`, () => {
      const first = messages.findIndex((message) => stampKey(message) === stampKey(decoded[0]));
      assert.ok(first >= 0, `no message of a.mcap has the first received stamp ${stampKey(decoded[0])}`);
      decoded.forEach((message, i) => same(message, messages[first + i], `${i}, recorded ${first + i + 1}`));
      console.log(`     received ${decoded.length} of the file's ${messages.length}, from number ${first + 1}`);
    });
  } else {
    await check(`${topic}: every published message received`, () => assert.equal(decoded.length, expected));
  }
  const device = devices.find((d) => file === `${d.frame}/${path.basename(file)}`) ?? (devices.length === 1 ? devices[0] : null);
  if (device && file !== "diagnostics" && file !== "tf_static") {
    await check(`${topic}: every header has the frame id ${device.frame}`, () => {
      assert.deepEqual([...new Set(decoded.map((message) => message.header.frame_id))], [device.frame]);
    });
  }
  if (devices.length > 0 && file === "diagnostics") {
    await check(`${topic}: a status of each device, its frame id in the header and as hardware id`, () => {
      const frames = decoded.map((message) => `${message.header.frame_id}/${message.status.map((s) => s.hardware_id)}`);
      assert.deepEqual([...new Set(frames)].sort(), devices.map((d) => `${d.frame}/${d.frame}`).sort());
    });
  }
}

async function checkTransforms(devices, decodedOf) {
  await check("rt/tf_static: base_link -> each device as mounted, stamped before its first scan", () => {
    const [message] = decodedOf.tf_static;
    assert.deepEqual(
      message.transforms.map((t) => `${t.header.frame_id} -> ${t.child_frame_id}`),
      devices.map((d) => `base_link -> ${d.frame}`),
    );
    devices.forEach((device, i) => {
      const { header, transform } = message.transforms[i];
      const { translation: t, rotation: q } = transform;
      const half = (device.yaw * Math.PI) / 360;
      [t.x, t.y, t.z].forEach((value, k) => near(value, [device.x, device.y, device.z][k], `${device.frame} translation`));
      [q.x, q.y, q.z, q.w].forEach((value, k) => near(value, [0, 0, Math.sin(half), Math.cos(half)][k], `${device.frame} rotation`));
      const scans = decodedOf[devices.length > 1 ? `${device.frame}/scan` : "scan"];
      assert.ok(stampKey({ header }) <= stampKey(scans[0]), `${stampKey({ header })} after ${stampKey(scans[0])}`);
    });
  });
}

async function main() {
  const [received, run, ...deviceArgs] = process.argv.slice(2);
  if (!received || !run) throw new Error("usage: node check_dds.js SUBSCRIBER_DIR RUN_DIR [FRAME[:X,Y,Z,YAW]...]");
  const devices = deviceArgs.map(parseDevice);
  const decodedOf = {};
  for (const line of readLines(path.join(received, "topics.txt"))) {
    const [file, topic] = line.split(" ");
    await checkTopic(received, run, devices, file, topic, decodedOf);
  }
  if (devices.length > 1 || devices[0]?.mounted) await checkTransforms(devices, decodedOf);
}

main()
  .catch(crashed)
  .finally(() => finish("DDS interop"));
