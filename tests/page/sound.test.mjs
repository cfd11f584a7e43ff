// Choosing a sound and keeping time: the instrument catalogue, loading,
// live inputs, tempo, tap tempo, metronome with its beat, drum loops.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { setup, waitIdle, mark, sentSince, screenshot } from './harness.mjs';

describe('instruments', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('the catalogue lists groups by their display names with colours, logos and the current instrument', async () => {
    const { page, errors } = await h.open();
    assert.equal(await page.textContent('#instrument-name'), 'Classic Piano');
    await page.click('#instrument-button');
    assert.equal(await page.evaluate(() => document.querySelector('#instrument-picker').open), true);
    const titles = await page.$$eval('.group-head span:last-child', (n) => n.map((x) => x.textContent));
    assert.deepEqual(titles, ['Essentials', 'Drums', 'Live Inputs']);
    const head = await page.$eval('.group-head', (n) => getComputedStyle(n).backgroundColor);
    assert.equal(head, 'rgb(39, 70, 107)');
    assert.equal(await page.getAttribute('.instrument-tile[aria-current="true"]', 'data-id'), '1');
    // Every logo loaded (the group's, the instruments', the inputs').
    await page.waitForFunction(() => [...document.querySelectorAll('#instrument-picker img')].every((i) => i.complete && i.naturalWidth > 0));
    assert.equal(await page.evaluate(() => document.activeElement.dataset.id), '1');
    await screenshot(page, 'instrument-picker');
    await page.keyboard.press('Escape');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'instrument-button');
    assert.deepEqual(errors, []);
  });

  test('choosing shows a loading indicator between loading 1 and 0, then the new instrument', async () => {
    const { page, errors } = await h.open({ config: { loadMs: 400 } });
    const m = await mark(page);
    await page.click('#instrument-button');
    await page.click('.instrument-tile[data-id="4024"]');
    await page.waitForFunction(() => !document.querySelector('#instrument-loading').hidden);
    assert.equal(await page.getAttribute('#instrument-button', 'aria-busy'), 'true');
    await page.waitForFunction(() => document.querySelector('#instrument-loading').hidden);
    await page.waitForFunction(() => document.querySelector('#instrument-name').textContent === 'Nylon Guitar');
    assert.equal((await sentSince(page, m))[0], 'loadInstrument:4024');
    assert.deepEqual(errors, []);
  });

  test('a live input shows its level from input_vu_meter, drawn at most once per frame', async () => {
    const { page, errors } = await h.open();
    await page.click('#instrument-button');
    await page.click('.instrument-tile[data-id="500"]');
    await page.waitForFunction(() => !document.querySelector('#input-meter').hidden);
    await page.evaluate(() => window.__fake.stopMeters());
    const counts = await page.evaluate(async () => {
      let writes = 0;
      const obs = new MutationObserver((list) => { writes += list.length; });
      obs.observe(document.querySelector('#input-meter-fill'), { attributes: true, attributeFilter: ['style'] });
      let frames = 0;
      let run = true;
      const tick = () => { frames++; if (run) requestAnimationFrame(tick); };
      requestAnimationFrame(tick);
      for (let i = 0; i < 400; i++) window.handleMsgFromQt4(`{ "input_vu_meter" : { "value" : ${0.01 + (i % 50) / 100} } }`);
      window.handleMsgFromQt4('{ "input_vu_meter" : { "value" : 0.5 } }');
      await new Promise((r) => setTimeout(r, 200));
      run = false;
      obs.disconnect();
      return { writes, frames };
    });
    assert.ok(counts.writes <= counts.frames + 1, JSON.stringify(counts));
    assert.equal(await page.getAttribute('#input-meter', 'aria-valuenow'), '-6');
    assert.equal(await page.textContent('#instrument-name'), 'Built-in Microp...');
    assert.deepEqual(errors, []);
  });
});

