// Ableton Link on the page: the switch beside the tempo and the settings,
// both showing the program's pushed state; and the one tempo rule that kept
// loops impose on a typed tempo, the session's tempo and a free take.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { setup, waitIdle, mark, sentSince, recordSomething, screenshot, tapAlong } from './harness.mjs';

const json = (texts) => texts.filter((t) => t.startsWith('{')).map((t) => JSON.parse(t));

// What the musician sees of Link, in the header and in the settings.
const shown = (page) => page.evaluate(() => ({
  pressed: document.querySelector('#link').getAttribute('aria-pressed'),
  count: document.querySelector('#link-peers').hidden ? null : document.querySelector('#link-peers').textContent,
  described: document.querySelector('#link-peers-text').textContent,
  enabled: document.querySelector('#link-enabled').checked,
  sync: document.querySelector('#link-start-stop').checked,
  status: document.querySelector('#link-status').textContent,
}));

async function keepLoop(page) {
  const before = await page.evaluate(() => document.querySelectorAll('#loops .loop-card').length);
  await recordSomething(page);
  await page.click('#keep-loop');
  await page.waitForFunction((n) => document.querySelectorAll('#loops .loop-card').length === n, before + 1);
}

async function typeTempo(page, bpm) {
  await page.fill('#tempo', String(bpm));
  await page.press('#tempo', 'Enter');
  await waitIdle(page);
}

async function openSettings(page) {
  await page.click('#menu-button');
  await page.click('#main-menu [data-action="settings"]');
  await page.waitForFunction(() => document.querySelector('#settings').open);
}

describe('Link switch and settings', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('the switch beside the tempo and the settings show what the program says, peers coming and going', async () => {
    const { page, errors } = await h.open();
    assert.ok((await page.evaluate(() => window.__fake.sent)).includes('getLink'), 'asked at start');
    const off = { pressed: 'false', count: null, described: 'off', enabled: false, sync: false,
      status: 'Off: Motifo keeps its own time and uses no network.' };
    assert.deepEqual(await shown(page), off);

    // Each step: what the musician (or another peer) does, what goes to the
    // program, and what the page shows after.
    const steps = [
      ['switch on beside the tempo', (p) => p.click('#link'), [{ link: { enabled: true } }],
        { pressed: 'true', count: '0', described: '0 peers', enabled: true, sync: false,
          status: 'On: 0 peers, the session plays at 120 bpm.' }],
      ['a peer joins', (p) => p.evaluate(() => window.__fake.linkPeers(1)), [],
        { pressed: 'true', count: '1', described: '1 peer', enabled: true, sync: false,
          status: 'On: 1 peer, the session plays at 120 bpm.' }],
      ['another joins', (p) => p.evaluate(() => window.__fake.linkPeers(2)), [],
        { pressed: 'true', count: '2', described: '2 peers', enabled: true, sync: false,
          status: 'On: 2 peers, the session plays at 120 bpm.' }],
      ['start/stop sync on in the settings', async (p) => { await openSettings(p); await p.click('#link-start-stop'); },
        [{ link: { start_stop_sync: true } }],
        { pressed: 'true', count: '2', described: '2 peers', enabled: true, sync: true,
          status: 'On: 2 peers, the session plays at 120 bpm.' }],
      ['switch off in the settings', (p) => p.click('#link-enabled'), [{ link: { enabled: false } }],
        { ...off, sync: true }],
      ['switch on again beside the tempo', async (p) => { await p.keyboard.press('Escape'); await p.click('#link'); },
        [{ link: { enabled: true } }],
        { pressed: 'true', count: '2', described: '2 peers', enabled: true, sync: true,
          status: 'On: 2 peers, the session plays at 120 bpm.' }],
    ];
    for (const [what, act, sends, after] of steps) {
      const m = await mark(page);
      await act(page);
      await waitIdle(page);
      assert.deepEqual(json(await sentSince(page, m)).filter((x) => x.link), sends, what);
      assert.deepEqual(await shown(page), after, what);
    }
    await screenshot(page, 'link-on');
    assert.deepEqual(errors, []);
  });

  test('the session\'s tempo becomes the song\'s, until kept loops hold it and the session gets it back', async () => {
    const { page, errors } = await h.open();
    await page.click('#link');
    await page.evaluate(() => window.__fake.linkPeers(1, 96));
    await page.waitForFunction(() => document.querySelector('#tempo').value === '96');
    assert.match(await page.textContent('#link-status'), /at 96 bpm/);

    await keepLoop(page);
    await page.evaluate(() => window.__fake.linkPeers(1, 130));
    await waitIdle(page);
    assert.equal(await page.inputValue('#tempo'), '96');
    assert.equal(await page.evaluate(() => window.__fake.state.link.tempo), 96, 'the session is given the song\'s tempo');
    assert.match(await page.textContent('#link-status'), /at 96 bpm/);
    assert.deepEqual(errors, []);
  });
});

