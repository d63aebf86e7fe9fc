// Reads NAME.mcap of a folder (either profile) with the official MCAP readers
// and compares every point with NAME.csv and NAME.txt written from the same rounds:
//   node check_recording.js FOLDER [NAME]
// Prints one line per check and "interop: N passed, M failed"; exits 1 on a failure.
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const zlib = require("node:zlib");
const { McapIndexedReader, McapStreamReader } = require("@mcap/core");
const { FileHandleReadable } = require("@mcap/nodejs");
const { loadDecompressHandlers } = require("@mcap/support");
const foxgloveSchemas = require("@foxglove/schemas/jsonschema");

const { POINT_FIELDS, checker, readTxt } = require("./checks");
const { checkRos2Recording } = require("./ros2_checks");

const { check, crashed, finish } = checker();

// Rows of the CSV file, grouped by round number, in file order.
function readCsv(file) {
  const lines = fs.readFileSync(file, "utf8").split("\n");
  assert.equal(lines.shift(), "round,time,angle_deg,distance_mm,intensity,x_m,y_m");
  assert.equal(lines.pop(), "", "the CSV ends with a line feed");
  const rounds = new Map();
  for (const line of lines) {
    const [round, time, angle, distance, intensity, x, y] = line.split(",");
    if (!rounds.has(round)) rounds.set(round, []);
    rounds.get(round).push({ time, angle, distance, intensity, x, y });
  }
  return rounds;
}

// "sec.micro" as the CSV writes a time in nanoseconds.
function csvTime(ns) {
  return `${ns / 1000000000n}.${String((ns % 1000000000n) / 1000n).padStart(6, "0")}`;
}

async function main() {
  if (typeof zlib.crc32 !== "function") throw new Error(`node ${process.version} is too old: 20.15 or later is needed`);
  const folder = process.argv[2];
  const name = process.argv[3] ?? "a";
  if (!folder) throw new Error("usage: node check_recording.js FOLDER [NAME]");
  const mcapPath = path.join(folder, `${name}.mcap`);
  const bytes = fs.readFileSync(mcapPath);
  const csv = readCsv(path.join(folder, `${name}.csv`));
  const txt = readTxt(path.join(folder, `${name}.txt`));
  const decompressHandlers = await loadDecompressHandlers();
  const handle = await fs.promises.open(mcapPath, "r");
  const reader = await McapIndexedReader.Initialize({ readable: new FileHandleReadable(handle), decompressHandlers });
  await checkContainer(bytes, reader, decompressHandlers);
  if (reader.header.profile === "ros2") {
    const messages = [];
    for await (const message of reader.readMessages()) messages.push(message);
    await checkRos2Recording({ check, reader, messages, csv, txt });
  } else {
    await checkFoxgloveRecording(reader, csv, txt);
  }
  await handle.close();
}

// What every recording must be, whatever its profile.
async function checkContainer(bytes, reader, decompressHandlers) {
  const messages = [];
  for await (const message of reader.readMessages()) messages.push(message);

  await check("statistics count what the file holds", () => {
    const stats = reader.statistics;
    assert.equal(stats.messageCount, BigInt(messages.length));
    assert.equal(stats.schemaCount, reader.schemasById.size);
    assert.equal(stats.channelCount, reader.channelsById.size);
    for (const channel of reader.channelsById.values()) {
      const count = messages.filter((message) => message.channelId === channel.id).length;
      assert.equal(stats.channelMessageCounts.get(channel.id), BigInt(count), channel.topic);
    }
    assert.equal(stats.chunkCount, reader.chunkIndexes.length);
    const times = messages.map((message) => message.logTime);
    assert.equal(stats.messageStartTime, times.reduce((a, b) => (a < b ? a : b)));
    assert.equal(stats.messageEndTime, times.reduce((a, b) => (a > b ? a : b)));
  });

  await check("summary: offsets, data section checksum, zstd chunks of at most a second", () => {
    assert.deepEqual(
      [...reader.summaryOffsetsByOpcode.keys()].sort((a, b) => a - b),
      [0x03, 0x04, 0x08, 0x0b],
    );
    const dataEnd = Number(reader.footer.summaryStart) - 13;
    assert.equal(bytes[dataEnd], 0x0f);
    assert.equal(reader.dataSectionCrc, zlib.crc32(bytes.subarray(0, dataEnd)));
    assert.ok(reader.chunkIndexes.length > 1);
    for (const chunk of reader.chunkIndexes) {
      assert.equal(chunk.compression, "zstd");
      assert.ok(chunk.messageEndTime - chunk.messageStartTime <= 1000000000n);
    }
  });

  await check("the stream reader reads the file front to back", () => {
    const stream = new McapStreamReader({ decompressHandlers });
    stream.append(bytes);
    const kinds = [];
    for (let record; (record = stream.nextRecord()); ) kinds.push(record.type);
    assert.ok(stream.done());
    assert.equal(kinds[0], "Header");
    assert.equal(kinds[kinds.length - 1], "Footer");
    assert.equal(kinds.filter((kind) => kind === "Message").length, messages.length);
  });

  await check("reading by time gives the rounds inside the window", async () => {
    const scans = messages.filter((message) => reader.channelsById.get(message.channelId).topic === "/scan");
    assert.ok(scans.length >= 60);
    const seek = async (startTime, endTime) => {
      const sequences = [];
      for await (const message of reader.readMessages({ topics: ["/scan"], startTime, endTime })) {
        sequences.push(message.sequence);
      }
      return sequences;
    };
    const expected = scans.slice(30, 60).map((message) => message.sequence);
    assert.deepEqual(await seek(scans[30].logTime, scans[59].logTime), expected);
    assert.deepEqual(await seek(scans[30].logTime + 1n, scans[59].logTime - 1n), expected.slice(1, -1));
  });
}

