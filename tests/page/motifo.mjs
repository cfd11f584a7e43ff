// Starts the real program offscreen with its page open to remote debugging,
// and connects playwright-core to it.
import { spawn, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repoRoot = path.resolve(here, '..', '..');
export const buildDir = process.env.MOTIFO_BUILD_DIR || path.join(repoRoot, 'build');

// The program offscreen, its page open to remote debugging on port, every
// folder it writes inside home.
export function programEnv(home, port) {
  return {
    QT_QPA_PLATFORM: 'offscreen',
    QTWEBENGINE_DISABLE_SANDBOX: '1',
    QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${port}`,
    XDG_DATA_HOME: path.join(home, 'data'),
    XDG_CONFIG_HOME: path.join(home, 'config'),
    XDG_RUNTIME_DIR: home,
    HOME: home,
  };
}

// A port for the program's debugger to listen on. The program binds it a
// moment after this returns; a port from the kernel's ephemeral range
// (32768-60999) could meanwhile become the local end of any outgoing
// connection, so one is taken below it, free when asked.
const PORTS = { first: 20000, count: 12000 };

function portIsFree(port) {
  return new Promise((resolve) => {
    const srv = createServer();
    srv.once('error', () => resolve(false));
    srv.listen(port, '127.0.0.1', () => srv.close(() => resolve(true)));
  });
}

export async function freePort() {
  for (let i = 0; i < 100; i++) {
    const port = PORTS.first + Math.floor(Math.random() * PORTS.count);
    if (await portIsFree(port)) return port;
  }
  throw new Error('no free port for the debugger');
}

async function waitForDevtools(port, proc, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  while (Date.now() < deadline) {
    if (proc && proc.exitCode !== null) throw new Error(`motifo exited with ${proc.exitCode}`);
    try {
      const res = await fetch(`http://127.0.0.1:${port}/json/version`);
      if (res.ok) return;
    } catch { /* not up yet */ }
    await new Promise((r) => setTimeout(r, 200));
  }
  throw new Error('the program did not open its debugging port');
}

// JACK keeps a registry of eight server names, and a server that dies
// without ending cleanly keeps its entry until a server of the same name
// starts again. So test servers take their names from a small fixed set, each
// held by a lock for the server's life (the server inherits it), and the next
// server of that name takes a dead one's entry back.
const JACK_NAMES = 6;
const jackLockDir = path.join(tmpdir(), `motifo-jack-${process.getuid()}`);
const IN_LOCK = 'exec 9>>"$1"; flock -n 9 || exit 75; echo locked; shift; exec "$@"';

// Starts jackd as `name` once that name's lock is taken; resolves to the
// process, or null where another server holds the name.
function startJackAs(name, args) {
  mkdirSync(jackLockDir, { recursive: true });
  const env = { ...process.env, JACK_NO_AUDIO_RESERVATION: '1' };
  const jackd = spawn('sh', ['-c', IN_LOCK, 'sh', path.join(jackLockDir, `${name}.lock`), 'jackd', ...args],
    { env, stdio: ['ignore', 'pipe', 'pipe'] });
  jackd.output = '';
  const keep = (d) => { jackd.output = (jackd.output + d).slice(-4000); };
  jackd.stderr.on('data', keep);
  return new Promise((resolve) => {
    const onData = (d) => {
      keep(d);
      if (!/^locked$/m.test(jackd.output)) return;
      jackd.stdout.off('data', onData).on('data', keep);
      resolve(jackd);
    };
    jackd.stdout.on('data', onData);
    jackd.once('exit', (code) => resolve(code === 75 ? null : jackd));
  });
}

