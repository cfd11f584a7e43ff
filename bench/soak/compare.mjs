// Motifo next to SooperLooper in one run on one JACK dummy server (44,100 Hz,
// 256-frame periods). First both idle with their windows open on X servers of
// their own (Motifo's loop recorder running, nothing played; SooperLooper
// with one empty loop and slgui): the CPU time of each with its X server, and
// the proportional set size (PSS, /proc/PID/smaps_rollup) of every process
// of each (Motifo's main and web processes; SooperLooper's engine and slgui).
// Then each playing 8 loops of 16 beats at 120 bpm for 30 s: the CPU time
// of each process per second of audio and their ratio, the same with
// SooperLooper's window open (Motifo's stays open throughout), and the PSS
// playing. JACK's shared memory is counted the same way for both: PSS shares
// it among every process that maps it, and its share is also given apart.
// Beside PSS, each program's own memory (own_kb): its pages shared only among
// its own processes, which other programs on the machine do not lower. At
// idle the same for an empty Qt WebEngine window: the least Motifo's can be.
//
//   node bench/soak/compare.mjs <seconds> <SooperLooper preload or "">
//
// SooperLooper is driven headless over OSC (oscsend); the preload lets it run
// on machines without an ALSA sequencer. Prints one JSON object.
import { spawn, spawnSync } from 'node:child_process';
import { closeSync, existsSync, mkdtempSync, openSync, readFileSync, readSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { send, sleep, startJack, startMotifoOnJack, usage } from './jack.mjs';

const seconds = Number(process.argv[2] || 30);
const preload = process.argv[3] || '';
const oscPort = String(19951 + (process.pid % 1000));
const work = mkdtempSync(path.join(tmpdir(), 'motifo-compare-'));

function startSooperLooper(jack, loops) {
  const env = { ...jack.env, ...(preload ? { LD_PRELOAD: preload } : {}) };
  return spawn('sooperlooper', ['-q', '-l', String(loops), '-c', '2', '-p', oscPort], { env, stdio: 'ignore' });
}

// SooperLooper's own window (slgui) on a virtual X server, connected to the
// running engine: the display a musician would have. Null where xvfb-run or
// slgui is missing. Its CPU time includes the X server's drawing.
function startSooperLooperGui(home) {
  if (spawnSync('sh', ['-c', 'command -v xvfb-run && command -v slgui']).status !== 0) return null;
  return spawn('xvfb-run', ['-a', 'slgui', '-N', '-H', 'localhost', '-P', oscPort],
    { env: { ...process.env, HOME: home }, stdio: 'ignore' });
}

function osc(...args) {
  spawnSync('oscsend', ['localhost', oscPort, ...args]);
}

async function waitForPorts(jack, prefix) {
  for (let i = 0; i < 100 && !jack.ports().includes(prefix); ++i) await sleep(100);
  if (!jack.ports().includes(prefix)) throw new Error(`${prefix} never joined the JACK server`);
}

// The CPU time of a process and all its descendants (Motifo's web renderer).
function descendants(pid) {
  const children = [];
  for (const entry of readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
      if (Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]) === pid) children.push(Number(entry));
    } catch { /* gone */ }
  }
  return children.flatMap((c) => [c, ...descendants(c)]);
}

function treeCpu(pid) {
  return [pid, ...descendants(pid)].reduce((sum, p) => {
    try { return sum + usage(p).cpuSeconds; } catch { return sum; }
  }, 0);
}

