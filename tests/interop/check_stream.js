// Connects to a live server with the official Foxglove WebSocket client,
// subscribes to /scan and /tx710/status and checks what arrives:
//   node check_stream.js ws://HOST:PORT [ROUNDS]
// Prints one line per check and "stream: N passed, M failed"; exits 1 on a failure.
"use strict";

const assert = require("node:assert/strict");
const { FoxgloveClient } = require("@foxglove/ws-protocol");
const WebSocket = require("ws");
const foxgloveSchemas = require("@foxglove/schemas/jsonschema");

const { POINT_FIELDS, checker } = require("./checks");

const STRIDE = 24;
const { check, crashed, finish } = checker();

// What the server sent until `rounds` /scan messages and one status arrived.
function collect(url, rounds) {
  return new Promise((resolve, reject) => {
    const seen = { serverInfo: null, channels: [], statuses: [], scan: [], status: [], closed: null };
    const client = new FoxgloveClient({ ws: new WebSocket(url, [FoxgloveClient.SUPPORTED_SUBPROTOCOL]) });
    const topicBySubscription = new Map();
    const timer = setTimeout(() => {
      client.close();
      reject(new Error(`timed out: ${seen.scan.length} rounds, ${seen.status.length} status messages`));
    }, 20000);
    client.on("error", (error) => reject(error));
    client.on("close", (event) => {
      seen.closed = event;
    });
    client.on("serverInfo", (info) => {
      seen.serverInfo = info;
    });
    client.on("status", (status) => seen.statuses.push(status));
    client.on("advertise", (channels) => {
      seen.channels.push(...channels);
      for (const channel of channels) topicBySubscription.set(client.subscribe(channel.id), channel.topic);
    });
    client.on("message", ({ subscriptionId, timestamp, data }) => {
      const topic = topicBySubscription.get(subscriptionId);
      const text = Buffer.from(data.buffer, data.byteOffset, data.byteLength).toString("utf8");
      (topic === "/scan" ? seen.scan : seen.status).push({ timestamp, message: JSON.parse(text) });
      if (seen.scan.length >= rounds && seen.status.length >= 1) {
        clearTimeout(timer);
        client.close();
        resolve(seen);
      }
    });
  });
}

function nanoseconds(time) {
  return BigInt(time.sec) * 1000000000n + BigInt(time.nsec);
}

async function main() {
  const url = process.argv[2];
  const rounds = Number(process.argv[3] ?? 20);
  if (!url) throw new Error("usage: node check_stream.js ws://HOST:PORT [ROUNDS]");
  const seen = await collect(url, rounds);

  await check("server info: tx710, no optional capability", () => {
    assert.equal(seen.serverInfo.name, "tx710");
    assert.deepEqual(seen.serverInfo.capabilities, []);
  });

  await check("channels: /scan and /tx710/status as in the recording", () => {
    const byTopic = new Map(seen.channels.map((channel) => [channel.topic, channel]));
    assert.deepEqual([...byTopic.keys()].sort(), ["/scan", "/tx710/status"]);
    const scan = byTopic.get("/scan");
    assert.equal(scan.encoding, "json");
    assert.equal(scan.schemaName, "foxglove.PointCloud");
    assert.equal(scan.schemaEncoding, "jsonschema");
    assert.deepEqual(JSON.parse(scan.schema), foxgloveSchemas.PointCloud);
    const status = byTopic.get("/tx710/status");
    assert.equal(status.encoding, "json");
    assert.equal(status.schemaName, "tx710.Status");
    assert.equal(status.schemaEncoding, "jsonschema");
    assert.equal(JSON.parse(status.schema).title, "tx710.Status");
  });

  await check("no status complaint from the server", () => {
    assert.deepEqual(seen.statuses, []);
  });

  await check(`/scan: ${rounds} point clouds, receive time = message time, fields as the recording`, () => {
    assert.ok(seen.scan.length >= rounds);
    for (const { timestamp, message } of seen.scan) {
      assert.equal(timestamp, nanoseconds(message.timestamp));
      assert.equal(message.frame_id, "tx710");
      assert.equal(message.point_stride, STRIDE);
      assert.deepEqual(message.fields, POINT_FIELDS);
    }
  });

  await check("/scan: points finite, a full turn, x and y from angle and distance", () => {
    for (const { message } of seen.scan) {
      const bytes = Buffer.from(message.data, "base64");
      assert.equal(bytes.length % STRIDE, 0);
      const count = bytes.length / STRIDE;
      assert.ok(count > 100, `only ${count} points in a round`);
      let previousAngle = -1;
      for (let i = 0; i < count; i++) {
        const [x, y, z, intensity, angle, distance] = [0, 1, 2, 3, 4, 5].map((k) =>
          bytes.readFloatLE(i * STRIDE + 4 * k),
        );
        for (const value of [x, y, z, intensity, angle, distance]) assert.ok(Number.isFinite(value));
        assert.equal(z, 0);
        // A point exactly at 360 degrees closes a turn.
        assert.ok(angle > previousAngle && angle <= 360, `angle ${angle} after ${previousAngle}`);
        previousAngle = angle;
        assert.ok(distance >= 0 && intensity >= 0);
        // x forward, y left; the device turns clockwise seen from above.
        const radians = (angle * Math.PI) / 180;
        assert.ok(Math.abs(x - (distance / 1000) * Math.cos(radians)) < 2e-6, `x at point ${i}`);
        assert.ok(Math.abs(y + (distance / 1000) * Math.sin(radians)) < 2e-6, `y at point ${i}`);
      }
      assert.ok(previousAngle > 350, `the round ends at ${previousAngle} degrees`);
    }
  });

  await check("/tx710/status: figures of the stream", () => {
    for (const { timestamp, message } of seen.status) {
      assert.equal(timestamp, nanoseconds(message.timestamp));
      for (const key of ["frames_per_second", "crc_rejects", "rpm", "points_per_second"])
        assert.ok(Number.isFinite(message[key]), key);
    }
  });

}

main()
  .catch(crashed)
  .finally(() => finish("stream"));
