// Looping and arranging: the loop recorder, keeping loops, and the ideas
// with rename, clone, delete, switching and per-loop mute.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { setup, waitIdle, mark, sentSince, screenshot, recordSomething } from './harness.mjs';

async function recordNotes(page, notes) {
  await page.click('#record');
  await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'true');
  await page.locator('body').focus();
  for (const k of notes) {
    await page.keyboard.down(k);
    await page.waitForTimeout(30);
    await page.keyboard.up(k);
  }
}

async function keepLoop(page) {
  const before = await page.locator('#loops .loop-card').count();
  await page.waitForFunction(() => !document.querySelector('#keep-loop').disabled);
  await page.click('#keep-loop');
  await page.waitForFunction((n) => document.querySelectorAll('#loops .loop-card').length === n + 1, before);
}

describe('loop recorder', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('record toggles, the length is chosen in powers of two, clear empties it', async () => {
    const { page, errors } = await h.open();
    const m = await mark(page);
    await page.locator('body').focus();
    await page.keyboard.press('r');
    await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'true');
    assert.match(await page.textContent('#record'), /Recording/);
    const values = await page.$$eval('#recorder-beats option', (o) => o.map((x) => Number(x.value)));
    assert.deepEqual(values, [2, 4, 8, 16, 32, 64]);
    await page.selectOption('#recorder-beats', '4');
    await page.waitForFunction(() => document.querySelectorAll('#recorder-beat-marks span').length === 4);
    await page.evaluate(() => window.__fake.recordAudio());
    await page.waitForFunction(() => !document.querySelector('#recorder-clear').disabled);
    await page.click('#recorder-clear');
    await page.click('#record');
    await waitIdle(page);
    const s = (await sentSince(page, m)).filter((t) => t.startsWith('{'));
    assert.deepEqual(s.map((t) => JSON.parse(t)), [
      { loop_recorder: { record: true } },
      { loop_recorder: { beats: 4 } },
      { loop_recorder: { clear: true } },
      { loop_recorder: { record: false } },
    ]);
    assert.equal(await page.evaluate(() => window.__fake.state.recorder.seconds), 2);
    assert.deepEqual(errors, []);
  });

  test('the playhead steps through the beats from the recorder position, with few requests and no frame-by-frame work', async () => {
    const { page } = await h.open();
    await page.selectOption('#recorder-beats', '4'); // two seconds at 120 bpm: 4 steps of 500 ms
    const m = await mark(page);
    const { positions, writes, elapsed } = await page.evaluate(async () => {
      const line = document.querySelector('#recorder-line');
      const seen = [];
      let writes = 0;
      const obs = new MutationObserver((list) => { writes += list.length; });
      obs.observe(line, { attributes: true });
      const t0 = performance.now();
      const wrapped = () => seen.some((p, i) => i > 0 && p < seen[i - 1]);
      // Sample until the line has wrapped once: timers stretch on a busy machine.
      for (let i = 0; i < 30 && !(seen.length >= 6 && wrapped()); i++) {
        await new Promise((r) => setTimeout(r, 150));
        seen.push(Number(/translateX\(([\d.]+)%\)/.exec(line.style.transform)?.[1]));
      }
      obs.disconnect();
      return { positions: seen, writes, elapsed: performance.now() - t0 };
    });
    assert.ok(positions.every((p) => p >= 0 && p < 100), String(positions));
    assert.ok(positions.every((p) => Math.abs(p / 25 - Math.round(p / 25)) < 1e-6), `on beats: ${positions}`);
    assert.equal(new Set(positions).size, 4, String(positions));
    // The position wraps around within two seconds.
    assert.ok(positions.some((p, i) => i > 0 && p < positions[i - 1]), String(positions));
    // The line is written once per step, not on every display frame.
    assert.ok(writes <= elapsed / 500 + 2, `${writes} writes in ${Math.round(elapsed)} ms`);
    const asks = (await sentSince(page, m)).filter((t) => t === 'getLoopRecorder').length;
    // One request, plus the page's re-sync every few seconds if sampling ran long.
    assert.ok(asks <= 1 + Math.floor(elapsed / 3000), `asked ${asks} times`);
  });

  test('the playhead steps in the beat light\'s frame even when the two are synced to the engine some way apart', async () => {
    const { page, errors } = await h.open();
    await page.selectOption('#recorder-beats', '2'); // 120 bpm: the light and the playhead change every 500 ms
    const { frames, lineFrames, lightFrames, elapsed } = await page.evaluate(async () => {
      // The recorder's position arrives 70 ms ahead of the beat.
      const deliver = window.handleMsgFromQt4;
      window.handleMsgFromQt4 = (text) => deliver(text.replace(/"play_pos_frame"\s*:\s*(\d+)/,
        (_, f) => `"play_pos_frame" : ${Number(f) + Math.round(0.07 * 44100)}`));
      await window.nativeZub.handleMessage('getLoopRecorder');
      await new Promise((r) => setTimeout(r, 300));
      const line = document.querySelector('#recorder-line');
      const light = document.querySelector('#beat-light');
      let frames = 0;
      let lineFrames = 0;
      let lightFrames = 0;
      const obs = new MutationObserver((list) => {
        frames += 1;
        if (list.some((r) => r.target === line)) lineFrames += 1;
        if (list.some((r) => light.contains(r.target))) lightFrames += 1;
      });
      obs.observe(line, { attributes: true });
      obs.observe(light, { attributes: true, subtree: true });
      const t0 = performance.now();
      await new Promise((r) => setTimeout(r, 2000));
      obs.disconnect();
      window.handleMsgFromQt4 = deliver;
      return { frames, lineFrames, lightFrames, elapsed: performance.now() - t0 };
    });
    assert.ok(lineFrames >= 3 && lightFrames >= 3, `line ${lineFrames}, light ${lightFrames}`);
    // Apart, each would take a frame of its own: twice as many.
    assert.ok(frames <= elapsed / 500 + 2, `${frames} frames in ${Math.round(elapsed)} ms`);
    assert.deepEqual(errors, []);
  });

  test('a hidden page moves nothing and asks nothing; shown again, it picks up where the music is', async () => {
    const { page } = await h.open();
    await page.selectOption('#recorder-beats', '2'); // a step every 250 ms
    await page.waitForFunction(() => /translateX/.test(document.querySelector('#recorder-line').style.transform));
    const setHidden = (hidden) => page.evaluate((h) => {
      Object.defineProperty(document, 'hidden', { configurable: true, get: () => h });
      Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => (h ? 'hidden' : 'visible') });
      document.dispatchEvent(new Event('visibilitychange'));
    }, hidden);
    await setHidden(true);
    const m = await mark(page);
    const writes = await page.evaluate(async () => {
      let count = 0;
      const obs = new MutationObserver((list) => { count += list.length; });
      for (const id of ['recorder-line', 'recorder-time', 'beat-light'])
        obs.observe(document.getElementById(id), { attributes: true, childList: true, characterData: true, subtree: true });
      await new Promise((r) => setTimeout(r, 1200));
      obs.disconnect();
      return count;
    });
    assert.equal(writes, 0, 'drawn while hidden');
    assert.deepEqual(await sentSince(page, m), [], 'asked the program while hidden');
    await setHidden(false);
    const before = await page.$eval('#recorder-line', (l) => l.style.transform);
    await page.waitForFunction((t) => document.querySelector('#recorder-line').style.transform !== t, before);
  });

  test('slow tempos get more playhead steps per beat, so a step never lasts longer than a second', async () => {
    const { page } = await h.open();
    const table = [[30, 2], [59, 2], [60, 1], [120, 1], [200, 1]];
    const got = await page.evaluate(async (bpms) => {
      const { stepsPerBeat } = await import('./js/pulse.js');
      return bpms.map((bpm) => stepsPerBeat(60000 / bpm));
    }, table.map(([bpm]) => bpm));
    assert.deepEqual(got, table.map(([, steps]) => steps));
  });

  test('keep loop puts the recording into the first idea, drawn as a piano roll of its notes', async () => {
    const { page, errors } = await h.open();
    await recordNotes(page, ['a', 'd', 'g']);
    const m = await mark(page);
    await keepLoop(page);
    assert.ok((await sentSince(page, m)).includes('createLoopFromLoopRecorder'));
    assert.equal(await page.textContent('#idea-name'), 'A New Idea');
    assert.equal(await page.textContent('.loop-kind'), '3 notes');
    assert.equal(await page.getAttribute('.loop-canvas', 'aria-label'), '3 notes');
    // Some note colour was drawn on the canvas.
    const painted = await page.$eval('.loop-canvas', (c) => {
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      let n = 0;
      for (let i = 0; i < d.length; i += 4) if (d[i] > 200 && d[i + 1] > 120 && d[i + 2] < 100) n++;
      return n;
    });
    assert.ok(painted > 20, `painted ${painted}`);
    assert.match(await page.textContent('#status'), /Unsaved/);
    assert.deepEqual(errors, []);
  });
});

