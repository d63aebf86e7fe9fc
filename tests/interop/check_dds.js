// Checks what the Fast DDS subscriber (dds_subscriber) received from
// tx710-record --ros2, its bytes decoded by the official ROS 2 CDR reader
// with the official message definitions: the DDS type names, and every scan,
// point cloud and diagnostics message equal field for field to the one of
// the same stamp in the recording of the same run, none missing while
// subscribed.
//
// Usage: node check_dds.js SUBSCRIBER_DIR RUN_DIR
//   RUN_DIR holds the a.mcap of the recorder's run.
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

// The messages of one topic in a.mcap, decoded with the official definitions.
async function recorded(mcapPath, topic, type) {
  const handle = await fs.promises.open(mcapPath, "r");
  try {
    const reader = await McapIndexedReader.Initialize({
      readable: new FileHandleReadable(handle),
      decompressHandlers: await loadDecompressHandlers(),
    });
    const channel = [...reader.channelsById.values()].find((c) => c.topic === topic);
    const schema = channel && reader.schemasById.get(channel.schemaId);
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

const TOPICS = [
  { file: "scan", topic: "rt/scan", recorded: "/scan", type: "sensor_msgs/LaserScan", dds: "sensor_msgs::msg::dds_::LaserScan_" },
  { file: "points", topic: "rt/tx710/points", recorded: "/tx710/points", type: "sensor_msgs/PointCloud2", dds: "sensor_msgs::msg::dds_::PointCloud2_" },
  {
    file: "diagnostics",
    topic: "rt/diagnostics",
    recorded: "/diagnostics",
    type: "diagnostic_msgs/DiagnosticArray",
    dds: "diagnostic_msgs::msg::dds_::DiagnosticArray_",
  },
];

async function main() {
  const [received, run] = process.argv.slice(2);
  if (!received || !run) throw new Error("usage: node check_dds.js SUBSCRIBER_DIR RUN_DIR");
  for (const { file, topic, type, dds, recorded: recordedTopic } of TOPICS) {
    const samples = readSamples(path.join(received, `${file}.bin`));
    const reader = new MessageReader(definitionsOf(type));
    const decoded = samples.map((bytes) => plain(reader.readMessage(bytes)));

    await check(`${topic}: the writer is seen as type ${dds}`, () => {
      const writers = fs.readFileSync(path.join(received, "writers.txt"), "utf8").split("\n");
      assert.ok(writers.includes(`${topic} ${dds}`), writers.join("\n"));
    });
    await check(`${topic}: plain CDR, little-endian (XCDR1)`, () => {
      assert.ok(samples.length > 0, "nothing received");
      for (const bytes of samples) assert.deepEqual([bytes[0], bytes[1]], [0, 1]);
    });
    await check(`${topic}: each message equals a.mcap's of the same stamp, none missing while subscribed`, async () => {
      const messages = await recorded(path.join(run, "a.mcap"), recordedTopic, type);
      const first = messages.findIndex((message) => stampKey(message) === stampKey(decoded[0]));
      assert.ok(first >= 0, `no message of a.mcap has the first received stamp ${stampKey(decoded[0])}`);
      decoded.forEach((message, i) => same(message, messages[first + i], `${i}, recorded ${first + i + 1}`));
      console.log(`     received ${decoded.length} of the file's ${messages.length}, from number ${first + 1}`);
    });
  }
}

main()
  .catch(crashed)
  .finally(() => finish("DDS interop"));
