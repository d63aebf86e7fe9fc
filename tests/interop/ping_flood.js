// An attack, for scripts/measure-ping-flood: a WebSocket client that sends
// pings as fast as its socket takes them and never reads what comes back.
//   node ping_flood.js URL SECONDS
// Prints how long the server kept it connected.
const WebSocket = require('ws');

const url = process.argv[2];
const seconds = Number(process.argv[3] || 20);
const started = Date.now();
const ws = new WebSocket(url, ['foxglove.websocket.v1']);
const payload = Buffer.alloc(125, 0x41); // the largest a ping may carry
let pings = 0;

function report(how) {
  console.log(`ping flood: ${how} after ${((Date.now() - started) / 1000).toFixed(1)} s, ${pings} pings sent`);
  process.exit(0);
}

ws.on('open', () => {
  ws._socket.pause(); // never read: the answers pile up at the server
  const flood = () => {
    if (ws.readyState !== WebSocket.OPEN) return;
    // A batch at a time, so that the timer that ends the run gets its turn.
    for (let i = 0; i < 2000 && ws._socket.writableLength < 1 << 20; i++) {
      ws.ping(payload);
      pings++;
    }
    setImmediate(flood);
  };
  flood();
});
ws.on('error', () => report('disconnected by the server'));
ws.on('close', () => report('disconnected by the server'));
setTimeout(() => report('still connected'), seconds * 1000);