describe('ideas', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  async function twoLoops(page) {
    await recordSomething(page);
    await keepLoop(page);
    await recordSomething(page);
    await keepLoop(page);
  }

  test('audio loops are drawn from their waveform summary', async () => {
    const { page } = await h.open();
    await twoLoops(page);
    assert.equal(await page.getAttribute('.loop-canvas', 'aria-label'), 'Waveform');
    const painted = await page.$eval('.loop-canvas', (c) => {
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      let n = 0;
      for (let i = 3; i < d.length; i += 4) if (d[i] > 0) n++;
      return n / (d.length / 4);
    });
    assert.ok(painted > 0.1, `covered ${painted}`);
  });

  test('clone, mute a loop in the clone, switch back: each idea keeps its own mutes', async () => {
    const { page, errors } = await h.open();
    await twoLoops(page);
    const firstId = await page.evaluate(() => window.__fake.state.activeId);
    await page.click('#idea-clone');
    await page.waitForFunction(() => document.querySelector('#idea-name').textContent === 'A New Idea 2');
    assert.equal(await page.locator('#ideas .idea-item').count(), 2);
    assert.equal(await page.getAttribute('#ideas .idea-item >> nth=1', 'aria-current'), 'true');
    const m = await mark(page);
    await page.click('.loop-card >> nth=1 >> [data-role="mute"]');
    await page.waitForFunction(() => document.querySelector('.loop-card:nth-child(2) [data-role="mute"]').getAttribute('aria-pressed') === 'true');
    const cloneId = await page.evaluate(() => window.__fake.state.activeId);
    const loopId = await page.evaluate(() => window.__fake.state.ideas[1].loops[1].id);
    assert.deepEqual(JSON.parse((await sentSince(page, m)).find((t) => t.startsWith("{"))),
      { idea_collection: { ideas: [{ id: cloneId, loops: [{ id: loopId, mute: true }] }] } });
    await screenshot(page, 'ideas');
    // Back to the first idea: its loop plays.
    await page.click('#ideas .idea-item >> nth=0');
    await page.waitForFunction((id) => window.__fake.state.activeId === id, firstId);
    await page.waitForFunction(() => document.querySelector('.loop-card:nth-child(2) [data-role="mute"]').getAttribute('aria-pressed') === 'false');
    // And the clone still has it muted.
    await page.click('#ideas .idea-item >> nth=1');
    await page.waitForFunction(() => document.querySelector('.loop-card:nth-child(2)')?.classList.contains('muted'));
    assert.deepEqual(errors, []);
  });

  test('rename from the keyboard; Escape keeps the old name', async () => {
    const { page, errors } = await h.open();
    await twoLoops(page);
    await page.focus('#idea-rename');
    await page.keyboard.press('Enter');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'rename-input');
    await page.keyboard.type('Chorus');
    await page.keyboard.press('Escape');
    assert.equal(await page.textContent('#idea-name'), 'A New Idea');
    await page.click('#idea-rename');
    await page.fill('#rename-input', '  Verse   one ');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.querySelector('#idea-name').textContent === 'Verse one');
    assert.equal(await page.evaluate(() => window.__fake.state.ideas[0].name), 'Verse one');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'idea-rename');
    assert.deepEqual(errors, []);
  });

  test('delete asks once more in place; Keep cancels, Confirm deletes and the neighbour plays', async () => {
    const { page, errors } = await h.open();
    await twoLoops(page);
    await page.click('#idea-clone');
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 2);
    await page.click('#idea-delete');
    assert.equal(await page.evaluate(() => document.activeElement.textContent), 'Keep');
    await page.keyboard.press('Enter');
    assert.equal(await page.evaluate(() => window.__fake.state.ideas.length), 2);
    assert.equal(await page.evaluate(() => document.activeElement.id), 'idea-delete');
    const m = await mark(page);
    await page.click('#idea-delete');
    await page.click('text=Confirm');
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 1);
    const destroyed = JSON.parse((await sentSince(page, m)).find((t) => t.startsWith('{')));
    assert.equal(destroyed.idea_collection.ideas[0]._destroy, true);
    assert.equal(await page.textContent('#idea-name'), 'A New Idea');
    assert.deepEqual(errors, []);
  });

  test('a loop can be removed from the idea after confirming', async () => {
    const { page } = await h.open();
    await twoLoops(page);
    await page.click('.loop-card >> nth=0 >> [data-role="remove"]');
    await page.click('.loop-card >> nth=0 >> text=Confirm');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 1);
  });

  test('switching ideas works from the keyboard', async () => {
    const { page } = await h.open();
    await twoLoops(page);
    await page.click('#idea-clone');
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 2);
    await page.focus('#ideas .idea-item >> nth=0');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.querySelector('#ideas .idea-item').getAttribute('aria-current') === 'true');
    assert.equal(await page.evaluate(() => document.activeElement.dataset.id), String(await page.evaluate(() => window.__fake.state.activeId)));
  });
});

