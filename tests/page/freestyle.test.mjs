// Free takes: the freestyle recorder screen and the tempo screen.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { setup, waitIdle, mark, sentSince, screenshot, tapAlong } from './harness.mjs';

const json = (list) => list.filter((t) => t.startsWith('{')).map((t) => JSON.parse(t));

async function openFreestyle(page) {
  await page.click('#open-freestyle');
  await page.waitForFunction(() => document.querySelector('#freestyle-status').textContent === 'Idle');
}

async function takeFromKeys(page) {
  await page.locator('body').focus();
  await page.keyboard.down('a');
  await page.waitForFunction(() => document.querySelector('#freestyle-status').textContent === 'Recording');
  await page.waitForTimeout(100);
  await page.keyboard.up('a');
  await page.keyboard.press('g');
  // A second of silence ends the take.
  await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length === 1, null, { timeout: 5000 });
  await page.waitForFunction(() => document.querySelector('#freestyle-status').textContent === 'Idle');
}

describe('free takes', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  // Every way between the three screens, and what the engine must hear on
  // the way: the loop recorder, the freestyle recorder and the tempo
  // detector are active exactly while their screen is shown. Back from the
  // tempo screen the take handed over is heard again, as before; the takes
  // screen opened from the ideas has every take silent.
  test('each way between the screens starts and stops exactly the engine parts of the screens', async () => {
    const { page, errors } = await h.open();
    const LR_ON = { loop_recorder: { initialize: true } };
    const LR_OFF = { loop_recorder: { suspend: true } };
    const FS_ON = { freestyle_recorder: { initialize: true } };
    const FS_OFF = { freestyle_recorder: { suspend: true } };
    const RESTORE = { freestyle_tempo_detector: { suspend_and_restore_loop_state: true } };
    const KEEP = 'createLoopFromFreestyleTempoDetector';
    let take = 0;
    const FIND = () => [{ freestyle_recorder: { playing_loop_id: take } }, { freestyle_recorder: { do_tempo_detection: true } }];
    const actions = {
      'Free takes…': () => page.click('#open-freestyle'),
      'menu Free takes': async () => { await page.click('#menu-button'); await page.click('#main-menu [data-action="freestyle"]'); },
      'Back to ideas': () => page.click('#freestyle-close'),
      'Find tempo': () => page.click('#takes [data-role="tempo"]'),
      Cancel: () => page.click('#tempo-cancel'),
      Keep: async () => {
        await page.evaluate(() => { document.querySelector('#tempo-accept').disabled = false; });
        await page.click('#tempo-accept');
      },
      'New (window)': () => page.evaluate(() => window.nativeZub.command('new')),
      'Open (window)': () => page.evaluate(() => window.nativeZub.command('open')),
    };
    const table = [
      ['ideas', 'Free takes…', 'takes', [LR_OFF, FS_ON]],
      ['takes', 'Back to ideas', 'ideas', [FS_OFF, LR_ON]],
      ['ideas', 'menu Free takes', 'takes', [LR_OFF, FS_ON]],
      ['takes', 'menu Free takes', 'takes', []],
      ['takes', 'Find tempo', 'tempo', FIND],
      ['tempo', 'Cancel', 'takes', [RESTORE, FS_ON]],
      ['takes', 'Find tempo', 'tempo', FIND],
      ['tempo', 'menu Free takes', 'takes', [RESTORE, FS_ON]],
      ['takes', 'Find tempo', 'tempo', FIND],
      ['tempo', 'New (window)', 'ideas', [RESTORE, FS_OFF, LR_ON]],
      ['ideas', 'Free takes…', 'takes', [LR_OFF, FS_ON]],
      ['takes', 'Open (window)', 'ideas', [FS_OFF, LR_ON]],
      ['ideas', 'Free takes…', 'takes', [LR_OFF, FS_ON]],
      ['takes', 'Find tempo', 'tempo', FIND],
      ['tempo', 'Open (window)', 'ideas', [RESTORE, FS_OFF, LR_ON]],
      ['ideas', 'Free takes…', 'takes', [LR_OFF, FS_ON]],
      ['takes', 'New (window)', 'ideas', [FS_OFF, LR_ON]],
      ['ideas', 'New (window)', 'ideas', []],
      ['ideas', 'Free takes…', 'takes', [LR_OFF, FS_ON]],
      ['takes', 'Find tempo', 'tempo', FIND],
      ['tempo', 'Keep', 'ideas', [KEEP, FS_OFF, LR_ON]],
    ];
    const screenOf = () => page.evaluate(() => document.body.dataset.screen);
    for (const [from, action, to, expected] of table) {
      const label = `${from} → ${action} → ${to}`;
      assert.equal(await screenOf(), from, label);
      if (action === 'Find tempo') {
        take = await page.evaluate(() => window.__fake.addTake(3));
        await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length > 0);
      }
      const m = await mark(page);
      await actions[action]();
      await page.waitForFunction((s) => document.body.dataset.screen === s, to);
      await waitIdle(page);
      await waitIdle(page);
      const sent = (await sentSince(page, m)).filter((t) => t.startsWith('{') || t === KEEP)
        .map((t) => (t.startsWith('{') ? JSON.parse(t) : t))
        .filter((x) => typeof x === 'string' || x.loop_recorder || x.freestyle_recorder || x.freestyle_tempo_detector)
        .filter((x) => typeof x === 'string' || !x.freestyle_tempo_detector || x.freestyle_tempo_detector.suspend_and_restore_loop_state);
      assert.deepEqual(sent, typeof expected === 'function' ? expected() : expected, label);
      const engine = await page.evaluate(() => ({
        recorder: !window.__fake.state.recorder.suspended,
        takes: window.__fake.state.freestyle.active,
      }));
      assert.deepEqual(engine, { recorder: to === 'ideas', takes: to === 'takes' }, label);
      for (const [screen, id] of [['ideas', '#idea-setup'], ['takes', '#freestyle-screen'], ['tempo', '#tempo-screen']]) {
        assert.equal(await page.evaluate((s) => !document.querySelector(s).hidden, id), screen === to, `${label}: ${id}`);
      }
      if (to === 'takes') {
        const playing = await page.evaluate(() => [...document.querySelectorAll('#takes .loop-card')]
          .filter((c) => c.querySelector('[data-role="play"]').getAttribute('aria-pressed') === 'true').map((c) => Number(c.dataset.loop)));
        assert.deepEqual(playing, from === 'tempo' ? [take] : [], `${label}: takes heard`);
      }
    }
    assert.deepEqual(errors, []);
  });

  test('playing makes a take that is listed, auditioned alone and stopped', async () => {
    const { page, errors } = await h.open();
    await openFreestyle(page);
    await takeFromKeys(page);
    await page.evaluate(() => window.__fake.addTake(3.5)); // a take from a live input
    await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length === 2);
    assert.equal(await page.textContent('#takes .loop-card >> nth=0 >> .loop-name'), 'Newest take');
    assert.equal(await page.getAttribute('#takes .loop-card >> nth=1 >> canvas', 'aria-label'), '2 notes');
    const ids = await page.evaluate(() => window.__fake.state.freestyle.takes.map((t) => t.id));
    const m = await mark(page);
    await page.click('#takes .loop-card >> nth=1 >> [data-role="play"]');
    await page.waitForFunction(() => document.querySelector('#takes .loop-card:nth-child(2) [data-role="play"]').getAttribute('aria-pressed') === 'true');
    assert.equal(await page.getAttribute('#takes .loop-card >> nth=0 >> [data-role="play"]', 'aria-pressed'), 'false');
    await screenshot(page, 'freestyle');
    await page.click('#takes .loop-card >> nth=1 >> [data-role="play"]');
    await page.waitForFunction(() => document.querySelector('#takes .loop-card:nth-child(2) [data-role="play"]').getAttribute('aria-pressed') === 'false');
    assert.deepEqual(json(await sentSince(page, m)), [
      { freestyle_recorder: { playing_loop_id: ids[1] } },
      { freestyle_recorder: { loops: [{ id: ids[1], mute: true }] } },
    ]);
    assert.deepEqual(errors, []);
  });

  test('tempo screen: tap along, snap, keep the take as a loop in the idea at the tapped tempo', async () => {
    const { page, errors } = await h.open();
    await openFreestyle(page);
    const id = await page.evaluate(() => window.__fake.addTake(4.5));
    await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length === 1);
    const m = await mark(page);
    await page.click('#takes [data-role="tempo"]');
    await page.waitForFunction(() => !document.querySelector('#tempo-screen').hidden);
    await page.click('#tempo-play-once');
    await page.click('#tempo-play-loop');
    // Eight taps at 100 bpm: 4.2 s from first to last.
    await tapAlong(page, 8, 600);
    assert.match(await page.textContent('#tap-info'), /8 taps, 100 bpm/);
    await page.click('#tap-snap');
    await page.waitForFunction(() => /Snapped to 8 beats at 100 bpm/.test(document.querySelector('#snap-result').textContent));
    await screenshot(page, 'tempo-screen');
    await page.click('#tempo-accept');
    await page.waitForFunction(() => !document.querySelector('#idea-setup').hidden && document.querySelectorAll('#loops .loop-card').length === 1);
    const sentJson = json(await sentSince(page, m));
    assert.deepEqual(sentJson.slice(0, 5), [
      { freestyle_recorder: { playing_loop_id: id } },
      { freestyle_recorder: { do_tempo_detection: true } },
      { freestyle_tempo_detector: { play_loop_once: true } },
      { freestyle_tempo_detector: { play_loop: true } },
      { freestyle_tempo_detector: { bpm: 100, first_to_last_tap_time: 4200 } },
    ]);
    const all = await sentSince(page, m);
    assert.ok(all.includes('createLoopFromFreestyleTempoDetector'));
    // The song takes over the tapped tempo; the loop recorder runs again.
    assert.ok(sentJson.some((x) => x.project?.bpm === 100));
    assert.ok(sentJson.some((x) => x.loop_recorder?.initialize));
    await page.waitForFunction(() => document.querySelector('#tempo').value === '100');
    assert.equal(await page.textContent('.loop-detail'), '8 beats · 4.8 s');
    assert.deepEqual(errors, []);
  });

  test('a second snap starts again from the take as recorded; cancel restores it', async () => {
    const { page } = await h.open();
    await openFreestyle(page);
    await page.evaluate(() => window.__fake.addTake(3));
    await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length === 1);
    await page.click('#takes [data-role="tempo"]');
    await page.waitForFunction(() => !document.querySelector('#tempo-screen').hidden);
    // B taps on the tempo screen.
    await page.locator('body').focus();
    for (let i = 0; i < 3; i++) { await page.keyboard.press('b'); await page.waitForTimeout(120); }
    await page.click('#tap-snap');
    await page.waitForFunction(() => document.querySelector('#snap-result').textContent !== '');
    const m = await mark(page);
    await page.click('#tap-snap');
    await waitIdle(page);
    const again = json(await sentSince(page, m));
    assert.deepEqual(again[0], { freestyle_tempo_detector: { initialize: true } });
    assert.ok('bpm' in again[1].freestyle_tempo_detector);
    const m2 = await mark(page);
    await page.click('#tempo-cancel');
    await page.waitForFunction(() => !document.querySelector('#freestyle-screen').hidden);
    assert.deepEqual(json(await sentSince(page, m2)).slice(0, 1), [{ freestyle_tempo_detector: { suspend_and_restore_loop_state: true } }]);
    assert.equal(await page.evaluate(() => window.__fake.state.detector.loop.length_seconds), 3);
  });

  test('freestyle states streaming in do not rebuild the takes list', async () => {
    const { page, errors } = await h.open();
    await openFreestyle(page);
    await page.evaluate(() => window.__fake.addTake(2));
    await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length === 1);
    await page.focus('#takes [data-role="play"]');
    const same = await page.evaluate(async () => {
      const card = document.querySelector('#takes .loop-card');
      const state = window.__fake.freestyleJson();
      for (let i = 0; i < 300; i++) {
        state.freestyle_recorder.status = i % 2 ? 'Waiting' : 'Idle';
        window.handleMsgFromQt4(JSON.stringify(state));
      }
      await new Promise((r) => requestAnimationFrame(r));
      return card === document.querySelector('#takes .loop-card') && document.activeElement.dataset.role === 'play';
    });
    assert.equal(same, true);
    assert.equal(await page.textContent('#freestyle-status'), 'Waiting');
    assert.deepEqual(errors, []);
  });
});