// A JACK server with the dummy driver gives the program a real audio clock
// without a sound card: { process, name }, or null where jackd is missing.
// A server that is installed but does not come up fails with its output.
async function startJack() {
  if (spawnSync('sh', ['-c', 'command -v jackd && command -v jack_wait && command -v flock']).status !== 0) return null;
  for (let attempt = 0; attempt < 600; ++attempt) {
    for (let slot = 0; slot < JACK_NAMES; ++slot) {
      const name = `motifo-test-${slot}`;
      const jackd = await startJackAs(name, ['--no-realtime', '-n', name, '-d', 'dummy', '-r', '44100', '-p', '512']);
      if (!jackd) continue;
      const up = spawnSync('jack_wait', ['-s', name, '-w', '-t', '10'],
        { env: { ...process.env, JACK_NO_AUDIO_RESERVATION: '1' }, timeout: 15000 });
      if (up.status === 0 && jackd.exitCode === null) return { process: jackd, name };
      await stopProcess(jackd, 'SIGKILL');
      throw new Error(`jackd did not come up as ${name}: ${jackd.output.trim()}`);
    }
    // Every name is taken by another test's server: wait for one to end.
    await new Promise((r) => setTimeout(r, 100));
  }
  throw new Error(`every JACK server name (motifo-test-0..${JACK_NAMES - 1}) stayed taken for a minute`);
}

// An X server of the test's own, so that the program's windows and native
// dialogs are real windows that xdotool can type into; null where Xvfb or
// xdotool are missing.
async function startDisplay({ width = 1280, height = 800 } = {}) {
  if (spawnSync('sh', ['-c', 'command -v Xvfb && command -v xdotool']).status !== 0) return null;
  const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', `${width}x${height}x24`, '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  const display = await new Promise((resolve) => {
    let text = '';
    const timer = setTimeout(() => resolve(null), 15000);
    xvfb.stdio[3].on('data', (d) => {
      text += String(d);
      if (text.includes('\n')) { clearTimeout(timer); resolve(`:${text.trim()}`); }
    });
    xvfb.once('exit', () => { clearTimeout(timer); resolve(null); });
  });
  if (!display) {
    xvfb.kill('SIGKILL');
    return null;
  }
  return { xvfb, display };
}

// Plays notes on the page's piano with the mouse, one after another.
export async function playKeys(page, notes, holdMs = 120) {
  for (const note of notes) {
    const b = await page.evaluate((n) => document.querySelector(`#keyboard [data-note="${n}"]`).getBoundingClientRect().toJSON(), note);
    await page.mouse.move(b.x + b.width / 2, b.y + b.height - 8);
    await page.mouse.down();
    await page.waitForTimeout(holdMs);
    await page.mouse.up();
  }
}

// Types a tempo into the tempo field as a user does, committing it.
export async function typeTempo(page, bpm) {
  await page.evaluate((v) => {
    const input = document.querySelector('#tempo');
    input.value = v;
    input.dispatchEvent(new Event('change'));
  }, String(bpm));
}

// Runs xdotool on the test's display; resolves with its output.
export function xdotool(display, args, timeoutMs = 20000) {
  const r = spawnSync('xdotool', args, { env: { ...process.env, DISPLAY: display }, timeout: timeoutMs, encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`xdotool ${args.join(' ')} failed: ${r.stderr || r.error || r.status}`);
  return r.stdout.trim();
}

// Waits for a window on the test's display whose title matches pattern and
// gives it the keyboard; resolves with its id. A window that goes away while
// xdotool looks at it (the dialog before) makes it fail; it then looks again.
export async function windowNamed(display, pattern, timeoutMs = 30000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    try {
      const id = xdotool(display, ['search', '--onlyvisible', '--name', pattern]).split('\n')[0];
      xdotool(display, ['windowfocus', '--sync', id]);
      return id;
    } catch (e) {
      if (Date.now() > deadline) throw e;
      await new Promise((r) => setTimeout(r, 100));
    }
  }
}

// Ends proc with `signal`; one that is still there half a minute later is
// killed outright.
function stopProcess(proc, signal = 'SIGTERM') {
  if (!proc || proc.exitCode !== null || proc.signalCode !== null) return Promise.resolve();
  return new Promise((r) => {
    const late = setTimeout(() => proc.kill('SIGKILL'), 30000);
    proc.once('exit', () => { clearTimeout(late); r(); });
    proc.kill(signal);
  });
}

