// A manual check, not a test: the JACK server stopped under a playing Motifo,
// then started again. Prints whether the program lives, what it says and
// whether its audio cycle runs again.   node tests/page/serverloss.mjs
import { spawn, execFileSync } from 'node:child_process';
import { startMotifo } from './motifo.mjs';
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const m = await startMotifo({ audio: true });
const ask = (t) => m.page.evaluate((x) => window.nativeZub.handleMessage(x), t);
const pos = async () => JSON.parse(await ask('getLoopRecorder')).loop_recorder.play_pos_frame;
const jackPid = () => execFileSync('ps', ['-o', 'pid=,args=', '--ppid', String(process.pid)], { encoding: 'utf8' })
  .split('\n').filter((l) => / jackd /.test(` ${l.trim().split(/\s+/).slice(1).join(' ')} `)).map((l) => Number(l.trim().split(/\s+/)[0]))[0];
const alive = () => { try { process.kill(m.pid, 0); return true; } catch { return false; } };
try {
  const a = await pos(); await sleep(1000); const b = await pos();
  console.log(`playing: recorder frame ${a} -> ${b}`);
  const jp = jackPid();
  const args = execFileSync('ps', ['-o', 'args=', '-p', String(jp)], { encoding: 'utf8' }).trim();
  console.log(`stopping jackd ${jp}: ${args}`);
  const logStart = m.logs.join('').length;
  process.kill(jp, 'SIGTERM');
  await sleep(5000);
  console.log(`motifo alive after 5 s: ${alive()}`);
  const c = await pos(); await sleep(1000); const d = await pos();
  console.log(`without the server: recorder frame ${c} -> ${d}`);
  const banner = () => m.page.evaluate(() => { const b = document.querySelector('#device-problems'); return b && !b.hidden ? b.textContent : '(none)'; });
  console.log(`page banner: ${await banner()}`);
  const name = /-n (\S+)/.exec(args)[1];
  const env = { ...process.env, JACK_NO_AUDIO_RESERVATION: '1' };
  const jackd = spawn('jackd', ['--no-realtime', '-n', name, '-d', 'dummy', '-r', '44100', '-p', '512'], { env, stdio: 'ignore' });
  execFileSync('jack_wait', ['-s', name, '-w', '-t', '10'], { env });
  console.log('server started again');
  await sleep(10000);
  const e = await pos(); await sleep(1000); const f = await pos();
  console.log(`after 10 s with the server back: recorder frame ${e} -> ${f}; motifo alive: ${alive()}; page banner: ${await banner()}`);
  console.log('log lines since the stop:\n' + m.logs.join('').slice(logStart).split('\n').filter((l) => !/number of ideas|getLoopRecorder|^ALSA|JackShm|connect to server|not running/.test(l)).slice(0, 30).join('\n'));
  jackd.kill('SIGTERM');
} finally {
  await m.stop();
}
