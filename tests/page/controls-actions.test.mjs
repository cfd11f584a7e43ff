// A MIDI control runs the page's own action: each bound action sends the
// program exactly what its button or key sends, and shows the same.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { setup, waitIdle, mark, sentSince, recordSomething } from './harness.mjs';

// The song every case starts from: two loops in an idea and its clone.
async function prepare(page) {
  for (const n of [1, 2]) {
    await recordSomething(page);
    await page.click('#keep-loop');
    await page.waitForFunction((c) => document.querySelectorAll('#loops .loop-card').length === c, n);
  }
  await page.click('#idea-clone');
  await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 2);
  await waitIdle(page);
}

// What a user can see change.
const shown = (page) => page.evaluate(() => ({
  record: document.querySelector('#record').getAttribute('aria-pressed'),
  beats: document.querySelector('#recorder-beats').value,
  keep: document.querySelector('#keep-loop').disabled,
  octave: document.querySelector('#octave').textContent,
  metronome: document.querySelector('#metronome').getAttribute('aria-pressed'),
  transport: document.querySelector('#transport .transport-text').textContent,
  ideas: [...document.querySelectorAll('#ideas .idea-item')].map((b) => b.getAttribute('aria-label')),
  mutes: [...document.querySelectorAll('#loops [data-role="mute"]')].map((b) => b.getAttribute('aria-pressed')),
}));

// Polls of the playhead and the beat come on their own clock.
const POLLS = new Set(['getLoopRecorder', 'getMicrosecondsUntilNextBeat']);

const CASES = [
  ['record', (p) => p.click('#record')],
  ['keep_loop', (p) => p.click('#keep-loop'), recordSomething],
  ['clear_recorder', (p) => p.click('#recorder-clear'), recordSomething],
  ['play_stop', (p) => p.click('#transport')],
  ['metronome', (p) => p.click('#metronome')],
  // From the last of two ideas round to the first, and back.
  ['next_idea', (p) => p.click('#ideas .idea-item >> nth=0')],
  ['previous_idea', (p) => p.click('#ideas .idea-item >> nth=1')],
  ['clone_idea', (p) => p.click('#idea-clone')],
  ['mute_loop_2', (p) => p.click('#loops .loop-card >> nth=1 >> [data-role="mute"]')],
  ['length_down', (p) => p.selectOption('#recorder-beats', '8')],
  ['length_up', (p) => p.selectOption('#recorder-beats', '16')],
  ['octave_up', (p) => p.click('#octave-up')],
  ['octave_down', (p) => p.click('#octave-down')],
  ['undo', async (p) => { await p.locator('body').focus(); await p.keyboard.press('Control+z'); }],
  ['redo', async (p) => { await p.locator('body').focus(); await p.keyboard.press('Control+Shift+Z'); }],
];

describe('MIDI controls run the page\'s actions', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  const press = (page, action) => page.evaluate((a) => window.__fake.push(`{ "midi_map" : { "action" : "${a}" } }`), action);
  async function settle(page, m) {
    await page.waitForTimeout(150);
    await waitIdle(page);
    return { sent: (await sentSince(page, m)).filter((t) => !POLLS.has(t)), shown: await shown(page) };
  }

  // One page by hand and one by MIDI, step for step: they stay alike.
  test('each bound action does what its button or key does', async () => {
    const byHand = await h.open();
    const byMidi = await h.open();
    for (const { page } of [byHand, byMidi]) await prepare(page);
    for (const [action, act, beforeStep] of CASES) {
      for (const { page } of [byHand, byMidi]) await beforeStep?.(page);
      const start = await shown(byHand.page);
      const marks = [await mark(byHand.page), await mark(byMidi.page)];
      await act(byHand.page);
      await press(byMidi.page, action);
      const viaPage = await settle(byHand.page, marks[0]);
      const viaMidi = await settle(byMidi.page, marks[1]);
      assert.ok(viaPage.sent.length > 0 || JSON.stringify(viaPage.shown) !== JSON.stringify(start),
        `${action}: the button does something`);
      assert.deepEqual(viaMidi, viaPage, action);
    }
    assert.deepEqual(byMidi.errors, []);
  });

  test('taps from a pedal set the tempo as the Tap button does', async () => {
    const { page, errors } = await h.open();
    const m = await mark(page);
    for (let i = 0; i < 4; i++) {
      await press(page, 'tap_tempo');
      await page.waitForTimeout(400);
    }
    await page.waitForFunction(() => document.querySelector('#tempo').value !== '120');
    await page.waitForTimeout(1500);
    const tempo = (await sentSince(page, m)).filter((t) => t.startsWith('setTempo->'));
    assert.equal(tempo.length, 1, 'one tempo once the taps stop');
    const bpm = Number(tempo[0].split('->')[1]);
    assert.ok(bpm > 100 && bpm <= 150, `${bpm} bpm from taps 400 ms apart`);
    assert.deepEqual(errors, []);
  });

  test('away from the ideas screen the recorder and idea actions wait, as their keys do', async () => {
    const { page } = await h.open();
    await prepare(page);
    await page.click('#open-freestyle');
    await page.waitForFunction(() => document.body.dataset.screen === 'takes');
    await waitIdle(page);
    const m = await mark(page);
    for (const a of ['record', 'keep_loop', 'play_stop', 'next_idea', 'mute_loop_1', 'length_up'])
      await page.evaluate((x) => window.__fake.push(`{ "midi_map" : { "action" : "${x}" } }`), a);
    await page.waitForTimeout(150);
    await waitIdle(page);
    assert.deepEqual((await sentSince(page, m)).filter((t) => !POLLS.has(t) && t !== 'getFreestyleRecorder'), []);
  });
});