async function checkFoxgloveRecording(reader, csv, txt) {

  const channelByTopic = new Map([...reader.channelsById.values()].map((channel) => [channel.topic, channel]));
  const scan = channelByTopic.get("/scan");
  const status = channelByTopic.get("/tx710/status");

  await check("header names the writer", () => {
    assert.equal(reader.header.profile, "");
    assert.equal(reader.header.library, "tx710-record");
  });

  await check("schemas: the package's foxglove.PointCloud and our tx710.Status", () => {
    const scanSchema = reader.schemasById.get(scan.schemaId);
    assert.equal(scanSchema.name, "foxglove.PointCloud");
    assert.equal(scanSchema.encoding, "jsonschema");
    assert.deepEqual(JSON.parse(Buffer.from(scanSchema.data).toString("utf8")), foxgloveSchemas.PointCloud);
    const statusSchema = reader.schemasById.get(status.schemaId);
    assert.equal(statusSchema.name, "tx710.Status");
    assert.equal(statusSchema.encoding, "jsonschema");
    assert.equal(JSON.parse(Buffer.from(statusSchema.data).toString("utf8")).title, "tx710.Status");
  });

  await check("channels: /scan and /tx710/status in JSON", () => {
    assert.equal(reader.channelsById.size, 2);
    assert.equal(scan.messageEncoding, "json");
    assert.equal(status.messageEncoding, "json");
  });

  const scans = [];
  const statuses = [];
  for await (const message of reader.readMessages()) {
    (message.channelId === scan.id ? scans : statuses).push(message);
  }

  await check("every point equals the CSV's and the text file's", () => {
    assert.equal(scans.length, csv.size);
    assert.equal(txt.size, csv.size);
    let points = 0;
    for (const message of scans) {
      const round = String(message.sequence);
      const rows = csv.get(round);
      const lines = txt.get(round);
      assert.ok(rows && lines, `round ${round} is in the CSV and the text file`);
      const cloud = JSON.parse(Buffer.from(message.data).toString("utf8"));
      assert.equal(cloud.frame_id, "tx710");
      assert.deepEqual(cloud.pose, { position: { x: 0, y: 0, z: 0 }, orientation: { x: 0, y: 0, z: 0, w: 1 } });
      assert.equal(cloud.point_stride, 24);
      assert.deepEqual(cloud.fields, POINT_FIELDS);
      assert.equal(BigInt(cloud.timestamp.sec) * 1000000000n + BigInt(cloud.timestamp.nsec), message.logTime);
      assert.equal(message.publishTime, message.logTime);
      const data = Buffer.from(cloud.data, "base64");
      assert.equal(data.length, 24 * rows.length);
      assert.equal(lines.length, rows.length);
      rows.forEach((row, i) => {
        const at = 24 * i;
        const [x, y, z, intensity, angle, distance] = [0, 4, 8, 12, 16, 20].map((o) => data.readFloatLE(at + o));
        const where = `round ${round} point ${i}`;
        assert.equal(row.time, csvTime(message.logTime), where);
        assert.equal(x, Math.fround(Number(row.x)), `${where}: x`);
        assert.equal(y, Math.fround(Number(row.y)), `${where}: y`);
        assert.equal(z, 0, `${where}: z`);
        for (const [name, value] of [["angle", angle], ["distance", distance], ["intensity", intensity]]) {
          assert.equal(value, Math.fround(Number(row[name])), `${where}: ${name} (CSV)`);
          assert.equal(value, Math.fround(Number(lines[i][name])), `${where}: ${name} (text file)`);
        }
        // x forward, y left; angles grow clockwise seen from above.
        const radians = (angle * Math.PI) / 180;
        assert.ok(Math.abs(x - (distance / 1000) * Math.cos(radians)) < 2e-6, `${where}: x from the polar values`);
        assert.ok(Math.abs(y + (distance / 1000) * Math.sin(radians)) < 2e-6, `${where}: y from the polar values`);
        points += 1;
      });
    }
    assert.ok(points > 0);
  });

  await check("status messages carry the figures once a second", () => {
    assert.ok(statuses.length > 0);
    for (const message of statuses) {
      const figures = JSON.parse(Buffer.from(message.data).toString("utf8"));
      for (const key of ["frames_per_second", "rpm", "points_per_second"]) assert.equal(typeof figures[key], "number");
      assert.ok(Number.isInteger(figures.crc_rejects));
      assert.equal(BigInt(figures.timestamp.sec) * 1000000000n + BigInt(figures.timestamp.nsec), message.logTime);
    }
  });

}

main()
  .catch(crashed)
  .finally(() => finish("interop"));