// Options: cwd; env adds to the program's environment; prepareHome(home)
// runs before the program starts (to store settings, for example); audio:
// play through a JACK dummy server of its own (the stored device choice names
// its output), so the engine's cycle runs in real time; display: show the
// windows on an X server of the test's own instead of offscreen (true, or
// the screen's { width, height }; the result then has display); program:
// another copy of Motifo than the build tree's (an installed one); args: the
// program's arguments.
export async function startMotifo({ cwd, env = {}, prepareHome, audio = false, display = false, program, args = [] } = {}) {
  const jack = audio ? await startJack() : null;
  const x = display ? await startDisplay(display === true ? {} : display) : null;
  if (display && !x) {
    await stopProcess(jack?.process);
    throw new Error('Xvfb and xdotool are needed for the native dialogs (scripts/deps installs them)');
  }
  const port = await freePort();
  const home = mkdtempSync(path.join(tmpdir(), 'motifo-home-'));
  const logs = [];
  const jackd = jack?.process ?? null;
  const jackEnv = jack ? { JACK_DEFAULT_SERVER: jack.name, JACK_NO_AUDIO_RESERVATION: '1' } : {};
  if (jackd) {
    // PortAudio's index may differ: the program finds the device by its name.
    const settingsDir = path.join(home, 'data', 'Quavertone', 'Motifo');
    mkdirSync(settingsDir, { recursive: true });
    writeFileSync(path.join(settingsDir, 'settings.xml'),
      '<!DOCTYPE settings>\n<settings>\n <AudioDevice>0. system (JACK Audio Connection Kit)</AudioDevice>\n</settings>\n');
  }
  // After the audio device's setting: prepareHome may add to it.
  if (prepareHome) prepareHome(home);
  const proc = spawn(program || path.join(buildDir, 'motifo'), args, {
    cwd: cwd || home,
    env: {
      ...process.env,
      ...jackEnv,
      ...programEnv(home, port),
      ...(x ? { QT_QPA_PLATFORM: 'xcb', DISPLAY: x.display } : {}),
      ...env,
    },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  proc.stdout.on('data', (d) => logs.push(String(d)));
  proc.stderr.on('data', (d) => logs.push(String(d)));
  let browser;
  const stop = async () => {
    await browser?.close().catch(() => {});
    await stopProcess(proc);
    await stopProcess(jackd);
    await stopProcess(x?.xvfb);
    rmSync(home, { recursive: true, force: true });
  };
  try {
    browser = await connect(port, proc);
    const opened = await openPage(browser);
    const session = { ...opened, pid: proc.pid, audio: jackd !== null, jack: jack?.name ?? null, display: x?.display, home, logs, stop };
    // A debugger attached costs the page's processes time every frame:
    // detach() lets go of it, as a player has the program, attach() comes back.
    session.detach = async () => { await browser?.close().catch(() => {}); browser = null; };
    session.attach = async () => { browser = await connect(port, proc); Object.assign(session, await openPage(browser)); };
    return session;
  } catch (e) {
    await stop();
    // What the program said is all there is to go on once it is gone.
    e.message += `\n--- the program's output ---\n${logs.join('').slice(-4000)}`;
    throw e;
  }
}

// Connects to a Motifo that listens for remote debugging on `port`; `proc`,
// where this process started it, ends the wait early when it exits.
export async function connect(port, proc) {
  await waitForDevtools(port, proc, 30000);
  // QtWebEngine 6.4 is Chromium 102: no default context options.
  return chromium.connectOverCDP(`http://127.0.0.1:${port}`, { noDefaults: true });
}

// The program's page once it is up, with the first-run welcome closed.
export async function openPage(browser) {
  let page;
  const deadline = Date.now() + 30000;
  while (!page && Date.now() < deadline) {
    page = browser.contexts().flatMap((c) => c.pages()).find((p) => p.url().endsWith('zub.html'));
    if (!page) await new Promise((r) => setTimeout(r, 100));
  }
  if (!page) throw new Error('the page did not open');
  const consoleErrors = [];
  page.on('console', (m) => { if (m.type() === 'error') consoleErrors.push(m.text()); });
  page.on('pageerror', (e) => consoleErrors.push(String(e)));
  await page.waitForFunction(() => window.loaded_native === true && document.body.classList.contains('connected'),
    null, { timeout: 30000 });
  // A fresh home is a first run: the welcome covers the page until dismissed.
  await page.waitForFunction(() => document.body.dataset.ready === 'true', null, { timeout: 30000 });
  const welcome = await page.evaluate(() => document.querySelector('#welcome')?.open === true);
  await page.evaluate(() => document.querySelector('#welcome')?.close());

  return { page, welcome, consoleErrors };
}
