// The checks of a ROS 2 recording (profile "ros2"), against the official ROS 2
// definitions (@foxglove/rosmsg-msgs-common), the official .msg parser
// (@foxglove/rosmsg) and the official CDR reader (@foxglove/rosmsg2-serialization).
"use strict";

const assert = require("node:assert/strict");
const { parse } = require("@foxglove/rosmsg");
const { MessageReader } = require("@foxglove/rosmsg2-serialization");
const { ros2jazzy } = require("@foxglove/rosmsg-msgs-common");

const TOPICS = {
  "/scan": "sensor_msgs/msg/LaserScan",
  "/tx710/points": "sensor_msgs/msg/PointCloud2",
  "/diagnostics": "diagnostic_msgs/msg/DiagnosticArray",
};
const BEAMS = 450;
const FLOAT32 = 7; // sensor_msgs/PointField
const POINT_FIELDS = ["x", "y", "z", "intensity", "angle", "distance"].map((name, i) => ({
  name,
  offset: 4 * i,
  datatype: FLOAT32,
  count: 1,
}));
const f32 = Math.fround;

// "sensor_msgs/msg/LaserScan" -> "sensor_msgs/LaserScan", as the definitions name types.
const shortName = (type) => type.replace("/msg/", "/");

// A reader built from the official definitions only: the type and every type it uses.
function officialReader(type) {
  const root = ros2jazzy[shortName(type)];
  return new MessageReader([{ definitions: root.definitions }, ...Object.values(ros2jazzy)]);
}

// Field lists without the keys the parser leaves undefined.
const plain = (definitions) => JSON.parse(JSON.stringify(definitions));

const nanoseconds = (time) => BigInt(time.sec) * 1000000000n + BigInt(time.nanosec);

// The beams a point may fall in: the nearest to its bearing, and its
// neighbour when the bearing lies within float noise of the midpoint.
function beamsOf(x, y, increment) {
  const at = (Math.atan2(y, x) + Math.PI) / increment;
  const nearest = Math.round(at);
  const beams = [((nearest % BEAMS) + BEAMS) % BEAMS];
  if (Math.abs(Math.abs(at - Math.trunc(at)) - 0.5) < 1e-3) {
    const other = at > nearest ? nearest + 1 : nearest - 1;
    beams.push(((other % BEAMS) + BEAMS) % BEAMS);
  }
  return beams;
}

