// The real program, offscreen: the page talks to the engine through nativeZub.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { mkdirSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { playKeys, startMotifo, typeTempo } from './motifo.mjs';

const artifacts = path.join(path.dirname(fileURLToPath(import.meta.url)), 'artifacts');
async function screenshot(page, name) {
  mkdirSync(artifacts, { recursive: true });
  await page.screenshot({ path: path.join(artifacts, `${name}.png`) });
}
const ask = (page, text) => page.evaluate((t) => window.nativeZub.handleMessage(t), text);
const engineState = async (page, command, key) => JSON.parse(await ask(page, command))[key];
const activeIdea = async (page) => {
  const c = await engineState(page, 'getIdeaCollection', 'idea_collection');
  return c.ideas.find((i) => i.id === c.active_idea_id) || null;
};
const near = (actual, expected, tolerance, what) =>
  assert.ok(Math.abs(actual - expected) <= tolerance, `${what}: ${actual}, expected about ${expected}`);
// Chromium 102 lacks what Playwright's own visibility checks call: read the
// page directly.
const shown = (page, sel) => page.evaluate((s) => { const e = document.querySelector(s); return !!e && e.getClientRects().length > 0; }, sel);
const box = (page, sel) => page.evaluate((s) => document.querySelector(s).getBoundingClientRect().toJSON(), sel);
const loopCount = (page) => page.evaluate(() => document.querySelectorAll('#loops .loop-card').length);
// Renders the engine's mix to the page and measures what arrived: the
// frames its header declares and the level of the samples.
function renderLevel(page) {
  return page.evaluate(() => new Promise((resolve) => {
    const parts = [];
    const original = window.handleMsgFromQt4;
    window.handleMsgFromQt4 = (text) => {
      original(text);
      const wave = text ? JSON.parse(text).wave : undefined;
      if (wave?.data) parts.push(Uint8Array.from(atob(wave.data), (c) => c.charCodeAt(0)));
      if (wave?.end !== true) return;
      window.handleMsgFromQt4 = original;
      const bytes = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
      let o = 0;
      for (const p of parts) { bytes.set(p, o); o += p.length; }
      const samples = new Int16Array(bytes.buffer, 44, (bytes.length - 44) >> 1);
      let sum = 0;
      for (const v of samples) sum += v * v;
      resolve({ frames: new DataView(bytes.buffer).getUint32(40, true) / 4, rms: Math.sqrt(sum / Math.max(1, samples.length)) });
    };
    window.nativeZub.handleMessage('render');
  }));
}
async function chooseInstrument(page, id) {
  await page.click('#instrument-button', { force: true });
  await page.waitForFunction(() => document.querySelector('#instrument-picker').open);
  await page.click(`.instrument-tile[data-id="${id}"]`, { force: true });
}

