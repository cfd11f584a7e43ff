// MIDI learn through the real program: recorded controller messages go in
// where a device would (MOTIFO_MIDI_EVENTS), through the program's own
// decoding, and the page binds them and runs its actions with them.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { appendFileSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { playKeys, startMotifo } from './motifo.mjs';

const ask = (page, text) => page.evaluate((t) => window.nativeZub.handleMessage(t), text);
const loops = (page) => page.evaluate(() => document.querySelectorAll('#loops .loop-card').length);
const bindingText = (page, action) => page.textContent(`#control-${action}-binding`);

describe('MIDI controls end to end', () => {
  let motifo;
  let folder;
  let events;
  // The controller: message bytes in hex, one message a line.
  const pedal = (...lines) => appendFileSync(events, lines.map((l) => `${l}\n`).join(''));

  before(async () => {
    folder = mkdtempSync(path.join(tmpdir(), 'motifo-controls-'));
    events = path.join(folder, 'events');
    writeFileSync(events, '');
    motifo = await startMotifo({ audio: true, env: { MOTIFO_MIDI_EVENTS: events } });
    // Every press the page is told about, counted.
    await motifo.page.evaluate(() => {
      window.__presses = [];
      const original = window.handleMsgFromQt4;
      window.handleMsgFromQt4 = (text) => {
        const action = text && text.includes('"action"') ? JSON.parse(text).midi_map?.action : undefined;
        if (action) window.__presses.push(action);
        original(text);
      };
    });
  });
  after(async () => {
    await motifo?.stop();
    rmSync(folder, { recursive: true, force: true });
  });

  async function recordSomething(page) {
    await page.click('#record', { force: true });
    await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'true');
    await playKeys(page, ['60', '64']);
    await page.click('#record', { force: true });
    await page.waitForFunction(() => !document.querySelector('#keep-loop').disabled, null, { timeout: 10000 });
  }
  const presses = (page) => page.evaluate(() => window.__presses.length);

  test('Keep loop learnt from a pedal keeps a loop once per press, momentary or toggle', async (t) => {
    const { page, consoleErrors } = motifo;
    if (!motifo.audio) { t.skip('needs the audio clock of a JACK server'); return; }
    assert.equal(await page.textContent('#midi-input'), 'MIDI keyboard: Recorded events');

    await page.click('#menu-button', { force: true });
    await page.click('#main-menu [data-action="controls"]', { force: true });
    await page.waitForFunction(() => document.querySelector('#controls').open);
    assert.equal(await bindingText(page, 'keep_loop'), 'Not bound');
    await page.click('[data-action="keep_loop"] [data-role="learn"]', { force: true });
    await page.waitForFunction(() => document.querySelector('#control-keep_loop-binding').textContent === 'Move a control…');
    pedal('B0 50 7F', 'B0 50 00');
    await page.waitForFunction(() => document.querySelector('#control-keep_loop-binding').textContent === 'CC 80 on channel 1');
    assert.equal(await page.getAttribute('[data-action="keep_loop"] [data-role="learn"]', 'aria-pressed'), 'false');
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.querySelector('#controls').open);
    assert.equal(await presses(page), 0, 'the press that was learnt runs nothing');

    // Momentary: the press keeps, the release does nothing.
    await recordSomething(page);
    pedal('B0 50 7F');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 1);
    pedal('B0 50 00');
    await recordSomething(page);
    await page.waitForTimeout(300);
    assert.equal(await loops(page), 1, 'a release keeps nothing');
    assert.equal(await presses(page), 1);

    // Toggle, chosen in the panel: each change of value is one press, and a
    // bounce within one read is none.
    await ask(page, '{ "midi_map" : { "switch" : { "action" : "keep_loop", "kind" : "toggle" } } }');
    pedal('B0 50 7F', 'B0 50 00', 'B0 50 7F');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 2);
    await page.waitForTimeout(300);
    assert.equal(await presses(page), 2);

    // A pad's note, learnt through the API, runs Record on/off.
    await ask(page, '{ "midi_map" : { "learn" : "record" } }');
    pedal('90 30 64', '80 30 00');
    await page.waitForFunction(() => document.querySelector('#control-record-binding').textContent === 'Note 48 on channel 1');
    // A second hit within 30 ms of the first would be taken for bounce.
    await page.waitForTimeout(100);
    pedal('90 30 64', '80 30 00');
    await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'true');
    assert.deepEqual(consoleErrors, []);
  });

  // Each action bound to a CC of its own, pressed once: what the page shows
  // before and after, read from the page the real program drives.
  const cc = (n) => n.toString(16).toUpperCase().padStart(2, '0');
  const ideaName = () => document.querySelector('#idea-name').textContent;
  const STEPS = [
    ['clone_idea', ideaName, 'A New Idea', 'A New Idea 2'],
    // From the last idea round to the first, and back.
    ['next_idea', ideaName, 'A New Idea 2', 'A New Idea'],
    ['previous_idea', ideaName, 'A New Idea', 'A New Idea 2'],
    ['mute_loop_2', () => document.querySelectorAll('#loops [data-role="mute"]')[1].getAttribute('aria-pressed'), 'false', 'true'],
    ['metronome', () => document.querySelector('#metronome').getAttribute('aria-pressed'), 'false', 'true'],
    ['octave_up', () => document.querySelector('#octave').textContent, '4', '5'],
    ['octave_down', () => document.querySelector('#octave').textContent, '5', '4'],
    ['clear_recorder', () => document.querySelector('#recorder-clear').disabled, false, true, recordSomething],
    // With the recorder empty no question comes first.
    ['length_down', () => document.querySelector('#recorder-beats').value, '16', '8'],
    ['length_up', () => document.querySelector('#recorder-beats').value, '8', '16'],
    ['play_stop', () => document.querySelector('#transport').getAttribute('aria-label'), 'Stop the song (Space)', 'Play the song (Space)'],
    ['play_stop', () => document.querySelector('#transport').getAttribute('aria-label'), 'Play the song (Space)', 'Stop the song (Space)'],
  ];
  const LEARNT = ['undo', 'redo', 'tap_tempo', ...new Set(STEPS.map(([a]) => a))];
  const controlOf = (action) => 0x14 + LEARNT.indexOf(action);

  async function until(page, read, want, what) {
    const deadline = Date.now() + 15000;
    let got;
    while ((got = await page.evaluate(read)) !== want) {
      if (Date.now() > deadline) assert.fail(`${what}: ${JSON.stringify(got)}, expected ${JSON.stringify(want)}`);
      await page.waitForTimeout(50);
    }
  }
  // One press and release of the action's control, once the page has the
  // press; a later press of the same control comes after the bounce time.
  async function pressControl(page, action) {
    const before = await presses(page);
    pedal(`B0 ${cc(controlOf(action))} 7F`, `B0 ${cc(controlOf(action))} 00`);
    await page.waitForFunction((n) => window.__presses.length === n + 1, before);
    await page.waitForTimeout(100);
  }

  test('every action learnt from a controller runs in the program; pedal undo and redo take an edit back and forth', async (t) => {
    const { page, consoleErrors } = motifo;
    if (!motifo.audio) { t.skip('needs the audio clock of a JACK server'); return; }
    const pressedBefore = await presses(page);
    for (const action of LEARNT) {
      await ask(page, `{ "midi_map" : { "learn" : "${action}" } }`);
      pedal(`B0 ${cc(controlOf(action))} 7F`, `B0 ${cc(controlOf(action))} 00`);
      await page.waitForFunction(([a, text]) => document.querySelector(`#control-${a}-binding`).textContent === text,
        [action, `CC ${controlOf(action)} on channel 1`]);
    }
    assert.equal(await presses(page), pressedBefore, 'learning runs nothing');

    // The pad left the recorder recording; it stops it, and a take is kept by hand.
    pedal('90 30 64', '80 30 00');
    await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'false');
    await recordSomething(page);
    await page.click('#keep-loop', { force: true });
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 3);
    const history = async () => JSON.parse(await ask(page, 'getHistory')).history;
    assert.equal((await history()).undo, 'Keep Loop');

    await pressControl(page, 'undo');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 2);
    await page.waitForFunction(() => !document.querySelector('#keep-loop').disabled, null, { timeout: 10000 });
    assert.equal((await history()).redo, 'Keep Loop', 'the take is back in the recorder');
    await pressControl(page, 'redo');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 3);
    await page.waitForFunction(() => document.querySelector('#keep-loop').disabled);
    assert.equal((await history()).undo, 'Keep Loop');

    for (const [action, read, from, to, beforeStep] of STEPS) {
      await beforeStep?.(page);
      await until(page, read, from, `${action}, before`);
      await pressControl(page, action);
      await until(page, read, to, action);
    }

    // Taps from a pedal reach the engine, which the kept loops hold at 120 bpm.
    for (let i = 0; i < 4; i++) await pressControl(page, 'tap_tempo');
    await page.waitForFunction(() => document.querySelector('#tempo-error').textContent === 'The kept loops hold the tempo at 120 bpm',
      null, { timeout: 10000 });
    assert.deepEqual(consoleErrors, []);
  });
});