describe('kept loops hold the tempo', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('a typed tempo is taken by an empty song and refused, with the reason, by one with loops', async () => {
    const cases = [
      // what, keep a loop first, tempo typed, tempo after, message
      ['empty song', false, 100, '100', ''],
      ['song with a loop', true, 100, '120', 'The kept loops hold the tempo at 120 bpm'],
    ];
    for (const [what, loops, typed, after, message] of cases) {
      const { page, errors } = await h.open();
      if (loops) await keepLoop(page);
      await typeTempo(page, typed);
      await page.waitForFunction((v) => document.querySelector('#tempo').value === v, after);
      assert.equal(await page.textContent('#tempo-error'), message, what);
      assert.equal(await page.evaluate(() => window.__fake.state.project.bpm), Number(after), what);
      assert.deepEqual(errors, [], what);
    }
  });

  test('a free take in a song with loops is cut on the song\'s beats and kept at the song\'s tempo', async () => {
    const { page, errors } = await h.open();
    await keepLoop(page);
    await page.click('#open-freestyle');
    await page.waitForFunction(() => !document.querySelector('#freestyle-screen').hidden);
    await page.evaluate(() => window.__fake.addTake(4.5));
    await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length === 1);
    await page.click('#takes [data-role="tempo"]');
    await page.waitForFunction(() => !document.querySelector('#tempo-screen').hidden);
    // Eight taps at 100 bpm: 4.2 s from first to last.
    await tapAlong(page, 8, 600);
    const m = await mark(page);
    await page.click('#tap-snap');
    await page.waitForFunction(() => !document.querySelector('#tempo-accept').disabled);
    assert.match(await page.textContent('#snap-result'), /^Snapped to 8 beats at the song's 120 bpm, which the kept loops hold/);
    await page.click('#tempo-accept');
    await page.waitForFunction(() => !document.querySelector('#idea-setup').hidden && document.querySelectorAll('#loops .loop-card').length === 2);
    const sent = json(await sentSince(page, m));
    assert.deepEqual(sent.filter((x) => x.freestyle_tempo_detector?.bpm), [{ freestyle_tempo_detector: { bpm: 120, first_to_last_tap_time: 4200 } }]);
    assert.equal(await page.inputValue('#tempo'), '120');
    assert.equal(await page.evaluate(() => window.__fake.state.bpm), 120);
    assert.equal(await page.evaluate(() => window.__fake.state.project.bpm), 120);
    assert.deepEqual(errors, []);
  });

  // Snapped at its own tempo in an empty song, then a redo brings a kept loop
  // back: the engine refuses the take, and it must not vanish with the screen.
  test('a take the song refuses stays on the tempo screen, says why, and is kept after a new snap', async () => {
    const { page, errors } = await h.open();
    await page.click('#open-freestyle');
    await page.waitForFunction(() => !document.querySelector('#freestyle-screen').hidden);
    const take = await page.evaluate(() => window.__fake.addTake(4.5));
    await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length === 1);
    await page.click('#takes [data-role="tempo"]');
    await page.waitForFunction(() => !document.querySelector('#tempo-screen').hidden);
    await tapAlong(page, 8, 600);
    await page.click('#tap-snap');
    await page.waitForFunction(() => /^Snapped to 8 beats at 100 bpm/.test(document.querySelector('#snap-result').textContent));
    await page.evaluate(() => window.__fake.redoKeptLoop());

    await page.click('#tempo-accept');
    await page.waitForFunction(() => document.querySelector('#snap-result').textContent.startsWith('Not kept'));
    assert.equal(await page.textContent('#snap-result'),
      "Not kept: the kept loops hold the tempo at 120 bpm. Snap again to cut the take on the song's beats.");
    assert.ok(await page.isVisible('#tempo-screen'), 'the take is still in view');
    assert.ok(await page.isDisabled('#tempo-accept'));
    assert.equal(await page.evaluate(() => window.__fake.state.detector.loop?.id), take);

    const m = await mark(page);
    await page.click('#tap-snap');
    await page.waitForFunction(() => !document.querySelector('#tempo-accept').disabled);
    assert.match(await page.textContent('#snap-result'), /^Snapped to 8 beats at the song's 120 bpm, which the kept loops hold/);
    const sent = json(await sentSince(page, m));
    // The second snap starts again from the take as it was recorded.
    assert.deepEqual(sent.slice(0, 2), [
      { freestyle_tempo_detector: { initialize: true } },
      { freestyle_tempo_detector: { bpm: 120, first_to_last_tap_time: 4200 } },
    ]);
    await page.click('#tempo-accept');
    await page.waitForFunction(() => !document.querySelector('#idea-setup').hidden && document.querySelectorAll('#loops .loop-card').length === 2);
    assert.deepEqual(errors, []);
  });
});
