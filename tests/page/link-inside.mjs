// The end-to-end Link test proper; e2e-link.test.mjs runs it inside a
// network namespace with loopback only, and it refuses to run anywhere else.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { after, before, test } from 'node:test';
import { startMotifo, typeTempo } from './motifo.mjs';

if (!process.env.MOTIFO_LINK_NAMESPACE) throw new Error('Link is switched on only inside a loopback-only network namespace');

// Polls check() until it gives something, or fails with why().
async function until(check, why, ms = 15000) {
  const deadline = Date.now() + ms;
  for (;;) {
    const found = await check();
    if (found) return found;
    if (Date.now() > deadline) throw new Error(why());
    await new Promise((r) => setTimeout(r, 100));
  }
}

// LinkHut, a terminal program, in a tmux session of its own on Motifo's
// JACK server.
class LinkHut {
  constructor(jack) {
    this.socket = `motifo-page-linkhut-${process.pid}`;
    this.tmux('new-session', '-d', '-x', '120', '-y', '20', '-e', `JACK_DEFAULT_SERVER=${jack}`, '-e', 'JACK_NO_START_SERVER=1', 'LinkHut');
  }

  tmux(...args) {
    return spawnSync('tmux', ['-L', this.socket, ...args], { encoding: 'utf8', timeout: 10000 }).stdout || '';
  }

  press(key) { this.tmux('send-keys', key); }

  // Its status line, e.g. "yes | 1 | 4 | no [stopped] | 121.00 | 9.06 | XXOO".
  status() {
    const m = /^(yes|no)\s*\|\s*(\d+)\s*\|\s*\d+\s*\|\s*(yes|no)\s*\[\w+\]\s*\|\s*([\d.]+)/m.exec(this.tmux('capture-pane', '-p'));
    return m ? { enabled: m[1] === 'yes', peers: Number(m[2]), tempo: Number(m[4]) } : null;
  }

  waitFor(done, what) {
    return until(() => { const s = this.status(); return s && done(s) ? s : null; },
      () => `LinkHut never ${what}: ${JSON.stringify(this.status())}`);
  }

  // Quit, so that LinkHut leaves the JACK server as a client should.
  async quit() {
    this.press('q');
    const deadline = Date.now() + 5000;
    while (Date.now() < deadline && this.tmux('list-panes', '-F', '#{pane_dead}') !== '') await new Promise((r) => setTimeout(r, 50));
    this.tmux('kill-server');
  }
}

let motifo;
let hut;
before(async () => {
  motifo = await startMotifo({ audio: true });
  if (motifo.audio) hut = new LinkHut(motifo.jack);
});
after(async () => {
  await hut?.quit();
  await motifo?.stop();
});

const getLink = (page) => page.evaluate(async () => JSON.parse(await window.nativeZub.handleMessage('getLink')).link);
async function tempoShown(page, bpm) {
  try {
    await page.waitForFunction((b) => document.querySelector('#tempo').value === b, String(bpm), { timeout: 10000 });
  } catch (e) {
    const project = await page.evaluate(() => window.nativeZub.handleMessage('getProject'));
    throw new Error(`the page shows ${await page.inputValue("#tempo")}, not ${bpm}: ${JSON.stringify(await getLink(page))}, LinkHut ${JSON.stringify(hut.status())} ${project}\n${motifo.logs.join('').slice(-3000)}`);
  }
}

test('switched on beside the tempo, Link finds LinkHut, the page shows the peer and the session\'s tempo', async () => {
  const { page, consoleErrors } = motifo;
  assert.ok(motifo.audio, 'a JACK server came up');
  await hut.waitFor((s) => s !== null, 'started');
  hut.press('a');
  await hut.waitFor((s) => s.enabled, 'switched Link on');
  hut.press('e'); // 121 bpm
  await hut.waitFor((s) => Math.abs(s.tempo - 121) < 0.01, 'went to 121 bpm');
  // A jam that was there first: when two sessions meet, Link keeps the older one.
  await new Promise((r) => setTimeout(r, 1000));
  await typeTempo(page, 100);
  await tempoShown(page, 100);
  assert.deepEqual(await getLink(page), { enabled: false, start_stop_sync: false, peers: 0, tempo: 100 });
  assert.equal(await page.getAttribute('#link', 'aria-pressed'), 'false');

  await page.click('#link', { force: true });
  // The program pushes the peer it finds; the page shows it beside the tempo.
  await page.waitForFunction(() => document.querySelector('#link').getAttribute('aria-pressed') === 'true'
    && document.querySelector('#link-peers').textContent === '1', null, { timeout: 10000 });
  assert.equal(await page.textContent('#link-peers-text'), '1 peer');
  // The song joins LinkHut's session and takes its tempo.
  await tempoShown(page, 121);
  const on = await getLink(page);
  assert.deepEqual({ ...on, tempo: Math.round(on.tempo * 100) / 100 }, { enabled: true, start_stop_sync: false, peers: 1, tempo: 121 });
  await hut.waitFor((s) => s.peers === 1 && Math.abs(s.tempo - 121) < 0.01, 'kept its tempo with Motifo in');

  // LinkHut's change reaches the page's tempo; the page's reaches LinkHut.
  hut.press('e');
  await tempoShown(page, 122);
  await typeTempo(page, 90);
  await hut.waitFor((s) => Math.abs(s.tempo - 90) < 0.01, 'took the tempo typed on the page');

  // Off in the settings: no peer, and LinkHut is alone again.
  await page.click('#menu-button', { force: true });
  await page.click('#main-menu [data-action="settings"]', { force: true });
  await page.waitForFunction(() => document.querySelector('#settings').open && document.querySelector('#link-enabled').checked);
  await page.click('#link-enabled', { force: true });
  await page.waitForFunction(() => document.querySelector('#link').getAttribute('aria-pressed') === 'false'
    && document.querySelector('#link-peers').hidden);
  assert.equal((await getLink(page)).enabled, false);
  await hut.waitFor((s) => s.peers === 0, 'lost Motifo');
  assert.deepEqual(consoleErrors, []);
});