// CPU seconds of a process's threads: its real-time audio thread(s) (JACK
// gives them a real-time policy) and all the others.
function threadCpu(pid) {
  const split = { audio: 0, other: 0 };
  for (const tid of readdirSync(`/proc/${pid}/task`)) {
    try {
      const stat = readFileSync(`/proc/${pid}/task/${tid}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      const seconds = (Number(fields[11]) + Number(fields[12])) / 100;
      split[Number(fields[38]) !== 0 ? 'audio' : 'other'] += seconds; // policy: 0 is SCHED_OTHER
    } catch { /* gone */ }
  }
  return split;
}

// An X server of its own for a window; null where Xvfb is missing.
async function startX() {
  if (spawnSync('sh', ['-c', 'command -v Xvfb']).status !== 0) return null;
  const proc = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x800x24', '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  const display = await new Promise((resolve) => {
    let text = '';
    proc.stdio[3].on('data', (d) => { text += String(d); if (text.includes('\n')) resolve(`:${text.trim()}`); });
    proc.once('exit', () => resolve(null));
  });
  return display ? { proc, display } : null;
}

// Proportional set size in kB of a process, and the part of it that is
// JACK's shared memory (/dev/shm/jack*).
function pss(pid) {
  try {
    const total = Number(/^Pss:\s+(\d+)/m.exec(readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8'))[1]);
    let jack = 0;
    let inJack = false;
    for (const line of readFileSync(`/proc/${pid}/smaps`, 'utf8').split('\n')) {
      const head = /^[0-9a-f]+-[0-9a-f]+\s+\S+\s+\S+\s+\S+\s+\S+\s*(.*)$/.exec(line);
      if (head) inJack = head[1].startsWith('/dev/shm/jack');
      else if (inJack && line.startsWith('Pss:')) jack += Number(line.split(/\s+/)[1]);
    }
    return { total, jack };
  } catch {
    return { total: 0, jack: 0 };
  }
}

// The physical pages a process maps outside JACK's shared memory, from
// /proc/PID/pagemap (page frame numbers need root; none without it).
function framesOf(pid) {
  const frames = [];
  let fd;
  try {
    fd = openSync(`/proc/${pid}/pagemap`, 'r');
    for (const line of readFileSync(`/proc/${pid}/maps`, 'utf8').split('\n')) {
      const m = /^([0-9a-f]+)-([0-9a-f]+)\s+\S+\s+\S+\s+\S+\s+\S+\s*(.*)$/.exec(line);
      if (!m || m[3].startsWith('/dev/shm/jack') || m[3] === '[vsyscall]') continue;
      const end = parseInt(m[2], 16) / 4096;
      // Chromium reserves gigabytes it never touches: a megapage at a time.
      for (let first = parseInt(m[1], 16) / 4096; first < end; first += 1 << 20) {
        const pages = Math.min(end - first, 1 << 20);
        const entries = Buffer.alloc(pages * 8);
        readSync(fd, entries, 0, entries.length, first * 8);
        for (let i = 0; i < pages; ++i) {
          const high = entries.readUInt32LE(i * 8 + 4);
          if (!(high & 0x80000000)) continue; // not in memory
          const frame = (high & 0x7fffff) * 2 ** 32 + entries.readUInt32LE(i * 8);
          if (frame) frames.push(frame);
        }
      }
    }
  } catch { /* gone */ } finally {
    if (fd !== undefined) closeSync(fd);
  }
  return frames;
}

// PSS of each named process and their sum, and the JACK share within it.
// own_kb shares each page only among the program's own processes: what the
// program holds on its own, whatever else on the machine maps the same
// libraries (other copies of Qt WebEngine lower PSS), JACK's shared memory
// counted as in PSS.
function pssOf(named) {
  const out = { total_kb: 0, jack_shm_kb: 0, own_kb: 0 };
  if (process.getuid() !== 0) out.own_kb = null; // page frame numbers read as 0
  const framesByName = Object.fromEntries(Object.entries(named).map(([name, pids]) => [name, out.own_kb === null ? [] : pids.map(framesOf)]));
  const mappers = new Map();
  for (const lists of Object.values(framesByName)) for (const frames of lists) for (const f of frames) mappers.set(f, (mappers.get(f) || 0) + 1);
  for (const [name, pids] of Object.entries(named)) {
    const sums = pids.map(pss).reduce((a, b) => ({ total: a.total + b.total, jack: a.jack + b.jack }), { total: 0, jack: 0 });
    out[`${name}_kb`] = sums.total;
    out.total_kb += sums.total;
    out.jack_shm_kb += sums.jack;
    if (out.own_kb === null) continue;
    let own = sums.jack;
    for (const frames of framesByName[name]) for (const f of frames) own += 4 / mappers.get(f);
    out[`${name}_own_kb`] = Math.round(own);
    out.own_kb += Math.round(own);
  }
  return out;
}

// The floor under any Qt WebEngine window: an empty page in a program of
// its own (bench/webviewfloor), drawn as Motifo draws, its memory measured
// as Motifo's. Null where it cannot be shown.
async function emptyWebViewMemory() {
  const X = await startX();
  if (!X) return null;
  const software = !(existsSync('/dev/dri') && readdirSync('/dev/dri').some((name) => name.startsWith('renderD')));
  const env = { ...process.env, QT_QPA_PLATFORM: 'xcb', DISPLAY: X.display,
    ...(software ? { QT_QUICK_BACKEND: 'software', QT_XCB_GL_INTEGRATION: 'none' } : {}) };
  const view = spawn('build/bench_webviewfloor', [], { env, stdio: 'ignore' });
  try {
    await sleep(5000);
    return view.exitCode === null ? pssOf({ main: [view.pid], web: descendants(view.pid) }) : null;
  } finally {
    view.kill('SIGTERM');
    X.proc.kill('SIGTERM');
  }
}

// slgui's own process (xvfb-run starts it below a shell, beside the X server).
function slguiPids(gui) {
  return descendants(gui.pid).filter((p) => {
    try { return readFileSync(`/proc/${p}/comm`, 'utf8').trim() === 'slgui'; } catch { return false; }
  });
}

// Resident kB per mapping, largest first; anonymous regions keep their size.
function largestRegions(pid, count) {
  const regions = [];
  let current = null;
  for (const line of readFileSync(`/proc/${pid}/smaps`, 'utf8').split('\n')) {
    const head = /^([0-9a-f]+)-([0-9a-f]+)\s+\S+\s+\S+\s+\S+\s+\S+\s*(.*)$/.exec(line);
    if (head) {
      const sizeKb = (parseInt(head[2], 16) - parseInt(head[1], 16)) / 1024;
      current = { name: head[3] || `[anonymous ${Math.round(sizeKb / 1024)} MB]`, rssKb: 0 };
      regions.push(current);
    } else if (current && line.startsWith('Rss:')) {
      current.rssKb = Number(line.split(/\s+/)[1]);
    }
  }
  const byName = new Map();
  for (const r of regions) byName.set(r.name, (byName.get(r.name) || 0) + r.rssKb);
  return [...byName.entries()].map(([name, rssKb]) => ({ name, rssKb })).sort((a, b) => b.rssKb - a.rssKb).slice(0, count);
}

const jack = startJack(`motifo-compare-${process.pid}`);
let motifo;
let motifoX;
let sooper;
let gui;
let failed = false;
const stopGui = () => {
  if (gui) for (const pid of [...descendants(gui.pid), gui.pid].reverse()) { try { process.kill(pid, 'SIGTERM'); } catch { /* gone */ } }
  gui = null;
};
const stopSooper = async () => {
  if (!sooper || sooper.exitCode !== null) return;
  sooper.kill('SIGTERM');
  await new Promise((r) => (sooper.exitCode !== null ? r() : sooper.once('exit', r)));
};
try {
  // Idle with both windows open: Motifo as it starts, SooperLooper with one loop.
  motifoX = await startX();
  motifo = await startMotifoOnJack(jack, motifoX ? { QT_QPA_PLATFORM: 'xcb', DISPLAY: motifoX.display } : {});
  sooper = startSooperLooper(jack, 1);
  await waitForPorts(jack, 'sooperlooper:');
  gui = startSooperLooperGui(work);
  await sleep(5000);
  const motifoProcs = () => ({ main: [motifo.pid], web: descendants(motifo.pid) });
  const sooperProcs = () => ({ engine: [sooper.pid], slgui: gui ? slguiPids(gui) : [] });
  const idleCpu = () => ({
    motifo: treeCpu(motifo.pid), motifoX: motifoX ? usage(motifoX.proc.pid).cpuSeconds : 0,
    sooper: usage(sooper.pid).cpuSeconds, sooperGui: gui ? treeCpu(gui.pid) : 0,
  });
  await motifo.detach();
  await sleep(2000);
  const idleBefore = idleCpu();
  await sleep(seconds * 1000);
  const idleAfter = idleCpu();
  await motifo.attach();
  const idlePer = (k) => (idleAfter[k] - idleBefore[k]) / seconds;
  const idle = {
    // CPU seconds per second, each program with the X server its window is drawn on.
    cpu_seconds_per_second: {
      motifo_with_web_renderer: idlePer('motifo'), motifo_x_server: idlePer('motifoX'),
      sooperlooper: idlePer('sooper'), slgui_and_x_server: idlePer('sooperGui'),
    },
    pss: { motifo: pssOf(motifoProcs()), sooperlooper_with_gui: pssOf(sooperProcs()) },
  };
  idle.motifo_over_sooperlooper_cpu = (idle.cpu_seconds_per_second.motifo_with_web_renderer + idle.cpu_seconds_per_second.motifo_x_server)
    / (idle.cpu_seconds_per_second.sooperlooper + idle.cpu_seconds_per_second.slgui_and_x_server);
  idle.motifo_over_sooperlooper_pss = idle.pss.motifo.total_kb / idle.pss.sooperlooper_with_gui.total_kb;
  const sooperIdle = usage(sooper.pid).rssKb;
  const motifoIdle = usage(motifo.pid).rssKb;
  const motifoRegions = largestRegions(motifo.pid, 8);
  idle.pss.empty_web_view = await emptyWebViewMemory();
  stopGui();
  await stopSooper();

  // Eight loops of 16 beats at 120 bpm in each.
  const loopFile = path.join(work, 'loop.wav');
  spawnSync('sox', ['-n', '-r', '44100', '-c', '2', '-b', '16', loopFile, 'synth', '8', 'pinknoise', 'vol', '0.1']);
  sooper = startSooperLooper(jack, 8);
  await waitForPorts(jack, 'sooperlooper:');
  await sleep(1000);
  osc('/set', 'sf', 'tempo', '120.0');
  for (let i = 0; i < 8; ++i) osc(`/sl/${i}/load_loop`, 'sss', loopFile, 'osc.udp://localhost:9/', '/error');
  await sleep(1000);
  osc('/sl/-1/hit', 's', 'trigger');

  await send(motifo.page, 'setTempo->120');
  await send(motifo.page, JSON.stringify({ loop_recorder: { beats: 16, record: true } }));
  for (let i = 0; i < 8; ++i) {
    await send(motifo.page, `noteOn->${60 + i}`);
    await sleep(300);
    await send(motifo.page, `noteOff->${60 + i}`);
    await send(motifo.page, 'createLoopFromLoopRecorder');
  }
  const ideas = await send(motifo.page, 'getIdeaCollection');
  const loopsPlaying = ideas?.idea_collection?.ideas?.[0]?.loops?.length ?? 0;
  const beats = (await send(motifo.page, 'getLoopRecorder'))?.loop_recorder?.num_beats;
  await sleep(2000);

  const sample = (gui) => {
    const m = threadCpu(motifo.pid);
    const s = threadCpu(sooper.pid);
    return {
      motifo: usage(motifo.pid).cpuSeconds, motifoTree: treeCpu(motifo.pid), sooper: usage(sooper.pid).cpuSeconds,
      motifoAudio: m.audio, motifoOther: m.other, sooperAudio: s.audio, sooperOther: s.other,
      sooperGui: gui ? treeCpu(gui.pid) : 0,
    };
  };
  const before = sample();
  await sleep(seconds * 1000);
  const after = sample();
  const perSecond = (k) => (after[k] - before[k]) / seconds;

  // The same again with SooperLooper's window open.
  let guiPerSecond = null;
  gui = startSooperLooperGui(work);
  if (gui) {
    await sleep(5000);
    const guiBefore = sample(gui);
    await sleep(seconds * 1000);
    const guiAfter = sample(gui);
    const per = (k) => (guiAfter[k] - guiBefore[k]) / seconds;
    guiPerSecond = { sooperlooper: per('sooper'), slgui_and_x_server: per('sooperGui'), motifo_with_web_renderer: per('motifoTree') };
  }
  const pssPlaying = { motifo: pssOf(motifoProcs()), sooperlooper_with_gui: pssOf(sooperProcs()) };
  const result = {
    seconds,
    loops: { motifo: loopsPlaying, motifo_beats: beats, sooperlooper: 8 },
    cpu_seconds_per_audio_second: {
      motifo: perSecond('motifo'),
      motifo_with_web_renderer: perSecond('motifoTree'),
      sooperlooper: perSecond('sooper'),
    },
    // The real-time audio thread (engine and JACK client) apart from the
    // rest of each process (Motifo: the window, its page and MIDI input).
    cpu_seconds_per_audio_second_by_thread: {
      motifo_audio: perSecond('motifoAudio'),
      motifo_other: perSecond('motifoOther'),
      sooperlooper_audio: perSecond('sooperAudio'),
      sooperlooper_other: perSecond('sooperOther'),
    },
    motifo_over_sooperlooper: perSecond('motifo') / perSecond('sooper'),
    // Both with their windows: Motifo and its web renderer next to SooperLooper
    // and slgui (with its X server).
    with_windows: guiPerSecond && {
      ...guiPerSecond,
      motifo_over_sooperlooper: guiPerSecond.motifo_with_web_renderer / (guiPerSecond.sooperlooper + guiPerSecond.slgui_and_x_server),
    },
    idle_with_windows: idle,
    pss_playing: { ...pssPlaying, motifo_over_sooperlooper: pssPlaying.motifo.total_kb / pssPlaying.sooperlooper_with_gui.total_kb },
    resident_kb_idle: { motifo: motifoIdle, sooperlooper: sooperIdle },
    resident_kb_playing: { motifo: usage(motifo.pid).rssKb, sooperlooper: usage(sooper.pid).rssKb },
    motifo_largest_regions_idle: motifoRegions,
  };
  console.log(JSON.stringify(result, null, 2));
  failed = loopsPlaying !== 8;
} catch (e) {
  console.error(String(e.stack || e));
  failed = true;
} finally {
  stopGui();
  if (sooper && sooper.exitCode === null) sooper.kill('SIGTERM');
  if (motifo) await motifo.stop();
  motifoX?.proc.kill('SIGTERM');
  jack.jackd.kill('SIGTERM');
  rmSync(work, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
