// A JACK dummy server for the soak and the comparison, and Motifo on it.
import { spawn, spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { startMotifo } from '../../tests/page/motifo.mjs';

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// jackd -d dummy at 44,100 Hz and 256-frame periods under its own name; the
// environment in .env points clients at it. SOAK_DEBUG=1 shows when each
// xrun came, in ms from the start.
export function startJack(serverName) {
  const env = { ...process.env, JACK_DEFAULT_SERVER: serverName };
  const log = [];
  const t0 = Date.now();
  const jackd = spawn('jackd', ['-R', '-n', serverName, '-d', 'dummy', '-r', '44100', '-p', '256'],
    { env, stdio: ['ignore', 'pipe', 'pipe'] });
  const keep = (d) => {
    log.push(String(d));
    if (!process.env.SOAK_DEBUG) return;
    for (const line of String(d).split('\n')) if (line.includes('XRun')) console.error(Date.now() - t0, line);
  };
  jackd.stdout.on('data', keep);
  jackd.stderr.on('data', keep);
  const ready = spawnSync('jack_wait', ['-s', serverName, '-w', '-t', '10'], { env });
  if (ready.status !== 0) throw new Error(`jackd did not start: ${log.join('')}`);
  return { jackd, log, env, ports: () => spawnSync('jack_lsp', ['-s', serverName], { env, encoding: 'utf8' }).stdout };
}

// Motifo with its output on the server's JACK device.
// env adds to the program's environment (a display to show the window on).
// MOTIFO_PROGRAM names another copy of the program (one beside its own page
// and res/, for a before and after).
export async function startMotifoOnJack(jack, env = {}) {
  const prepareHome = (home) => {
    const dir = path.join(home, 'data', 'Quavertone', 'Motifo');
    mkdirSync(dir, { recursive: true });
    // The index is looked up again by name and host API when it does not match.
    writeFileSync(path.join(dir, 'settings.xml'), `<!DOCTYPE settings>
<settings>
 <AudioDevice>0. system (JACK Audio Connection Kit)</AudioDevice>
 <AudioDeviceSampleRate>44100</AudioDeviceSampleRate>
 <AudioDeviceBufferSize>256</AudioDeviceBufferSize>
</settings>
`);
  };
  const motifo = await startMotifo({ env: { JACK_DEFAULT_SERVER: jack.env.JACK_DEFAULT_SERVER, ...env }, prepareHome,
    program: process.env.MOTIFO_PROGRAM || undefined });
  if (!jack.ports().includes('motifo:')) {
    await motifo.stop();
    throw new Error(`Motifo is not on the JACK server:\n${motifo.logs.join('')}`);
  }
  return motifo;
}

// One message through the page's native bridge; the parsed reply or null.
export async function send(page, message) {
  const reply = await page.evaluate((m) => window.nativeZub.handleMessage(m), message);
  if (!reply) return null;
  try { return JSON.parse(reply); } catch { return null; }
}

// CPU seconds (user + system) and resident kB of a process from /proc.
export function usage(pid) {
  const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
  const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
  const ticks = Number(fields[11]) + Number(fields[12]);
  const rss = Number(/VmRSS:\s+(\d+)/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);
  return { cpuSeconds: ticks / 100, rssKb: rss };
}
