'use strict';
// The real orva-bridge driven by a PJLink client nobody here wrote: the npm
// registry's pjlink package, with orva-sim on a pseudo-terminal as the projector.
// Each step's answer is compared, as the client reports it, with what PJLink class 1
// and the projector's codes say it must be, and the codes the simulator heard on its
// line with the codes that request means. Run by pjlink_npm.sh.
// Usage: node pjlink_npm.js NPM_DIR ORVA_SIM ORVA_BRIDGE
const { spawn } = require('child_process');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');
const { isDeepStrictEqual } = require('util');

const [npmDir, simPath, bridgePath] = process.argv.slice(2);
const PJLink = require(path.resolve(npmDir, 'node_modules', 'pjlink'));

const kStartMs = 10000;   // a program starting, its first line
const kAnswerMs = 20000;  // one request (the bridge's reply windows are a few seconds each)
const kPassword = 'Orva tk58r pass 7';
const kLampHours = 4321;

const children = [];
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'pjlink-npm-'));
process.on('exit', () => {
  for (const child of children)
    if (child.exitCode === null && child.signalCode === null)
      child.kill('SIGKILL');
  fs.rmSync(work, { recursive: true, force: true });
});

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function until(what, ms, ready) {
  const end = Date.now() + ms;
  while (!ready()) {
    if (Date.now() > end)
      throw new Error(`timed out waiting for ${what}`);
    await sleep(20);
  }
}

function start(program, args) {
  const child = spawn(program, args, { stdio: ['pipe', 'pipe', 'pipe'] });
  children.push(child);
  child.out = '';
  child.err = '';
  child.stdout.on('data', (d) => { child.out += d; });
  child.stderr.on('data', (d) => { child.err += d; });
  child.ended = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  return child;
}

// orva-sim with its log; heard(): the codes it received, in order.
async function startSim(args) {
  const sim = start(simPath, ['--log', '--exit-on-stdin-eof', ...args]);
  await until('orva-sim\'s device path', kStartMs, () => sim.out.includes('\n'));
  sim.device = sim.out.split('\n')[0].trim();
  sim.heard = () => sim.err.split('\n').filter((l) => l.includes(' RX ')).map((l) => l.slice(l.indexOf(' RX ') + 4));
  return sim;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.on('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

async function startBridge(sim) {
  const passwordFile = path.join(work, 'password');
  fs.writeFileSync(passwordFile, kPassword + '\n', { mode: 0o600 });
  const port = await freePort();
  const bridge = start(bridgePath, ['--device', sim.device, '--pjlink', String(port), '--password-file', passwordFile]);
  await until('"PJLink on 127.0.0.1 port"', kStartMs, () => bridge.err.includes(`PJLink on 127.0.0.1 port ${port}`));
  bridge.port = port;
  return bridge;
}

// One request through the client: what its callback was given.
function request(client, method, args) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('the client gave no answer')), kAnswerMs);
    client[method](...args, (err, value) => {
      clearTimeout(timer);
      resolve({ error: err ? err.message : null, value });
    });
  });
}

let passed = 0, failed = 0;

// A table of steps: [what, client, its method and arguments, the error message and
// value it reports, the codes heard on the line]. (The client's setMute takes one value
// and the callback: an object {video, audio}, or a boolean for the picture alone; its
// README's setMute(false, true, cb) loses the callback.) A code that comes after its
// step's answer is seen by the next step.
async function run(sim, steps) {
  for (const [what, client, method, args, error, value, line] of steps) {
    const before = sim.heard().length;
    const problems = [];
    try {
      const got = await request(client, method, args);
      await until('the codes on the line', kAnswerMs, () => sim.heard().length >= before + line.length).catch(() => {});
      const heard = sim.heard().slice(before);
      if (!isDeepStrictEqual(got, { error, value }))
        problems.push(`answer ${JSON.stringify(got)}, expected ${JSON.stringify({ error, value })}`);
      if (!isDeepStrictEqual(heard, line))
        problems.push(`line heard ${JSON.stringify(heard)}, expected ${JSON.stringify(line)}`);
    } catch (e) {
      problems.push(e.message);
    }
    if (problems.length) ++failed; else ++passed;
    console.log(problems.length ? `FAIL: ${what}: ${problems.join('; ')}` : `ok: ${what}`);
  }
}

const client = (password, bridge) => new PJLink({ host: '127.0.0.1', port: bridge.port, password, timeout: 0 });

async function main() {
  // A projector that is on, two lamps of which No. 1 is lit; switched off it is in
  // standby at once, and switched on it stays warming up for a minute.
  const sim = await startSim(['--countdown-ms', '60000', '--cooldown-ms', '0', '--state', 'on', '--state', 'lamps-2-no1-on',
                              '--lamp-hours', String(kLampHours)]);
  const bridge = await startBridge(sim);
  const wrong = client(kPassword + 'x', bridge);
  const c = client(kPassword, bridge);
  await run(sim, [
    ['a wrong password (PJLINK ERRA, nothing on the line)', wrong, 'powerOn', [], 'Authorization failed', undefined, []],
    ['POWR ? (on: 1)', c, 'getPowerState', [], null, 1, ['CR0']],
    ['INPT 12 (computer 2)', c, 'setInput', ['rgb', 2], null, undefined, ['CR0', 'C06']],
    ['INPT ? (12)', c, 'getInput', [], null, { source: 1, channel: 2, code: '12', name: 'RGB - 2' }, ['CR1']],
    ['AVMT 31 (picture and sound muted)', c, 'setMute', [{ video: true, audio: true }], null, undefined, ['CR0', 'C0D', 'C0B']],
    ['AVMT ? (31)', c, 'getMute', [], null, { audio: true, video: true }, ['CRA']],
    ['AVMT 30 (nothing muted)', c, 'setMute', [{ video: false, audio: false }], null, undefined, ['CR0', 'C0E', 'C0C']],
    ['AVMT ? (30)', c, 'getMute', [], null, { audio: false, video: false }, ['CRA']],
    ['LAMP ? (two lamps, No. 1 on)', c, 'getLamps', [], null, [{ hours: kLampHours, on: true }, { hours: kLampHours, on: false }], ['CR3', 'CR7']],
    ['POWR 0 (on)', c, 'powerOff', [], null, undefined, ['C01']],
    ['POWR ? (standby: 0)', c, 'getPowerState', [], null, 0, ['CR0']],
    ['POWR 1 (standby)', c, 'powerOn', [], null, undefined, ['C00']],
    ['POWR ? (warming up: 3)', c, 'getPowerState', [], null, 3, ['CR0']],
    ['INPT 11 while warming up (ERR3)', c, 'setInput', ['rgb', 1], 'Unavailable time', undefined, ['CR0']],
  ]);
  c.disconnect();
  wrong.disconnect();
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

main().catch((e) => {
  console.log(`FAIL: ${e.stack || e}`);
  for (const child of children)
    if (child.err)
      console.log(`--- ${path.basename(child.spawnfile)} stderr:\n${child.err}`);
  process.exit(1);
});
