// Launch to first note, measured from outside: the real program on a JACK
// dummy server (44,100 Hz, 256-frame periods), its page ready, its default
// instrument loaded, and a note sent from the page heard in a jack_capture
// recording. Each start gets a fresh home (settings naming the JACK output,
// no first-run welcome) and a fresh server.
//
//   node bench/startup/startup.mjs <runs> [cold]
//
// MOTIFO_PROGRAMS=a:b (programs that find their own page and content, such
// as the motifo of another build tree) starts each in turn, run by run, for
// a before and after in one run; the medians are given per program.
// STARTUP_DEBUG=1 prints the program's log lines with the ms they arrived at,
// and the page's navigation milestones.
// "cold" drops the page cache (sync; echo 3 > /proc/sys/vm/drop_caches)
// before every start. Prints one JSON object: every run's milestones in ms
// after the process was started, and the medians.
//
// Every time is on the system clock: jack_capture writes the system time of
// its first frame (--timestamp), the page reads Date.now(), the script takes
// it when it starts the program and when a line of the program's log arrives.
import { execFile, spawn, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { freePort, programEnv } from '../../tests/page/motifo.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const repoRoot = path.resolve(here, '..', '..');
// The page tests' copy of playwright-core.
const { chromium } = createRequire(path.join(repoRoot, 'tests', 'page', 'package.json'))('playwright-core');
const buildDir = process.env.MOTIFO_BUILD_DIR || path.join(repoRoot, 'build');
const runs = Number(process.argv[2] || 5);
const programs = (process.env.MOTIFO_PROGRAMS || path.join(buildDir, 'motifo')).split(':');
const cold = process.argv[3] === 'cold';
// Long enough for a cold start on a loaded machine.
const recordSeconds = 12;
const rate = 44100;

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const now = () => Date.now();

function stop(proc) {
  if (!proc || proc.exitCode !== null || proc.signalCode !== null) return Promise.resolve();
  return new Promise((r) => { proc.once('exit', r); proc.kill('SIGTERM'); });
}

// First frame of a 32-bit float stereo WAV whose level passes -60 dB.
function onsetFrame(file) {
  const data = readFileSync(file);
  let offset = 12;
  let bits = 32;
  let format = 3;
  while (offset + 8 <= data.length) {
    const id = data.toString('ascii', offset, offset + 4);
    const size = data.readUInt32LE(offset + 4);
    if (id === 'fmt ') {
      format = data.readUInt16LE(offset + 8);
      bits = data.readUInt16LE(offset + 22);
    } else if (id === 'data') {
      const bytes = bits / 8;
      const end = Math.min(data.length, offset + 8 + size);
      for (let i = offset + 8, sample = 0; i + bytes <= end; i += bytes, ++sample) {
        let v;
        if (format === 3 && bits === 32) v = data.readFloatLE(i);
        else if (bits === 16) v = data.readInt16LE(i) / 32768;
        else if (bits === 24) v = data.readIntLE(i, 3) / 8388608;
        else v = data.readInt32LE(i) / 2147483648;
        if (Math.abs(v) > 1e-3) return Math.floor(sample / 2);
      }
      return null;
    }
    offset += 8 + size + (size % 2);
  }
  return null;
}

// System time of a recording's first frame, in ms since the epoch: the
// first line of jack_capture's .tme file is seconds and nanoseconds (the
// latter not padded with zeros) joined by a dot.
function recordingStart(tme) {
  const m = /^(\d+)\.(\d+)$/m.exec(readFileSync(tme, 'utf8'));
  if (!m) throw new Error(`no system time in ${tme}`);
  return Number(m[1]) * 1000 + Number(m[2]) / 1e6;
}

async function connectPage(port, proc) {
  const deadline = Date.now() + 30000;
  let browser;
  while (!browser && Date.now() < deadline) {
    if (proc.exitCode !== null) throw new Error(`motifo exited with ${proc.exitCode}`);
    try {
      const res = await fetch(`http://127.0.0.1:${port}/json/version`);
      if (res.ok) browser = await chromium.connectOverCDP(`http://127.0.0.1:${port}`, { noDefaults: true });
    } catch { /* not up yet */ }
    if (!browser) await sleep(5);
  }
  if (!browser) throw new Error('no debugging port');
  let page;
  while (!page && Date.now() < deadline) {
    page = browser.contexts().flatMap((c) => c.pages()).find((p) => p.url().endsWith('zub.html'));
    if (!page) await sleep(5);
  }
  if (!page) throw new Error('the page did not open');
  return { browser, page };
}

async function startOnce(index, program) {
  const server = `motifo-startup-${process.pid}-${index}`;
  const work = mkdtempSync(path.join(tmpdir(), 'motifo-startup-'));
  const env = { ...process.env, JACK_DEFAULT_SERVER: server, JACK_NO_AUDIO_RESERVATION: '1' };
  // Real-time, so that the dummy server keeps time with the wall clock on a
  // loaded machine (the recording's frames are the note's clock).
  const jackd = spawn('jackd', ['-R', '-n', server, '-d', 'dummy', '-r', String(rate), '-p', '256'],
    { env, stdio: 'ignore' });
  let capture;
  let motifo;
  let browser;
  try {
    if (spawnSync('jack_wait', ['-s', server, '-w', '-t', '10'], { env }).status !== 0) throw new Error('jackd did not start');
    const wav = path.join(work, 'out.wav');
    const home = path.join(work, 'home');
    const settings = path.join(home, 'data', 'Quavertone', 'Motifo');
    mkdirSync(settings, { recursive: true });
    writeFileSync(path.join(settings, 'settings.xml'), `<!DOCTYPE settings>
<settings>
 <version>1.0.0</version>
 <AudioDevice>0. system (JACK Audio Connection Kit)</AudioDevice>
 <AudioDeviceSampleRate>44100</AudioDeviceSampleRate>
 <AudioDeviceBufferSize>256</AudioDeviceBufferSize>
</settings>
`);
    const port = await freePort();
    // The recording runs from before the start; its first frame's system time is known.
    capture = spawn('jack_capture', ['--timestamp', '--manual-connections', '-c', '2', '-d', String(recordSeconds),
      '-b', 'FLOAT', wav], { env, stdio: 'ignore' });
    const recording = new Promise((r) => capture.once('exit', r));
    for (let i = 0; i < 500 && !/^jack_capture:input2$/m.test(spawnSync('jack_lsp', [], { env, encoding: 'utf8' }).stdout); ++i) await sleep(10);
    if (cold) spawnSync('sh', ['-c', 'sync; echo 3 > /proc/sys/vm/drop_caches']);
    const lines = [];
    const started = now();
    motifo = spawn(program, [], {
      cwd: home,
      env: { ...env, ...programEnv(home, port) },
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    const keep = (d) => { const at = now() - started; for (const l of String(d).split('\n')) if (l.trim()) lines.push({ at, line: l }); };
    motifo.stdout.on('data', keep);
    motifo.stderr.on('data', keep);
    // Null where the program never says so (a build from before that line).
    const instrumentReady = new Promise((resolve) => {
      const look = () => {
        const l = lines.find((x) => x.line.startsWith('Instrument ready:'));
        if (l) resolve(l.at);
        else if (now() - started > recordSeconds * 1000 || motifo.exitCode !== null) resolve(null);
        else setTimeout(look, 2);
      };
      look();
    });

    // Motifo's output, connected to the recording the moment its ports appear.
    const connected = (async () => {
      const deadline = Date.now() + 30000;
      // Asynchronous, so that the program's log lines are timed as they come.
      const run = (...args) => new Promise((r) => execFile(args[0], args.slice(1), { env }, (e, out) => r(out || '')));
      while (Date.now() < deadline && !/^motifo:out_1$/m.test(await run('jack_lsp'))) await sleep(5);
      await run('jack_connect', 'motifo:out_0', 'jack_capture:input1');
      await run('jack_connect', 'motifo:out_1', 'jack_capture:input2');
    })();
    let page;
    ({ browser, page } = await connectPage(port, motifo));
    // In the page: from the moment it is ready, the note every 20 ms for two
    // seconds, as a player striking a key until it sounds; the first one
    // heard counts, whenever the instrument came.
    const sawNotReady = await page.evaluate(() => document.body.dataset.ready !== 'true');
    const ready = await (await page.waitForFunction(() => {
      if (document.body.dataset.ready !== 'true') return false;
      // The first time it holds; the poller may call this again.
      if (!window.readyAt) {
        window.readyAt = Date.now();
        let strikes = 0;
        const strike = () => {
          window.nativeZub.handleMessage('noteOff->60');
          window.nativeZub.handleMessage('noteOn->60');
          if (++strikes < 100) setTimeout(strike, 20);
        };
        strike();
      }
      return window.readyAt;
    }, null, { polling: 2, timeout: 30000 })).jsonValue();
    const pageReady = ready - started;
    if (process.env.STARTUP_DEBUG) {
      // The page's own milestones (and any performance.mark), on the same clock.
      const marks = await page.evaluate(() => {
        const nav = performance.getEntriesByType('navigation')[0];
        return [['navigation started', 0], ['dom interactive', nav.domInteractive], ['load event', nav.loadEventEnd],
          ...performance.getEntriesByType('mark').map((m) => [m.name, m.startTime])]
          .map(([name, at]) => [name, performance.timeOrigin + at]);
      });
      for (const [name, at] of marks) console.error('page', name, Math.round(at - started));
    }
    const loaded = await instrumentReady;
    const noteSent = pageReady;
    await connected;
    await recording;
    if (process.env.STARTUP_DEBUG) {
      for (const l of lines) {
        const phase = /^PHASE (\S+) wall=(\S+) cpu=(\S+)/.exec(l.line);
        if (phase) console.error('phase', phase[1], Math.round(Number(phase[2]) * 1000 - started), 'cpu', Math.round(Number(phase[3]) * 1000));
        else if (!/ALSA|^\s+\*/.test(l.line)) console.error(Math.round(l.at), l.line.slice(0, 100));
      }
    }
    const frame = onsetFrame(wav);
    const firstFrameAt = recordingStart(`${wav}.tme`);
    const heard = frame === null ? null : firstFrameAt + (frame * 1000) / rate - started;
    if (process.env.STARTUP_DEBUG) console.error('onset frame', frame, 'heard', heard === null ? null : Math.round(heard));
    const milestone = (pattern) => lines.find((l) => l.line.includes(pattern))?.at ?? null;
    return {
      main_entered: milestone('Starting Zub'),
      page_load_started: milestone('Loading'),
      page_ready: pageReady,
      page_ready_seen_live: sawNotReady,
      instrument_loaded: loaded,
      note_sent: noteSent,
      // Should the server's cycles fall behind the wall clock, the
      // recording's frames undercount the time: a note heard well before it
      // was sent (more than the timestamps' few ms) gives no figure.
      note_heard: heard !== null && heard >= noteSent - 50 ? heard : null,
    };
  } finally {
    await browser?.close().catch(() => {});
    await stop(motifo);
    await stop(capture);
    await stop(jackd);
    rmSync(work, { recursive: true, force: true });
  }
}

const median = (xs) => { const s = xs.filter((x) => x !== null).sort((a, b) => a - b); return s.length ? s[Math.floor((s.length - 1) / 2)] : null; };
const round = (o) => JSON.parse(JSON.stringify(o, (k, v) => (typeof v === 'number' ? Math.round(v) : v)));
const results = Object.fromEntries(programs.map((p) => [p, []]));
// A first start fills the page cache for the warm runs that follow.
if (!cold) for (const program of programs) await startOnce('warmup', program).catch(() => {});
for (let i = 0; i < runs; ++i)
  for (const program of programs) results[program].push(await startOnce(i, program));
const summary = {};
for (const [program, list] of Object.entries(results)) {
  const keys = [...new Set(list.flatMap((r) => Object.keys(r).filter((k) => typeof r[k] === 'number')))];
  summary[path.relative(buildDir, program)] = { runs: round(list), median: round(Object.fromEntries(keys.map((k) => [k, median(list.map((r) => r[k]))]))) };
}
console.log(JSON.stringify({ cold, ...summary, load_average: readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).map(Number) }, null, 2));