describe('time', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('a typed tempo is sent, an out-of-range one is refused with a message', async () => {
    const { page, errors } = await h.open();
    const m = await mark(page);
    await page.fill('#tempo', '250');
    await page.press('#tempo', 'Enter');
    assert.match(await page.textContent('#tempo-error'), /30 to 200/);
    assert.equal(await page.getAttribute('#tempo', 'aria-invalid'), 'true');
    await page.fill('#tempo', '96.5');
    await page.press('#tempo', 'Enter');
    await waitIdle(page);
    const s = await sentSince(page, m);
    assert.ok(!s.some((t) => t.includes('250')));
    assert.ok(s.includes('setTempo->96.5'));
    assert.equal(await page.textContent('#tempo-error'), '');
    // The project's tempo comes back and the recorder was asked again.
    assert.equal(await page.evaluate(() => window.__fake.state.project.bpm), 96.5);
    assert.ok(s.includes('getProject') && s.includes('getLoopRecorder'));
    assert.deepEqual(errors, []);
  });

  test('tapping sets the tempo once the taps stop', async () => {
    const { page } = await h.open();
    const m = await mark(page);
    // Four taps 500 ms apart in page time.
    await page.evaluate(() => {
      let t = 1000;
      const real = performance.now.bind(performance);
      performance.now = () => t;
      const b = document.querySelector('#tap-tempo');
      for (let i = 0; i < 4; i++) { b.click(); t += 500; }
      performance.now = real;
    });
    assert.equal(await page.inputValue('#tempo'), '120');
    assert.ok(!(await sentSince(page, m)).some((x) => x.startsWith('setTempo')));
    await page.waitForFunction(() => window.__fake.sent.includes('setTempo->120'));
  });

  test('the metronome toggles with the mouse and with M, and the beat light follows the transport', async () => {
    const { page, errors } = await h.open();
    await page.click('#metronome');
    await page.waitForFunction(() => document.querySelector('#metronome').getAttribute('aria-pressed') === 'true');
    assert.equal(await page.evaluate(() => window.__fake.state.metronomeMute), false);
    await page.locator('body').focus();
    await page.keyboard.press('m');
    await page.waitForFunction(() => document.querySelector('#metronome').getAttribute('aria-pressed') === 'false');
    // One of four dots is lit for each beat of the bar and the light stays
    // still in between: watch it for two seconds at 120 bpm. The song's grid
    // starts with the transport, and the 16-beat recorder holds whole bars.
    // The transport jumps a beat first: the bar is the grid's, not counted
    // from whichever beat the page happened to show first.
    const light = await page.evaluate(async () => {
      window.__fake.state.transportStart -= 500;
      await window.nativeZub.handleMessage('getLoopRecorder');
      await new Promise((r) => setTimeout(r, 100));
      const dots = [...document.querySelectorAll('#beat-light > span')];
      const litNow = () => dots.map((d, i) => (d.classList.contains('lit') ? i : -1)).filter((i) => i >= 0);
      const barBeatAt = (t) => Math.floor((t - window.__fake.state.transportStart) / 500) % 4;
      const changes = [];
      let writes = 0;
      let shown = litNow().join();
      const obs = new MutationObserver((list) => {
        writes += list.length;
        const lit = litNow();
        if (lit.join() === shown) return;
        shown = lit.join();
        // Shown up to a frame early: judged a tenth of a beat on.
        changes.push({ lit, expected: barBeatAt(performance.now() + 50) });
      });
      obs.observe(document.querySelector('#beat-light'), { attributes: true, subtree: true, attributeFilter: ['class'] });
      await new Promise((r) => setTimeout(r, 2100));
      obs.disconnect();
      return { changes, writes };
    });
    const summary = JSON.stringify(light);
    assert.ok(light.changes.length >= 4 && light.changes.length <= 5, summary);
    for (const { lit, expected } of light.changes) assert.deepEqual(lit, [expected], summary);
    // A beat turns one dot off and the next on, nothing more.
    assert.ok(light.writes <= 2 * light.changes.length + 2, summary);
    // It asks the engine only every few seconds, not every frame.
    const asks = (await page.evaluate(() => window.__fake.sent)).filter((t) => t === 'getMicrosecondsUntilNextBeat').length;
    assert.ok(asks <= 3, `asked ${asks} times`);
    assert.deepEqual(errors, []);
  });

  test('the drum loop browser shows art, bpm and beats; the engine chooses the tempo', async () => {
    const { page, errors } = await h.open();
    await page.click('#drums-button');
    await page.waitForFunction(() => document.querySelectorAll('.drum-tile').length === 3);
    await page.waitForFunction(() => [...document.querySelectorAll('.drum-tile img')].every((i) => i.complete && i.naturalWidth > 0));
    assert.equal(await page.getAttribute('.drum-tile >> nth=1', 'aria-label'), 'Lazy Swing, 90 bpm, 8 beats');
    await screenshot(page, 'beat-picker');
    const m = await mark(page);
    await page.click('.drum-tile >> nth=1');
    await page.waitForFunction(() => document.querySelector('#drum-name').textContent === 'Lazy Swing');
    await waitIdle(page);
    const s = await sentSince(page, m);
    assert.deepEqual(s.filter((t) => /^(load|play)DrumLoop/.test(t)), ['loadDrumLoopByIndex:1', 'playDrumLoop']);
    // An empty song takes the drum loop's tempo; the page shows what the engine says.
    await page.waitForFunction(() => document.querySelector('#tempo').value === '90');
    // The drum loop is now in the first idea.
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 1);
    assert.equal(await page.isDisabled('#drum-stop'), false);
    await page.click('#drum-stop');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 0);
    assert.equal(await page.isDisabled('#drum-play'), false);
    await page.click('#drum-play');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 1);
    await page.click('#drums-button');
    await page.click('#drum-clear');
    await page.waitForFunction(() => document.querySelector('#drum-name').textContent === 'None');
    assert.ok((await sentSince(page, m)).includes('clearDrumLoop'));
    assert.deepEqual(errors, []);
  });
});
