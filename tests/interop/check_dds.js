// Checks what the Fast DDS subscriber (dds_subscriber) received from
// tx710-record --ros2: every sample's bytes decoded by the official ROS 2 CDR
// reader with the official message definitions equal what Fast DDS decoded
// with the types generated from our IDL (a field out of order or of another
// type in the IDL tells them apart); the point clouds are the rounds of the data file written in the same
// run, none missing while subscribed; every scan equals the recording's
// LaserScan of the same round.
//
// Usage: node check_dds.js SUBSCRIBER_DIR RUN_DIR
//   RUN_DIR holds a.txt and a.mcap of the recorder's run.
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

const NON_FINITE = { NaN: NaN, Infinity: Infinity, "-Infinity": -Infinity };
function readTyped(file) {
  return fs
    .readFileSync(file, "utf8")
    .split("\n")
    .filter((line) => line !== "")
    .map((line) => JSON.parse(line, (key, value) => (value in NON_FINITE ? NON_FINITE[value] : value)));
}

// Typed arrays as plain arrays, so that one deep comparison covers both forms.
function plain(value) {
  if (ArrayBuffer.isView(value)) return Array.from(value);
  if (Array.isArray(value)) return value.map(plain);
  if (value && typeof value === "object") return Object.fromEntries(Object.entries(value).map(([k, v]) => [k, plain(v)]));
  return value;
}

// Equal, a float32 given in 9 significant digits counting as its float.
function same(a, b, where = "") {
  if (typeof a === "number" && typeof b === "number") {
    if (!(Object.is(a, b) || Math.fround(a) === b || Math.fround(b) === a)) throw new Error(`${where}: ${a} != ${b}`);
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

function readTxt(file) {
  const lines = fs.readFileSync(file, "utf8").split("\n").slice(1, -1);
  const rounds = [];
  for (const line of lines) {
    const [round, angle, distance, intensity] = line.split(" ");
    if (rounds.length < Number(round)) rounds.push([]);
    rounds[rounds.length - 1].push(`${angle} ${distance} ${intensity}`);
  }
  return rounds;
}

async function recordedScans(mcapPath) {
  const handle = await fs.promises.open(mcapPath, "r");
  try {
    const reader = await McapIndexedReader.Initialize({
      readable: new FileHandleReadable(handle),
      decompressHandlers: await loadDecompressHandlers(),
    });
    const channel = [...reader.channelsById.values()].find((c) => c.topic === "/scan");
    const schema = channel && reader.schemasById.get(channel.schemaId);
    assert.equal(schema?.name, "sensor_msgs/msg/LaserScan", "a.mcap's /scan is a ROS 2 LaserScan");
    const decoder = new MessageReader(definitionsOf("sensor_msgs/LaserScan"));
    const scans = [];
    for await (const message of reader.readMessages({ topics: ["/scan"] })) scans.push(plain(decoder.readMessage(message.data)));
    return scans;
  } finally {
    await handle.close();
  }
}

const TOPICS = [
  { file: "scan", topic: "rt/scan", type: "sensor_msgs/LaserScan", dds: "sensor_msgs::msg::dds_::LaserScan_" },
  { file: "points", topic: "rt/tx710/points", type: "sensor_msgs/PointCloud2", dds: "sensor_msgs::msg::dds_::PointCloud2_" },
  {
    file: "diagnostics",
    topic: "rt/diagnostics",
    type: "diagnostic_msgs/DiagnosticArray",
    dds: "diagnostic_msgs::msg::dds_::DiagnosticArray_",
  },
];

async function main() {
  const [received, run] = process.argv.slice(2);
  if (!received || !run) throw new Error("usage: node check_dds.js SUBSCRIBER_DIR RUN_DIR");
  const decoded = {};
  for (const { file, topic, type, dds } of TOPICS) {
    const samples = readSamples(path.join(received, `${file}.bin`));
    const typed = readTyped(path.join(received, `${file}.jsonl`));
    const reader = new MessageReader(definitionsOf(type));
    decoded[file] = samples.map((bytes) => plain(reader.readMessage(bytes)));

    await check(`${topic}: the writer is seen as type ${dds}`, () => {
      const writers = fs.readFileSync(path.join(received, "writers.txt"), "utf8").split("\n");
      assert.ok(writers.includes(`${topic} ${dds}`), writers.join("\n"));
    });
    await check(`${topic}: samples arrived`, () => assert.ok(samples.length > 0 && typed.length === samples.length));
    await check(`${topic}: plain CDR, little-endian (XCDR1)`, () => {
      for (const bytes of samples) assert.deepEqual([bytes[0], bytes[1]], [0, 1]);
    });
    await check(`${topic}: the official CDR reader decodes what Fast DDS decoded`, () => {
      typed.forEach((message, i) => same(decoded[file][i], message, `${topic}[${i}]`));
    });
  }

  await check("rt/tx710/points: the rounds of a.txt, in order, none missing while subscribed", () => {
    const rounds = readTxt(path.join(run, "a.txt"));
    const clouds = decoded.points.map((cloud) => {
      const view = Buffer.from(cloud.data);
      const points = [];
      for (let at = 0; at < cloud.row_step; at += cloud.point_step) {
        const angle = view.readFloatLE(at + 16).toFixed(3);
        points.push(`${angle} ${view.readFloatLE(at + 20)} ${view.readFloatLE(at + 12)}`);
      }
      return points;
    });
    const first = rounds.findIndex((round) => round.join() === clouds[0].join());
    assert.ok(first >= 0, "the first cloud received is no round of a.txt");
    clouds.forEach((points, i) => assert.deepEqual(points, rounds[first + i], `cloud ${i}, round ${first + i + 1}`));
    console.log(`     clouds received: ${clouds.length} of the file's ${rounds.length} rounds, from round ${first + 1}`);
  });

  await check("rt/scan: each scan equals a.mcap's LaserScan of its round, none missing while subscribed", async () => {
    const recorded = await recordedScans(path.join(run, "a.mcap"));
    const first = recorded.findIndex((scan) => stampKey(scan) === stampKey(decoded.scan[0]));
    assert.ok(first >= 0, `no scan of a.mcap has the first received stamp ${stampKey(decoded.scan[0])}`);
    decoded.scan.forEach((scan, i) => same(scan, recorded[first + i], `scan ${i}, recorded ${first + i + 1}`));
    console.log(`     scans received: ${decoded.scan.length} of the file's ${recorded.length}, from round ${first + 1}`);
  });
}

main()
  .catch(crashed)
  .finally(() => finish("DDS interop"));
