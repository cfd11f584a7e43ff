// The installed package's half of scripts/package-check: Motifo runs inside
// the clean root with remote debugging on `port`; this checks that its page
// came up from the installed files and that a note played on it reaches the
// root's JACK server, recorded there with jack_capture.
//   node tests/page/packagecheck.mjs <port> <root> <jack server name>
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { connect, openPage } from './motifo.mjs';

const [port, root, server] = process.argv.slice(2);
const inRoot = (args) => ['chroot', root, 'env', `JACK_DEFAULT_SERVER=${server}`, 'JACK_NO_AUDIO_RESERVATION=1', ...args];

const browser = await connect(Number(port));
try {
  const { page, consoleErrors } = await openPage(browser);
  assert.equal(page.url(), 'file:///usr/share/motifo/html/zub.html');
  await page.waitForFunction(() => document.querySelector('#instrument-logo').naturalWidth > 0);
  console.log('package-check: the page is up with the installed content');

  const [command, ...args] = inRoot(['jack_capture', '--port', 'motifo:out_0', '--port', 'motifo:out_1', '-d', '4',
    '/tmp/note.wav']);
  const capture = spawn(command, args, { stdio: 'ignore' });
  const captured = new Promise((resolve) => capture.once('exit', resolve));
  await new Promise((r) => setTimeout(r, 1000));
  await page.evaluate(() => window.nativeZub.handleMessage('noteOn->60'));
  await new Promise((r) => setTimeout(r, 1500));
  await page.evaluate(() => window.nativeZub.handleMessage('noteOff->60'));
  assert.equal(await captured, 0, 'jack_capture recorded');
  const stat = spawnSync('sox', [`${root}/tmp/note.wav`, '-n', 'stat'], { encoding: 'utf8' }).stderr;
  const rms = Number(/RMS\s+amplitude:\s+([\d.]+)/.exec(stat)?.[1]);
  assert.ok(rms > 0.005, `the note is heard at the JACK server (RMS ${rms})`);
  assert.deepEqual(consoleErrors, []);
  console.log(`package-check: a note played through JACK (RMS ${rms.toFixed(4)})`);
} finally {
  await browser.close().catch(() => {});
}
