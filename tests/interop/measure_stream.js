// Load on a live server: CLIENTS-1 official clients that read everything and
// one bare connection that subscribes and then stops reading, for SECONDS;
// then the stalled one reads again for a few seconds and counts what it was
// told. Prints figures, asserts nothing (scripts/measure-streaming runs it):
//   node measure_stream.js ws://HOST:PORT SECONDS CLIENTS
"use strict";

const net = require("node:net");
const { FoxgloveClient } = require("@foxglove/ws-protocol");
const WebSocket = require("ws");

const ROUND_NS = 100000000n;

function goodClient(url) {
  const stats = { rounds: 0, statuses: 0, missed: 0, first: null, last: null, complaints: [] };
  const client = new FoxgloveClient({ ws: new WebSocket(url, [FoxgloveClient.SUPPORTED_SUBPROTOCOL]) });
  const scanSubscriptions = new Set();
  client.on("advertise", (channels) => {
    for (const channel of channels) {
      const id = client.subscribe(channel.id);
      if (channel.topic === "/scan") scanSubscriptions.add(id);
    }
  });
  client.on("status", (status) => stats.complaints.push(status.message));
  client.on("message", ({ subscriptionId, timestamp }) => {
    if (!scanSubscriptions.has(subscriptionId)) {
      stats.statuses += 1;
      return;
    }
    // Rounds are 100 ms apart: a longer step means rounds this client missed.
    if (stats.last !== null) {
      const steps = Number((timestamp - stats.last + ROUND_NS / 2n) / ROUND_NS);
      if (steps > 1) stats.missed += steps - 1;
    }
    if (stats.first === null) stats.first = timestamp;
    stats.last = timestamp;
    stats.rounds += 1;
  });
  return { stats, close: () => client.close() };
}

// A WebSocket client by hand: a handshake, one masked subscribe, then no
// reading until resume().
function stalledClient(host, port) {
  const stats = { binaries: 0, dropped: 0, notices: [] };
  const socket = net.connect(port, host);
  let pending = Buffer.alloc(0);
  let upgraded = false;
  socket.on("connect", () => {
    socket.write(
      "GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" +
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
        "Sec-WebSocket-Protocol: foxglove.websocket.v1\r\n\r\n",
    );
  });
  socket.on("data", (chunk) => {
    pending = Buffer.concat([pending, chunk]);
    if (!upgraded) {
      const end = pending.indexOf("\r\n\r\n");
      if (end < 0) return;
      pending = pending.subarray(end + 4);
      upgraded = true;
      const text = Buffer.from(JSON.stringify({ op: "subscribe", subscriptions: [{ id: 0, channelId: 1 }] }));
      socket.write(Buffer.concat([Buffer.from([0x81, 0x80 | text.length, 0, 0, 0, 0]), text]));
      setTimeout(() => socket.pause(), 500);
    }
    for (;;) {
      if (pending.length < 2) return;
      let length = pending[1] & 0x7f;
      let header = 2;
      if (length === 126) {
        if (pending.length < 4) return;
        length = pending.readUInt16BE(2);
        header = 4;
      } else if (length === 127) {
        if (pending.length < 10) return;
        length = Number(pending.readBigUInt64BE(2));
        header = 10;
      }
      if (pending.length < header + length) return;
      const opcode = pending[0] & 0x0f;
      const payload = pending.subarray(header, header + length);
      pending = pending.subarray(header + length);
      if (opcode === 2) stats.binaries += 1;
      if (opcode === 1) {
        const message = JSON.parse(payload.toString("utf8"));
        const match = /^dropped (\d+) rounds/.exec(message.message ?? "");
        if (match) {
          stats.dropped += Number(match[1]);
          stats.notices.push(message.message);
        }
      }
    }
  });
  socket.on("error", (error) => stats.notices.push(`socket error: ${error.message}`));
  return { stats, resume: () => socket.resume(), close: () => socket.destroy() };
}

async function main() {
  const [url, secondsText, clientsText] = process.argv.slice(2);
  const seconds = Number(secondsText ?? 30);
  const clients = Number(clientsText ?? 20);
  const { hostname, port } = new URL(url);
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  const stalled = stalledClient(hostname, Number(port));
  const good = Array.from({ length: clients - 1 }, () => goodClient(url));
  console.log(`connected: ${good.length} reading clients, 1 stalled client`);
  await sleep(seconds * 1000);
  const snapshot = good.map(({ stats }) => ({ ...stats }));
  for (const client of good) client.close();
  stalled.resume();
  await sleep(3000);
  stalled.close();

  const rounds = snapshot.map((stats) => stats.rounds);
  const missed = snapshot.map((stats) => stats.missed);
  const spans = snapshot.map((stats) => Number((stats.last - stats.first) / ROUND_NS) + 1);
  console.log(`reading clients: rounds received min ${Math.min(...rounds)} max ${Math.max(...rounds)}`);
  console.log(`reading clients: rounds published while subscribed min ${Math.min(...spans)} max ${Math.max(...spans)}`);
  console.log(`reading clients: rounds missed total ${missed.reduce((a, b) => a + b, 0)}`);
  console.log(`reading clients: status messages min ${Math.min(...snapshot.map((s) => s.statuses))}`);
  console.log(`reading clients: server complaints ${snapshot.flatMap((s) => s.complaints).length}`);
  console.log(`stalled client: rounds received ${stalled.stats.binaries}, drops reported ${stalled.stats.dropped}`);
  console.log(`stalled client: notices ${JSON.stringify(stalled.stats.notices.slice(0, 3))}`);
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