describe('Motifo end to end', () => {
  let motifo;
  before(async () => { motifo = await startMotifo({ audio: true }); });
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
      const r1 = await window.nativeZub.handleMessage('getIdea');
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
    await page.click('#freestyle-close', { force: true });
    await page.waitForFunction(() => !document.querySelector('#idea-setup').hidden);
    await page.click('#menu-button', { force: true });
    await page.waitForFunction(() => document.querySelector('#main-menu').open);
    await page.click('#main-menu [data-action="help"]', { force: true });
    await page.waitForFunction(() => document.querySelector('#help').open);
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.querySelector('dialog[open]'));
  });

  test('record with the loop recorder, keep, clone, mute and switch', async () => {
    const { page } = motifo;
    await page.click('#record', { force: true });
    await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'true');
    await playKeys(page, ['60', '64', '67']);
    await page.click('#record', { force: true });
    await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'false');
    await page.waitForFunction(() => !document.querySelector('#keep-loop').disabled);
    await page.click('#keep-loop', { force: true });
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 1);
    assert.equal(await page.evaluate(() => document.querySelector('#keep-loop').disabled), true, 'nothing left to keep');
    const [kept] = (await activeIdea(page)).loops;
    assert.deepEqual(kept.notes.map((n) => n.note), [60, 64, 67]);
    assert.equal(kept.num_beats, 16);
    near(kept.length_seconds, 8, 1e-4, 'sixteen beats at 120 bpm');
    assert.equal(await page.getAttribute('#loops canvas', 'aria-label'), '3 notes');
    const drawn = await page.$eval('#loops canvas', (c) => {
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      let n = 0;
      for (let i = 3; i < d.length; i += 4) if (d[i] > 0) n++;
      return n;
    });
    assert.ok(drawn > 20, 'the loop is drawn from its notes');

    await page.click('#idea-clone', { force: true });
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 2);
    assert.equal(await page.textContent('#idea-name'), 'A New Idea 2');
    await page.click('#loops [data-role="mute"]', { force: true });
    await page.waitForFunction(() => document.querySelector('#loops [data-role="mute"]').getAttribute('aria-pressed') === 'true');
    assert.equal((await activeIdea(page)).loops[0].mute, true);
    await page.click('#ideas .idea-item >> nth=0', { force: true });
    await page.waitForFunction(() => document.querySelector('#loops [data-role="mute"]')?.getAttribute('aria-pressed') === 'false');
    const first = await activeIdea(page);
    assert.equal(first.name, 'A New Idea');
    assert.equal(first.loops[0].mute, false);
    await screenshot(page, 'e2e-ideas');

  });

  test('Ctrl+Z brings back a cleared recording and a deleted idea, sample for sample; Ctrl+Shift+Z does it again', async () => {
    const { page } = motifo;
    const checksum = async (of) => (await engineState(page, `getAudioChecksum:${of}`, 'audio_checksum')).fnv1a;
    const ideaIds = async () => (await engineState(page, 'getIdeaCollection', 'idea_collection')).ideas.map((i) => i.id);
    const press = async (keys) => {
      await page.locator('body').focus();
      await page.keyboard.press(keys);
    };

    await page.click('#record', { force: true });
    await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'true');
    await playKeys(page, ['62', '65']);
    await page.click('#record', { force: true });
    await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'false');
    await page.waitForFunction(() => !document.querySelector('#recorder-clear').disabled);
    const take = await checksum('recorder');
    await page.click('#recorder-clear', { force: true });
    await page.waitForFunction(() => document.querySelector('#recorder-clear').disabled);
    const cleared = await checksum('recorder');
    assert.notEqual(cleared, take);
    await press('Control+z');
    await page.waitForFunction(() => !document.querySelector('#recorder-clear').disabled);
    assert.equal(await checksum('recorder'), take, 'the take is back, every sample');
    assert.equal((await engineState(page, 'getHistory', 'history')).redo, 'Clear Recorder');
    await press('Control+Shift+Z');
    await page.waitForFunction(() => document.querySelector('#recorder-clear').disabled);
    assert.equal(await checksum('recorder'), cleared);

    const ids = await ideaIds();
    assert.equal(ids.length, 2, 'two ideas from the test before');
    const doomed = await activeIdea(page);
    const sums = await Promise.all(doomed.loops.map((l) => checksum(l.id)));
    await page.click('#idea-delete', { force: true });
    await page.click('#idea-delete-slot button.danger', { force: true });
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 1);
    assert.equal((await engineState(page, 'getHistory', 'history')).undo, 'Delete Idea');
    await press('Control+z');
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 2);
    assert.deepEqual(await ideaIds(), ids);
    const back = await activeIdea(page);
    assert.equal(back.id, doomed.id);
    assert.deepEqual(back.loops.map((l) => l.id), doomed.loops.map((l) => l.id));
    assert.deepEqual(await Promise.all(back.loops.map((l) => checksum(l.id))), sums);
    await press('Control+Shift+Z');
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 1);
    assert.ok(!(await ideaIds()).includes(doomed.id));
    await press('Control+z');
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 2);
    assert.deepEqual(await ideaIds(), ids);
  });

  test('Stop fades the song out and silences the click; Play brings the idea back on the next bar', async () => {
    const { page } = motifo;
    const idea = await activeIdea(page);
    assert.equal((await engineState(page, 'getMetronome', 'metronome')).mute, false, 'the click is on');
    await page.click('#transport', { force: true });
    await page.waitForFunction(() => document.querySelector('#transport').getAttribute('aria-label') === 'Play the song (Space)');
    const stopped = await engineState(page, 'getIdeaCollection', 'idea_collection');
    assert.deepEqual([stopped.active_idea_id, stopped.stopped], [0, true]);
    // The engine's own mix while stopped: nothing but the (silent) instrument.
    const quiet = await renderLevel(page);
    assert.ok(quiet.rms < 30, `a stopped song renders silent, click on: ${quiet.rms}`);
    await page.keyboard.press(' ');
    await page.waitForFunction(() => document.querySelector('#transport').getAttribute('aria-label') === 'Stop the song (Space)');
    const playing = await engineState(page, 'getIdeaCollection', 'idea_collection');
    assert.deepEqual([playing.active_idea_id, playing.stopped], [idea.id, false]);
  });

  test('an instrument chosen from the catalogue loads, is shown, and a note then sounds', async () => {
    const { page } = motifo;
    const groups = (await engineState(page, 'getInstrumentCollection', 'instrument_collection')).instrument_groups;
    await page.click('#instrument-button', { force: true });
    await page.waitForFunction(() => document.querySelector('#instrument-picker').open);
    const titles = await page.$$eval('.group-head span:last-child', (n) => n.map((x) => x.textContent));
    assert.equal(titles.length, groups.length);
    assert.deepEqual([titles[0], titles[titles.length - 1]], ['Essentials', 'Live Inputs']);
    assert.equal(await page.locator('.instrument-tile').count(), groups.reduce((n, g) => n + g.instruments.length, 0));
    assert.equal(await page.getAttribute('.instrument-tile[aria-current="true"]', 'data-id'), '1');
    const [r, g, b] = groups[0].colour_header.match(/[0-9a-f]{2}/gi).map((x) => parseInt(x, 16));
    assert.equal(await page.$eval('.group-head', (n) => getComputedStyle(n).backgroundColor), `rgb(${r}, ${g}, ${b})`);
    await page.evaluate(() => document.querySelectorAll('#instrument-picker img').forEach((i) => { i.loading = 'eager'; }));
    await page.waitForFunction(() => [...document.querySelectorAll('#instrument-picker img')].every((i) => i.complete && i.naturalWidth > 0));
    await screenshot(page, 'e2e-instruments');

    // Loading 1 and 0 may arrive within one task: record every change.
    await page.evaluate(() => {
      window.__loadingSeen = [];
      new MutationObserver(() => window.__loadingSeen.push(document.querySelector('#instrument-loading').hidden))
        .observe(document.querySelector('#instrument-loading'), { attributes: true, attributeFilter: ['hidden'] });
    });
    await page.click('.instrument-tile[data-id="4019"]', { force: true });
    await page.waitForFunction(() => document.querySelector('#instrument-name').textContent === 'Church Organ' &&
      document.querySelector('#instrument-loading').hidden);
    assert.deepEqual(await page.evaluate(() => window.__loadingSeen), [false, true]);
    const current = await engineState(page, 'getInstrument', 'instrument');
    assert.deepEqual([current.id, current.instrument_type], [4019, 3]);
    await page.waitForFunction(() => document.querySelector('#instrument-logo').naturalWidth > 0);
    assert.equal(await page.getAttribute('#instrument-button', 'aria-busy'), 'false');

    // Only the instrument is left in the mix: the click, the recorder and
    // the idea's loops are silenced from the page.
    await page.click('#metronome', { force: true });
    await page.waitForFunction(() => document.querySelector('#metronome').getAttribute('aria-pressed') === 'false');
    await page.click('#recorder-clear', { force: true });
    await page.click('#loops [data-role="mute"]', { force: true });
    await page.waitForFunction(() => document.querySelector('#loops [data-role="mute"]').getAttribute('aria-pressed') === 'true');
    const quiet = await renderLevel(page);
    const key = await box(page, '#keyboard [data-note="60"]');
    await page.mouse.move(key.x + key.width / 2, key.y + key.height - 8);
    await page.mouse.down();
    await page.waitForFunction(() => document.querySelector('#keyboard [data-note="60"]').classList.contains('down') ||
      document.querySelector('#held-notes').textContent !== '');
    const played = await renderLevel(page);
    await page.mouse.up();
    assert.equal(played.frames, quiet.frames);
    assert.ok(quiet.rms < 30, `silence renders silent: ${quiet.rms}`);
    assert.ok(played.rms > 300, `the held note sounds in the render: ${played.rms}`);
    await page.click('#loops [data-role="mute"]', { force: true });
    await page.waitForFunction(() => document.querySelector('#loops [data-role="mute"]').getAttribute('aria-pressed') === 'false');
  });

  test('a drum loop is browsed, played at the tempo, re-timed, stopped and played again', async () => {
    const { page } = motifo;
    const collection = (await engineState(page, 'getDrumLoopCollection', 'drum_loop_collection')).drum_loops;
    const index = collection.findIndex((d) => d.display_name === 'Hip Hop');
    assert.ok(index >= 0, 'the build ships the Hip Hop drum loop');
    const before = (await activeIdea(page)).loops.length;
    await page.click('#drums-button', { force: true });
    await page.waitForFunction(() => document.querySelector('#beat-picker').open);
    assert.equal(await page.locator('.drum-tile').count(), collection.length);
    await page.evaluate(() => document.querySelectorAll('#beat-picker img').forEach((i) => { i.loading = 'eager'; }));
    await page.waitForFunction(() => [...document.querySelectorAll('#beat-picker img')].every((i) => i.complete && i.naturalWidth > 0));
    await screenshot(page, 'e2e-drums');
    assert.equal(await page.getAttribute(`.drum-tile >> nth=${index}`, 'aria-label'), 'Hip Hop, 90 bpm, 8 beats');

    const drumLoop = async (count) => {
      await page.waitForFunction((n) => document.querySelectorAll('#loops .loop-card').length === n, count);
      const loops = (await activeIdea(page)).loops;
      return loops.find((l) => l.notes.length === 0 && l.waveform !== '');
    };
    // The song has loops at 120 bpm: the drum loop of 90 bpm is re-timed to the song.
    const kept = (await activeIdea(page)).loops.map((l) => [l.id, l.length_seconds]);
    await page.click(`.drum-tile >> nth=${index}`, { force: true });
    await page.waitForFunction(() => document.querySelector('#drum-name').textContent === 'Hip Hop');
    const at120 = await drumLoop(before + 1);
    assert.equal(at120.num_beats, 8);
    near(at120.length_seconds, 4, 1e-9, 'eight beats at the song\'s 120 bpm: 176,400 frames');
    assert.equal((await engineState(page, 'getProject', 'project')).bpm, 120);
    assert.equal(await page.inputValue('#tempo'), '120');
    for (const [id, seconds] of kept) {
      assert.equal((await activeIdea(page)).loops.find((l) => l.id === id).length_seconds, seconds, 'kept loops untouched');
    }
    assert.equal((await engineState(page, 'getLoopRecorder', 'loop_recorder')).num_beats, 16);

    // Kept loops hold the song's tempo: a typed tempo is refused while they are there.
    await typeTempo(page, 90);
    await page.waitForFunction(() => document.querySelector('#tempo-error').textContent.includes('kept loops hold the tempo'));
    assert.equal(await page.inputValue('#tempo'), '120');
    assert.equal((await engineState(page, 'getProject', 'project')).bpm, 120, 'kept loops refuse another tempo');
    assert.equal((await drumLoop(before + 1)).id, at120.id, 'the drum loop stays as it was');

    await page.click('#drum-stop', { force: true });
    await page.waitForFunction(() => !document.querySelector('#drum-play').disabled);
    assert.equal(await drumLoop(before), undefined);
    await page.click('#drum-play', { force: true });
    const again = await drumLoop(before + 1);
    near(again.length_seconds, at120.length_seconds, 1e-9, 'played again at the song\'s tempo');
    assert.equal(await page.evaluate(() => document.querySelector('#drum-stop').disabled), false);
    await typeTempo(page, 120);
    await page.waitForFunction(async () => JSON.parse(await window.nativeZub.handleMessage('getProject')).project.bpm === 120);
  });

  test('a loop without notes is drawn from the engine\'s waveform summary', async () => {
    const { page } = motifo;
    const loop = (await activeIdea(page)).loops.find((l) => l.notes.length === 0);
    assert.match(loop.waveform, /^(\d\d)+$/);
    const values = loop.waveform.match(/\d\d/g).map(Number);
    assert.ok(values.length >= 512 && Math.max(...values) > 10, 'the summary holds the drum loop');
    const sel = `#loops [data-loop="${loop.id}"] canvas`;
    assert.equal(await page.getAttribute(sel, 'aria-label'), 'Waveform');
    // Each column's drawn height follows the summary's values under it.
    const columns = await page.$eval(sel, (c) => {
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      const heights = [];
      for (let x = 0; x < c.width; x++) {
        let n = 0;
        for (let y = 0; y < c.height; y++) if (d[(y * c.width + x) * 4 + 3] > 0) n++;
        heights.push(n);
      }
      return heights;
    });
    // A value's bar starts at i * step and is at least a pixel wide, so it
    // may touch the next column too.
    const step = columns.length / values.length;
    const expected = columns.map((_, x) => {
      const from = Math.max(0, Math.ceil((x - 1) / step));
      const to = Math.min(values.length, Math.ceil((x + 1) / step));
      return Math.max(0, ...values.slice(from, to));
    });
    const mean = (a) => a.reduce((s, v) => s + v, 0) / a.length;
    const [mx, my] = [mean(columns), mean(expected)];
    let sxy = 0, sxx = 0, syy = 0;
    columns.forEach((h, i) => { sxy += (h - mx) * (expected[i] - my); sxx += (h - mx) ** 2; syy += (expected[i] - my) ** 2; });
    const correlation = sxy / Math.sqrt(sxx * syy);
    await screenshot(page, 'e2e-waveform');
    assert.ok(correlation > 0.9, `drawn heights follow the summary (r = ${correlation.toFixed(3)})`);

    await page.click('#drums-button', { force: true });
    await page.click('#drum-clear', { force: true });
    await page.waitForFunction(() => document.querySelector('#drum-name').textContent === 'None');
    await page.waitForFunction((id) => !document.querySelector(`#loops [data-loop="${id}"]`), loop.id);
  });

  test('a free take appears after the silence, a tapped tempo snaps it, and it is kept in the idea', async (t) => {
    const { page } = motifo;
    if (!motifo.audio) { t.skip('needs the audio clock of a JACK server'); return; }
    const before = (await activeIdea(page)).loops.length;
    await page.click('#open-freestyle', { force: true });
    await page.waitForFunction(() => document.querySelector('#freestyle-status').textContent === 'Idle');
    await page.evaluate(() => {
      window.__statuses = [];
      new MutationObserver(() => window.__statuses.push(document.querySelector('#freestyle-status').textContent))
        .observe(document.querySelector('#freestyle-status'), { childList: true, characterData: true, subtree: true });
    });
    await playKeys(page, ['60', '62', '64', '65'], 120);
    await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length === 1, null, { timeout: 15000 });
    assert.deepEqual(await page.evaluate(() => window.__statuses), ['Recording', 'Idle']);
    const [take] = (await engineState(page, 'getFreestyleRecorder', 'freestyle_recorder')).loops;
    assert.deepEqual(take.notes.map((n) => n.note), [60, 62, 64, 65]);
    // The take ends after more than a second of silence.
    assert.ok(take.length_seconds > 1.5, `take of ${take.length_seconds} s`);
    assert.equal(await page.getAttribute('#takes canvas', 'aria-label'), '4 notes');
    await screenshot(page, 'e2e-freestyle');

    // Cancel on the tempo screen goes back to the takes with this one heard again.
    await page.click('#takes [data-role="tempo"]', { force: true });
    await page.waitForFunction(() => !document.querySelector('#tempo-screen').hidden);
    await page.click('#tempo-cancel', { force: true });
    await page.waitForFunction(() => !document.querySelector('#freestyle-screen').hidden &&
      document.querySelector('#takes [data-role="play"]').getAttribute('aria-pressed') === 'true');
    const back = await engineState(page, 'getFreestyleRecorder', 'freestyle_recorder');
    assert.deepEqual([back.status, back.loops[0].id, back.loops[0].mute], ['Idle', take.id, false]);

    await page.click('#takes [data-role="tempo"]', { force: true });
    await page.waitForFunction(() => !document.querySelector('#tempo-screen').hidden &&
      document.querySelector('#tempo-canvas').getAttribute('aria-label') === '4 notes');
    await page.click('#tempo-play-once', { force: true });
    // Four taps half a second apart: 120 bpm over a span of 1.5 s, so the
    // take snaps to the 4 beats (2 s) nearest to the span plus a beat.
    // Timed in the page: the debugging connection's delays would skew them.
    await page.evaluate(() => new Promise((resolve) => {
      let taps = 0;
      const tap = () => {
        document.querySelector('#tap-along').dispatchEvent(new PointerEvent('pointerdown', { bubbles: true, button: 0 }));
        if (++taps < 4) setTimeout(tap, 500); else resolve();
      };
      tap();
    }));
    await page.waitForFunction(() => /^4 taps/.test(document.querySelector('#tap-info').textContent));
    await page.click('#tap-snap', { force: true });
    await page.waitForFunction(() => !document.querySelector('#tempo-accept').disabled);
    // The loops kept before hold the song's tempo: the take snaps to it.
    assert.match(await page.textContent('#snap-result'), /^Snapped to 4 beats at the song's 120 bpm, which the kept loops hold/);
    const bpm = 120;
    const [snapped] = (await engineState(page, 'getFreestyleTempoDetector', 'freestyle_tempo_detector')).loops;
    assert.equal(snapped.id, take.id);
    assert.equal(snapped.num_beats, 4);
    near(snapped.length_seconds, (4 * 60) / bpm, 2e-3, 'four beats at the tapped tempo');
    await screenshot(page, 'e2e-tempo');

    await page.click('#tempo-accept', { force: true });
    await page.waitForFunction(() => !document.querySelector('#idea-setup').hidden);
    await page.waitForFunction((n) => document.querySelectorAll('#loops .loop-card').length === n, before + 1);
    const kept = (await activeIdea(page)).loops.find((l) => l.id === take.id);
    assert.ok(kept, 'the take is a loop of the active idea');
    assert.equal(kept.num_beats, 4);
    near((await engineState(page, 'getProject', 'project')).bpm, bpm, 0.05, 'the project takes the tapped tempo');
    assert.equal(await page.inputValue('#tempo'), String(Math.round(bpm * 10) / 10));
  });

  test('the page stays responsive while a live input pushes its level', async (t) => {
    const { page } = motifo;
    if (!motifo.audio) { t.skip('needs the audio clock of a JACK server'); return; }
    const input = (await engineState(page, 'getInstrumentCollection', 'instrument_collection')).instrument_groups
      .flatMap((g) => g.instruments).find((i) => i.id >= 500 && i.id <= 599);
    assert.ok(input, 'the JACK server offers a live input');
    await chooseInstrument(page, input.id);
    await page.waitForFunction(() => !document.querySelector('#input-meter').hidden);
    const seen = await page.evaluate(() => new Promise((resolve) => {
      let levels = 0;
      let longest = 0;
      let last = performance.now();
      const original = window.handleMsgFromQt4;
      window.handleMsgFromQt4 = (t) => { if (t.includes('input_vu_meter')) levels++; original(t); };
      const end = last + 1500;
      const tick = (now) => {
        longest = Math.max(longest, now - last);
        last = now;
        if (now < end) { requestAnimationFrame(tick); return; }
        window.handleMsgFromQt4 = original;
        resolve({ levels, longest, valuetext: document.querySelector('#input-meter').getAttribute('aria-valuetext') });
      };
      requestAnimationFrame(tick);
    }));
    assert.ok(seen.levels >= 15, `levels every 50 ms: ${seen.levels} in 1.5 s`);
    assert.ok(seen.longest < 250, `longest frame ${seen.longest} ms`);
    assert.ok(seen.valuetext, 'the meter reports its level');
    const t0 = Date.now();
    await page.click('#metronome', { force: true });
    await page.waitForFunction(() => document.querySelector('#metronome').getAttribute('aria-pressed') === 'true');
    assert.ok(Date.now() - t0 < 1000, 'a control answers at once');
    await chooseInstrument(page, 1);
    await page.waitForFunction(() => document.querySelector('#input-meter').hidden);
  });

  test('a hostile idea name travels to the page and back as plain text', async () => {
    const { page } = motifo;
    const hostile = `it's "x" \\ </script><img src=x onerror="window.pwned=1"> ../..\u2028line\nbreak`;
    const shown = await page.evaluate(async (name) => {
      const state = JSON.parse(await window.nativeZub.handleMessage('getIdeaCollection'));
      const id = state.idea_collection.active_idea_id;
      await window.nativeZub.handleMessage(JSON.stringify({ idea_collection: { ideas: [{ id, name }] } }));
      const after = JSON.parse(await window.nativeZub.handleMessage('getIdeaCollection'));
      return after.idea_collection.ideas.find((i) => i.id === id).name;
    }, hostile);
    assert.equal(shown, hostile, 'the engine keeps the name as it was sent');
    await page.waitForFunction((name) => document.querySelector('#idea-name').textContent === name, hostile);
    assert.equal(await page.evaluate(() => window.pwned), undefined);
    assert.equal(await page.$$eval('#ideas img, #idea-name img', (els) => els.length), 0);
  });

  test('the page reports the native backend and no console errors', async () => {
    const { page, consoleErrors } = motifo;
    assert.equal(await page.evaluate(() => window.nativeZub.nativeBackendId()), 'Qt4');
    assert.deepEqual(consoleErrors, []);
  });
});