async function checkRos2Recording({ check, reader, messages, csv, txt }) {
  const channelByTopic = new Map([...reader.channelsById.values()].map((channel) => [channel.topic, channel]));
  const byTopic = (topic) => messages.filter((message) => message.channelId === channelByTopic.get(topic).id);

  await check("header: the ros2 profile", () => {
    assert.equal(reader.header.profile, "ros2");
    assert.equal(reader.header.library, "tx710-record");
  });

  await check("channels: the three topics in CDR, with the QoS rosbag2 plays back", () => {
    assert.deepEqual([...channelByTopic.keys()].sort(), Object.keys(TOPICS).sort());
    for (const channel of channelByTopic.values()) {
      assert.equal(channel.messageEncoding, "cdr");
      assert.deepEqual([...channel.metadata.keys()], ["offered_qos_profiles"]);
      const qos = channel.metadata.get("offered_qos_profiles");
      for (const line of ["- history: keep_last", "  reliability: reliable", "  durability: volatile"]) {
        assert.ok(qos.split("\n").includes(line), `${channel.topic}: ${line}`);
      }
    }
  });

  await check("schemas: ros2msg texts equal to the official definitions, field for field", () => {
    for (const [topic, type] of Object.entries(TOPICS)) {
      const schema = reader.schemasById.get(channelByTopic.get(topic).schemaId);
      assert.equal(schema.name, type);
      assert.equal(schema.encoding, "ros2msg");
      const text = Buffer.from(schema.data).toString("utf8");
      const parsed = parse(text, { ros2: true });
      assert.deepEqual(plain(parsed[0].definitions), plain(ros2jazzy[shortName(type)].definitions), type);
      for (const { name, definitions } of parsed.slice(1)) {
        assert.deepEqual(plain(definitions), plain(ros2jazzy[name].definitions), `${type}: ${name}`);
      }
      assert.ok(text.includes(`\n${"=".repeat(80)}\nMSG: std_msgs/Header\n`), `${type}: Header after its separator`);
    }
  });

  const decoded = {};
  await check("every message decodes with the official CDR reader and definitions", () => {
    for (const [topic, type] of Object.entries(TOPICS)) {
      const read = officialReader(type);
      decoded[topic] = byTopic(topic).map((message) => ({ message, body: read.readMessage(message.data) }));
    }
    assert.ok(decoded["/diagnostics"].length > 0);
  });

  const scans = decoded["/scan"];
  const clouds = decoded["/tx710/points"];
  await check(`/scan: one LaserScan of ${BEAMS} beams per round, a full turn counter-clockwise`, () => {
    assert.equal(scans.length, csv.size);
    assert.equal(clouds.length, csv.size);
    for (const { message, body } of scans) {
      const where = `scan ${message.sequence}`;
      assert.equal(body.header.frame_id, "tx710", where);
      assert.equal(body.ranges.length, BEAMS, where);
      assert.equal(body.intensities.length, BEAMS, where);
      assert.equal(body.angle_min, f32(-Math.PI), where);
      assert.equal(body.angle_increment, f32((2 * Math.PI) / BEAMS), where);
      assert.ok(Math.abs(body.angle_max - (body.angle_min + (BEAMS - 1) * body.angle_increment)) < 1e-5, where);
      assert.equal(body.range_min, f32(0.001), where);
      assert.equal(body.range_max, f32(65.535), where);
      body.ranges.forEach((range, i) => {
        if (!Number.isFinite(range)) assert.equal(body.intensities[i], 0, `${where} beam ${i}: intensity of no range`);
      });
    }
  });

  await check("/scan timing: stamp one turn before receipt, increasing; time_increment = scan_time / N", () => {
    let last = -1n;
    for (const { message, body } of scans) {
      const where = `scan ${message.sequence}`;
      const stamp = nanoseconds(body.header.stamp);
      assert.ok(stamp > last, `${where}: stamps strictly increase`);
      last = stamp;
      assert.ok(body.scan_time > 1 / 15.5 && body.scan_time < 1 / 4.5, `${where}: scan_time ${body.scan_time}`);
      assert.equal(body.time_increment, f32(body.scan_time / BEAMS), where);
      const turn = BigInt(Math.round(body.scan_time * 1e9));
      assert.ok(stamp <= message.logTime - turn + 1000n && stamp >= message.logTime - turn - 1000n, where);
    }
  });

  await check("/tx710/points: every raw point of the round, equal to the text file and the CSV", () => {
    for (const { message, body } of clouds) {
      const where = `round ${message.sequence}`;
      const lines = txt.get(String(message.sequence));
      const rows = csv.get(String(message.sequence));
      assert.ok(lines && rows, `${where} is in the text file and the CSV`);
      assert.equal(nanoseconds(body.header.stamp), message.logTime, where);
      assert.equal(body.height, 1);
      assert.equal(body.width, lines.length, where);
      assert.deepEqual(body.fields, POINT_FIELDS);
      assert.equal(body.is_bigendian, false);
      assert.equal(body.point_step, 24);
      assert.equal(body.row_step, 24 * lines.length);
      const data = Buffer.from(body.data.buffer, body.data.byteOffset, body.data.byteLength);
      lines.forEach((line, i) => {
        const [x, y, z, intensity, angle, distance] = [0, 4, 8, 12, 16, 20].map((o) => data.readFloatLE(24 * i + o));
        for (const [name, value] of [["angle", angle], ["distance", distance], ["intensity", intensity]]) {
          assert.equal(value, f32(Number(line[name])), `${where} point ${i}: ${name}`);
        }
        const radians = (angle * Math.PI) / 180;
        assert.ok(Math.abs(x - (distance / 1000) * Math.cos(radians)) < 2e-6, `${where} point ${i}: x`);
        assert.ok(Math.abs(y + (distance / 1000) * Math.sin(radians)) < 2e-6, `${where} point ${i}: y`);
        assert.equal(x, f32(Number(rows[i].x)), `${where} point ${i}: x as the CSV's`);
        assert.equal(y, f32(Number(rows[i].y)), `${where} point ${i}: y as the CSV's`);
        assert.equal(z, 0);
      });
    }
  });

  await check("/scan: each beam is the nearest point of the round whose bearing atan2(y, x) is nearest it", () => {
    const cloudBySequence = new Map(clouds.map(({ message, body }) => [message.sequence, body]));
    let finite = 0;
    for (const { message, body } of scans) {
      const cloud = cloudBySequence.get(message.sequence);
      const data = Buffer.from(cloud.data.buffer, cloud.data.byteOffset, cloud.data.byteLength);
      const sure = new Array(BEAMS).fill(Infinity); // nearest point surely in the beam
      const possible = Array.from({ length: BEAMS }, () => new Set());
      for (let at = 0; at < data.length; at += 24) {
        const [x, y] = [data.readFloatLE(at), data.readFloatLE(at + 4)];
        const metres = data.readFloatLE(at + 20) / 1000;
        if (!(metres >= body.range_min && metres <= body.range_max)) continue;
        const beams = beamsOf(x, y, body.angle_increment);
        for (const beam of beams) possible[beam].add(f32(metres));
        if (beams.length === 1) sure[beams[0]] = Math.min(sure[beams[0]], f32(metres));
      }
      body.ranges.forEach((range, beam) => {
        const where = `scan ${message.sequence} beam ${beam}`;
        if (Number.isFinite(range)) {
          finite += 1;
          assert.ok(possible[beam].has(range), `${where}: ${range} m is a point of that beam`);
          assert.ok(range <= sure[beam], `${where}: ${range} m, a nearer point ${sure[beam]} m`);
        } else {
          assert.equal(range, Infinity, where);
          assert.equal(sure[beam], Infinity, `${where}: +Inf though a point at ${sure[beam]} m lies in it`);
        }
      });
    }
    assert.ok(finite > scans.length * BEAMS * 0.5, `most beams hold a range (${finite})`);
  });

  await check("/diagnostics: the link's figures, level by the rules", () => {
    for (const { message, body } of decoded["/diagnostics"]) {
      assert.equal(body.status.length, 1);
      const [status] = body.status;
      assert.equal(status.name, "tx710: link");
      assert.equal(nanoseconds(body.header.stamp), message.logTime);
      const values = Object.fromEntries(status.values.map(({ key, value }) => [key, value]));
      for (const key of ["frames_per_second", "crc_rejects", "rpm", "points_per_second", "link"]) {
        assert.ok(key in values, `diagnostics ${message.sequence}: ${key}`);
      }
      const fps = Number(values.frames_per_second);
      const rpm = Number(values.rpm);
      const rejects = Number(values.crc_rejects_last_second);
      const normal = rpm >= 300 && rpm <= 900 && rejects / (fps + rejects) <= 0.01;
      const lost = "link_down_s" in values;
      const expected = fps === 0 || lost ? 2 : normal ? 0 : 1;
      assert.equal(status.level, expected, `diagnostics ${message.sequence}: level`);
      assert.equal(status.message === "link lost", lost, `diagnostics ${message.sequence}: link lost`);
    }
  });
}

module.exports = { checkRos2Recording, officialReader };
