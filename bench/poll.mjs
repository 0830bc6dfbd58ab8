// The Node.js yardstick for one poll: a new TLS connection (no agent, so no kept connection and
// no session resumption), the whole body, JSON.parse, the count. The trust store is built once,
// as any long-lived Node process does. For every line on stdin it makes one poll and prints
// "wall_ns cpu_ns count".
// Usage: node poll.mjs PORT CA_FILE TOKEN
import fs from 'node:fs';
import https from 'node:https';
import readline from 'node:readline';
import tls from 'node:tls';
import zlib from 'node:zlib';

const [port, caFile, token] = process.argv.slice(2);
const secureContext = tls.createSecureContext({ca: fs.readFileSync(caFile)});
const decoders = {gzip: zlib.gunzipSync, deflate: zlib.inflateSync, br: zlib.brotliDecompressSync};

function poll() {
  return new Promise((resolve, reject) => {
    const request = https.get({
      host: '127.0.0.1',
      port: Number(port),
      servername: 'api.github.com',
      path: '/notifications',
      agent: false,
      secureContext,
      headers: {
        Host: 'api.github.com',
        Authorization: `Bearer ${token}`,
        'User-Agent': 'node-yardstick',
        'Accept-Encoding': 'gzip, deflate, br',
      },
    }, (response) => {
      const chunks = [];
      response.on('data', (chunk) => chunks.push(chunk));
      response.on('end', () => {
        let body = Buffer.concat(chunks);
        const decode = decoders[response.headers['content-encoding']];
        if (decode) body = decode(body);
        const value = JSON.parse(body.toString('utf8'));
        resolve(Array.isArray(value) ? value.length : Object.keys(value).length);
      });
      response.on('error', reject);
    });
    request.on('error', reject);
  });
}

for await (const _ of readline.createInterface({input: process.stdin})) {
  const cpu = process.cpuUsage();
  const start = process.hrtime.bigint();
  const count = await poll();
  const wall = process.hrtime.bigint() - start;
  const used = process.cpuUsage(cpu);
  process.stdout.write(`${wall} ${(used.user + used.system) * 1000} ${count}\n`);
}
