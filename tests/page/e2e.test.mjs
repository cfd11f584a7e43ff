// The real program, offscreen: the page talks to the engine through nativeZub.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { startMotifo } from './motifo.mjs';

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

  test('the page reports the native backend and no console errors', async () => {
    const { page, consoleErrors } = motifo;
    assert.equal(await page.evaluate(() => window.nativeZub.nativeBackendId()), 'Qt4');
    assert.deepEqual(consoleErrors, []);
  });
});