describe('nothing erased by surprise, and the transport', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('Keep loop and Clear wait for something recorded; V with nothing recorded keeps nothing', async () => {
    const { page, errors } = await h.open();
    assert.equal(await page.isDisabled('#keep-loop'), true);
    assert.equal(await page.isDisabled('#recorder-clear'), true);
    await page.locator('body').focus();
    const m = await mark(page);
    await page.keyboard.press('v');
    await waitIdle(page);
    assert.ok(!(await sentSince(page, m)).includes('createLoopFromLoopRecorder'));
    // Recording turns Keep loop on by itself: the page asks soon while it records.
    await page.keyboard.press('r');
    await page.keyboard.press('a');
    await page.waitForFunction(() => !document.querySelector('#keep-loop').disabled, null, { timeout: 3000 });
    await page.keyboard.press('v');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 1);
    await page.waitForFunction(() => document.querySelector('#keep-loop').disabled);
    assert.deepEqual(errors, []);
  });

  async function resetSong(page) {
    for (const m of ['clearDrumLoop', 'setTempo->120', '{ "loop_recorder" : { "beats" : 16 } }', '{ "idea_collection" : { "clear" : true } }',
      'getIdeaCollection', 'getLoopRecorder', 'getProject']) {
      await page.evaluate((text) => window.nativeZub.handleMessage(text), m);
    }
  }

  // Each change that empties the loop recorder, and the three answers.
  test('a tempo, a length or a drum loop that would empty a recording asks first', async () => {
    const { page, errors } = await h.open();
    const changes = {
      tempo: async () => page.evaluate(() => { const t = document.querySelector('#tempo'); t.value = '100'; t.dispatchEvent(new Event('change')); }),
      length: () => page.selectOption('#recorder-beats', '8'),
      drums: async () => { await page.click('#drums-button'); await page.click('.drum-tile >> nth=1'); },
    };
    const applied = {
      tempo: (s) => s.includes('setTempo->100'),
      length: (s) => s.includes(JSON.stringify({ loop_recorder: { beats: 8 } })),
      drums: (s) => s.includes('playDrumLoop'),
    };
    for (const [what, change] of Object.entries(changes)) {
      for (const answer of ['cancel', 'keep', 'erase']) {
        const label = `${what}, ${answer}`;
        await page.evaluate(() => { document.querySelector('#tempo').value = '120'; });
        await recordSomething(page);
        const loops = await page.locator('#loops .loop-card').count();
        const m = await mark(page);
        await change();
        await page.waitForFunction(() => document.querySelector('#erase-dialog').open);
        if (answer === 'cancel' && what === 'tempo') await screenshot(page, 'erase-question');
        await page.click(`#erase-dialog [data-answer="${answer}"]`);
        await waitIdle(page);
        await waitIdle(page);
        const sent = await sentSince(page, m);
        assert.equal(applied[what](sent), answer !== 'cancel', label);
        assert.equal(sent.includes('createLoopFromLoopRecorder'), answer === 'keep', label);
        if (answer === 'keep') await page.waitForFunction((n) => document.querySelectorAll('#loops .loop-card').length > n, loops);
        // Undo what went through, so the next case starts alike: a song
        // without loops, where a drum loop brings its own tempo.
        await resetSong(page);
      }
    }
    // With nothing recorded nothing is asked.
    await page.evaluate(() => window.nativeZub.handleMessage('{ "loop_recorder" : { "clear" : true } }'));
    await page.evaluate(() => window.nativeZub.handleMessage('getLoopRecorder'));
    const m = await mark(page);
    await changes.length();
    await waitIdle(page);
    assert.equal(await page.evaluate(() => document.querySelector('#erase-dialog').open), false);
    assert.ok(applied.length(await sentSince(page, m)));
    assert.deepEqual(errors, []);
  });

  // A drum loop plays at the song's tempo once the song has loops; only in
  // an empty song does its own tempo re-time the recorder, which then loses
  // what it holds unless its beats fit that tempo too.
  test('choosing a drum loop asks only when it would empty the recording', async () => {
    const { page, errors } = await h.open();
    const cases = [
      // what, the song has loops, the tile (0: 120 bpm, 1: 90 bpm), asked
      ['empty song, another tempo', false, 1, true],
      ['empty song, the song\'s own tempo', false, 0, false],
      ['song with loops, another tempo', true, 1, false],
    ];
    for (const [what, ownLoops, tile, asked] of cases) {
      await resetSong(page);
      await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 0);
      if (ownLoops) {
        await recordSomething(page);
        await keepLoop(page);
      }
      await recordSomething(page);
      const m = await mark(page);
      await page.click('#drums-button');
      await page.click(`.drum-tile >> nth=${tile}`);
      if (asked) {
        await page.waitForFunction(() => document.querySelector('#erase-dialog').open);
        await page.click('#erase-dialog [data-answer="cancel"]');
      }
      await waitIdle(page);
      await waitIdle(page);
      assert.equal(await page.evaluate(() => document.querySelector('#erase-dialog').open), false, what);
      const sent = await sentSince(page, m);
      assert.equal(sent.includes('playDrumLoop'), !asked, what);
      assert.ok(!sent.includes('createLoopFromLoopRecorder'), what);
      // Whatever happened, the recording is still there.
      await page.evaluate(() => window.nativeZub.handleMessage('getLoopRecorder'));
      assert.equal(await page.isDisabled('#keep-loop'), false, what);
      assert.equal(await page.inputValue('#tempo'), '120', what);
    }
    assert.deepEqual(errors, []);
  });

  test('Stop and Play from the button and from Space; the beat light and the playhead rest while stopped', async () => {
    const { page, errors } = await h.open();
    assert.equal(await page.isDisabled('#transport'), true, 'no song to play yet');
    await recordSomething(page);
    await page.click('#keep-loop');
    await page.waitForFunction(() => !document.querySelector('#transport').disabled);
    const idea = await page.evaluate(() => window.__fake.state.activeId);
    const m = await mark(page);
    await page.click('#transport');
    await page.waitForFunction(() => document.querySelector('#transport').getAttribute('aria-label') === 'Play the song (Space)');
    assert.equal(await page.evaluate(() => window.__fake.state.activeId), 0);
    // Resting: neither moves for a while.
    const still = await page.evaluate(() => new Promise((resolve) => {
      const line = document.querySelector('#recorder-line');
      const light = document.querySelector('#beat-light');
      const seen = new Set();
      const t = setInterval(() => seen.add(line.style.transform + light.innerHTML), 50);
      setTimeout(() => { clearInterval(t); resolve(seen.size); }, 1200);
    }));
    assert.equal(still, 1);
    await page.locator('body').focus();
    await page.keyboard.press(' ');
    await page.waitForFunction(() => document.querySelector('#transport').getAttribute('aria-label') === 'Stop the song (Space)');
    assert.equal(await page.evaluate(() => window.__fake.state.activeId), idea);
    assert.deepEqual((await sentSince(page, m)).filter((t) => /Song$/.test(t)), ['stopSong', 'playSong']);
    // Recording while stopped plays the song again.
    await page.keyboard.press(' ');
    await page.waitForFunction(() => document.body.classList.contains('song-stopped'));
    await page.keyboard.press('r');
    await page.waitForFunction(() => !document.body.classList.contains('song-stopped'));
    assert.deepEqual(errors, []);
  });

  test('R, V, B, M and Space work the same with the drum pads as with the piano', async () => {
    const { page, errors } = await h.open();
    const run = async (mode) => {
      await page.locator('body').focus();
      const m = await mark(page);
      await page.keyboard.press('r');
      await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'true');
      await page.evaluate(() => window.__fake.recordAudio());
      await page.waitForFunction(() => !document.querySelector('#keep-loop').disabled, null, { timeout: 3000 });
      await page.keyboard.press('v');
      await page.waitForFunction((n) => window.__fake.state.ideas.reduce((c, i) => c + i.loops.length, 0) === n,
        mode === 'piano' ? 1 : 2);
      await page.keyboard.press('m');
      await page.keyboard.press(' ');
      await page.keyboard.press(' ');
      await page.keyboard.press('b');
      await waitIdle(page);
      const sent = await sentSince(page, m);
      const actions = sent.filter((t) => /record|createLoop|metronome|Song$/.test(t)).map((t) => t.replace(/\s/g, ''));
      assert.deepEqual(actions, ['{"loop_recorder":{"record":true}}', 'createLoopFromLoopRecorder',
        `{"metronome":{"mute":${mode !== 'piano'}}}`, 'stopSong', 'playSong'], mode);
      assert.deepEqual(sent.filter((t) => t.startsWith('note')), [], `${mode}: no key played a note`);
      // Stop ended the recording.
      assert.equal(await page.getAttribute('#record', 'aria-pressed'), 'false');
    };
    await run('piano');
    await page.click('#instrument-button');
    await page.click('.instrument-tile[data-id="4128"]');
    await page.waitForFunction(() => !document.querySelector('#pads').hidden);
    await run('pads');
    assert.deepEqual(errors, []);
  });
});
