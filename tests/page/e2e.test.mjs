// The real program, offscreen: the page talks to the engine through nativeZub.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { mkdirSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { startMotifo } from './motifo.mjs';

const artifacts = path.join(path.dirname(fileURLToPath(import.meta.url)), 'artifacts');
async function screenshot(page, name) {
  mkdirSync(artifacts, { recursive: true });
  await page.screenshot({ path: path.join(artifacts, `${name}.png`) });
}
const ask = (page, text) => page.evaluate((t) => window.nativeZub.handleMessage(t), text);
// Chromium 102 lacks what Playwright's own visibility checks call: read the
// page directly.
const shown = (page, sel) => page.evaluate((s) => { const e = document.querySelector(s); return !!e && e.getClientRects().length > 0; }, sel);
const box = (page, sel) => page.evaluate((s) => document.querySelector(s).getBoundingClientRect().toJSON(), sel);
async function typeTempo(page, bpm) {
  await page.evaluate((v) => {
    const input = document.querySelector('#tempo');
    input.value = v;
    input.dispatchEvent(new Event('change'));
  }, String(bpm));
}

describe('Motifo end to end', () => {
  let motifo;
  before(async () => { motifo = await startMotifo(); });
  after(async () => { await motifo?.stop(); });

  test('the metronome control unmutes the engine click', async () => {
    const { page } = motifo;
    const before = await page.evaluate(() => window.nativeZub.handleMessage('getMetronome'));
    assert.equal(JSON.parse(before).metronome.mute, true);

    await page.click('#metronome', { force: true });
    await page.waitForFunction(() => document.querySelector('#metronome').getAttribute('aria-pressed') === 'true');

    const reply = await page.evaluate(() => window.nativeZub.handleMessage('getMetronome'));
    assert.equal(JSON.parse(reply).metronome.mute, false);
  });

  test('every reply also arrives through handleMsgFromQt4, even an empty one', async () => {
    const { page } = motifo;
    const seen = await page.evaluate(async () => {
      const got = [];
      const original = window.handleMsgFromQt4;
      window.handleMsgFromQt4 = (t) => { got.push(t); original(t); };
      const r1 = await window.nativeZub.handleMessage('setTempo->90');
      const r2 = await window.nativeZub.handleMessage('getMicrosecondsUntilNextBeat');
      window.handleMsgFromQt4 = original;
      return { got, r1, r2 };
    });
    assert.equal(seen.r1, '');
    assert.match(seen.r2, /^\{ "transport" : \{ "usec_till_beat" : \d+ \} \}$/);
    assert.deepEqual(seen.got, ['', seen.r2]);
  });

  test('a first run greets the user once the page is up', async () => {
    assert.equal(motifo.welcome, true);
  });

  test('the page comes up whole against the engine', async () => {
    const { page } = motifo;
    assert.equal(await shown(page, '#idea-setup'), true);
    assert.equal(await page.locator('#keyboard .key').count(), 37);
    await screenshot(page, 'e2e-main');
  });

  test('a tempo typed on the page reaches the project and the loop recorder', async () => {
    const { page } = motifo;
    await typeTempo(page, 60);
    await page.waitForFunction(async () => JSON.parse(await window.nativeZub.handleMessage('getProject')).project.bpm === 60);
    // Sixteen beats at 60 bpm.
    const recorder = JSON.parse(await ask(page, 'getLoopRecorder')).loop_recorder;
    assert.equal(recorder.length_seconds, 16);
    assert.equal(await page.evaluate(() => document.querySelector('#tempo').value), '60');
    await typeTempo(page, 120);
    await page.waitForFunction(async () => JSON.parse(await window.nativeZub.handleMessage('getProject')).project.bpm === 120);
  });

  test('free takes and the dialogs open and close against the engine', async () => {
    const { page } = motifo;
    await page.click('#open-freestyle', { force: true });
    await page.waitForFunction(() => !document.querySelector('#freestyle-screen').hidden);
    await screenshot(page, 'e2e-freestyle');
    await page.click('#freestyle-close', { force: true });
    await page.waitForFunction(() => !document.querySelector('#idea-setup').hidden);
    await page.click('#menu-button', { force: true });
    await page.waitForFunction(() => document.querySelector('#main-menu').open);
    await page.click('#main-menu [data-action="help"]', { force: true });
    await page.waitForFunction(() => document.querySelector('#help').open);
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.querySelector('dialog[open]'));
  });

  // Needs the loop recorder and ideas in the engine (and rendering for its
  // last part); runs as far as the engine answers.
  test('record with the loop recorder, keep, clone, mute, switch and render to the page', async (t) => {
    const { page } = motifo;
    if (!(await ask(page, 'getLoopRecorder')) || !(await ask(page, 'getIdeaCollection'))) {
      t.skip('the engine has no loop recorder or idea collection yet');
      return;
    }
    await page.click('#record', { force: true });
    await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'true');
    for (const key of ['60', '64', '67']) {
      const b = await box(page, `#keyboard [data-note="${key}"]`);
      await page.mouse.move(b.x + b.width / 2, b.y + b.height - 8);
      await page.mouse.down();
      await page.waitForTimeout(150);
      await page.mouse.up();
    }
    await page.click('#record', { force: true });
    await page.click('#keep-loop', { force: true });
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 1);
    const drawn = await page.$eval('#loops canvas', (c) => {
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      let n = 0;
      for (let i = 3; i < d.length; i += 4) if (d[i] > 0) n++;
      return n;
    });
    assert.ok(drawn > 20, 'the loop is drawn from its notes or waveform');
    await page.click('#idea-clone', { force: true });
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 2);
    await page.click('#loops [data-role="mute"]', { force: true });
    await page.waitForFunction(() => document.querySelector('#loops [data-role="mute"]').getAttribute('aria-pressed') === 'true');
    await page.click('#ideas .idea-item >> nth=0', { force: true });
    await page.waitForFunction(() => document.querySelector('#loops [data-role="mute"]')?.getAttribute('aria-pressed') === 'false');
    await screenshot(page, 'e2e-ideas');
    await page.click('#menu-button', { force: true });
    await page.click('#main-menu [data-action="render-page"]', { force: true });
    await page.waitForFunction(() => !document.querySelector('#render-download').hidden ||
      /Nothing was rendered/.test(document.querySelector('#render-text').textContent), null, { timeout: 60000 });
    if (await page.evaluate(() => document.querySelector('#render-download').hidden)) {
      await page.keyboard.press('Escape');
      t.skip('the engine does not render to the page yet');
      return;
    }
    const header = await page.evaluate(async () => {
      const buf = await (await fetch(document.querySelector('#render-download').href)).arrayBuffer();
      const b = new Uint8Array(buf, 0, 44);
      const v = new DataView(buf);
      return { tag: String.fromCharCode(...b.slice(0, 4)) + String.fromCharCode(...b.slice(8, 16)),
        channels: v.getUint16(22, true), rate: v.getUint32(24, true), bits: v.getUint16(34, true),
        data: v.getUint32(40, true), size: buf.byteLength };
    });
    assert.deepEqual({ ...header, data: undefined, size: undefined },
      { tag: 'RIFFWAVEfmt ', channels: 2, rate: 44100, bits: 16, data: undefined, size: undefined });
    assert.equal(header.size, header.data + 44);
    await page.keyboard.press('Escape');
  });

  test('the page reports the native backend and no console errors', async () => {
    const { page, consoleErrors } = motifo;
    assert.equal(await page.evaluate(() => window.nativeZub.nativeBackendId()), 'Qt4');
    assert.deepEqual(consoleErrors, []);
  });
});
