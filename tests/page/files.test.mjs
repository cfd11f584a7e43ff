// Files and the window's calls: new song, save, render to a file, render to
// the page with a WAV download, a loaded project, help, credits, welcome.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { setup, waitIdle, mark, sentSince, screenshot } from './harness.mjs';

async function menu(page, action) {
  await page.click('#menu-button');
  await page.click(`#main-menu [data-action="${action}"]`);
}

async function keepOneLoop(page) {
  await page.evaluate(() => { window.__fake.state.recorder.record = true; window.__fake.recordAudio(); });
  await page.click('#keep-loop');
  await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 1);
}

describe('files', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('save and render to a file go to the main window', async () => {
    const { page } = await h.open();
    await menu(page, 'save');
    await menu(page, 'render-file');
    await waitIdle(page);
    assert.deepEqual(await page.evaluate(() => window.__fake.calls), { render: 1, save: 1, saveAs: 0, open: 0, share: 0 });
  });

  test('the saved mark follows changes, saves and a new song', async () => {
    const { page, errors } = await h.open();
    const mark = async (text, state) => {
      await page.waitForFunction(([t, st]) => {
        const s = document.querySelector('#status');
        return s.textContent === t && s.dataset.saved === st;
      }, [text, state]);
    };
    await mark('New song', 'new');
    await keepOneLoop(page);
    await mark('New song · Unsaved', 'unsaved');
    await menu(page, 'save');
    await mark('My Song · Saved', 'saved');
    assert.equal(await page.getAttribute('#status', 'title'), '/home/musician/Motifo/My Song.zub');
    // A second loop: the song changes again.
    await page.evaluate(() => { window.__fake.state.recorder.record = true; window.__fake.recordAudio(); });
    await page.click('#keep-loop');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 2);
    await mark('My Song · Unsaved changes', 'unsaved');
    await menu(page, 'new');
    await mark('New song', 'new');
    assert.deepEqual(errors, []);
  });

  test('render to the page shows progress while "wave" messages arrive and offers the WAV', async () => {
    const { page, errors } = await h.open({ config: { waveBatch: 8 } });
    await keepOneLoop(page);
    const m = await mark(page);
    const seen = page.evaluate(() => new Promise((resolve) => {
      const values = [];
      const p = document.querySelector('#render-progress');
      const obs = new MutationObserver(() => values.push(p.value));
      obs.observe(p, { attributes: true });
      const t = setInterval(() => values.push(p.value), 5);
      const done = new MutationObserver(() => {
        if (!document.querySelector('#render-download').hidden) { clearInterval(t); obs.disconnect(); done.disconnect(); resolve(values); }
      });
      done.observe(document.querySelector('#render-download'), { attributes: true });
    }));
    await menu(page, 'render-page');
    const values = await seen;
    assert.ok(values.some((v) => v > 0 && v < 1), `no progress in between: ${values.slice(0, 10)}`);
    assert.ok((await sentSince(page, m)).includes('render'));
    assert.match(await page.textContent('#render-text'), /8\.0 seconds/);
    await screenshot(page, 'render');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#render-download')]);
    assert.equal(download.suggestedFilename(), 'motifo-render.wav');
    const wav = readFileSync(await download.path());
    assert.equal(wav.toString('ascii', 0, 4), 'RIFF');
    assert.equal(wav.toString('ascii', 8, 16), 'WAVEfmt ');
    assert.equal(wav.readUInt16LE(22), 2);
    assert.equal(wav.readUInt32LE(24), 44100);
    assert.equal(wav.readUInt16LE(34), 16);
    assert.equal(wav.readUInt32LE(40), 8 * 44100 * 4);
    assert.equal(wav.length, 44 + 8 * 44100 * 4);
    await page.keyboard.press('Escape');
    assert.deepEqual(errors, []);
  });

  test('render to the page with no loop in the first idea explains instead of waiting', async () => {
    const { page } = await h.open();
    const m = await mark(page);
    await menu(page, 'render-page');
    assert.match(await page.textContent('#render-text'), /Keep a loop first/);
    assert.ok(!(await sentSince(page, m)).includes('render'));
  });

  test('New asks the program to confirm; a refusal keeps the song', async () => {
    const { page } = await h.open({ config: { confirmDiscard: false } });
    await keepOneLoop(page);
    const m = await mark(page);
    await menu(page, 'new');
    await waitIdle(page);
    const s = await sentSince(page, m);
    assert.deepEqual(s, ['discardChangesConfirmation']);
    assert.equal(await page.locator('#loops .loop-card').count(), 1);
  });

  test('New clears the song and resets every screen through the window functions', async () => {
    const { page, errors } = await h.open();
    await keepOneLoop(page);
    await page.click('#drums-button');
    await page.click('.drum-tile >> nth=0');
    await page.click('#open-freestyle');
    await page.waitForFunction(() => !document.querySelector('#freestyle-screen').hidden);
    const m = await mark(page);
    await menu(page, 'new');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 0);
    const s = await sentSince(page, m);
    assert.deepEqual(s.slice(0, 2), ['discardChangesConfirmation', 'clearProject']);
    assert.ok(s.includes(JSON.stringify({ freestyle_recorder: { suspend: true } })));
    assert.equal(await page.isVisible('#idea-setup'), true);
    assert.equal(await page.textContent('#drum-name'), 'None');
    // A new song has nothing saved yet, and says so.
    assert.equal(await page.textContent('#status'), 'New song');
    assert.deepEqual(errors, []);
  });

  test('the window functions called on New exist and close what they name', async () => {
    const { page, errors } = await h.open();
    await page.click('#menu-button');
    await page.evaluate(() => {
      document.querySelector('#help').showModal();
    });
    const names = ['showIdeaSetup', 'hideFreestyleRecorder', 'hideCredits', 'hideHelp', 'hideFreestyleTempoScreen',
      'hideBeatPickerPopup', 'hideInstrumentPicker', 'hideMainMenu'];
    const result = await page.evaluate((list) => {
      for (const n of list) window[n]();
      return { open: [...document.querySelectorAll('dialog[open]')].map((d) => d.id), types: list.map((n) => typeof window[n]) };
    }, names);
    assert.deepEqual(result.types, names.map(() => 'function'));
    assert.deepEqual(result.open, []);
    assert.deepEqual(errors, []);
  });

  test('a loaded project ("just_loaded") refreshes the song', async () => {
    const { page } = await h.open();
    const m = await mark(page);
    await page.evaluate(() => window.__fake.push('{ "idea_collection" : { "just_loaded" : "true" } }'));
    await page.waitForFunction((n) => window.__fake.sent.length > n + 3, m);
    const s = await sentSince(page, m);
    for (const c of ['getIdeaCollection', 'getProject', 'getLoopRecorder', 'getMetronome']) assert.ok(s.includes(c), c);
  });
});

describe('help, credits and welcome', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('the first run shows the welcome once', async () => {
    const { page, errors } = await h.open({ config: { firstRun: true } });
    await page.waitForFunction(() => document.querySelector('#welcome').open);
    await screenshot(page, 'welcome');
    await page.keyboard.press('Enter');
    assert.equal(await page.evaluate(() => document.querySelector('#welcome').open), false);
    const again = await h.open({ config: { firstRun: false } });
    assert.equal(await again.page.evaluate(() => document.querySelector('#welcome').open), false);
    assert.deepEqual(errors, []);
  });

  test('help and credits open from the menu by keyboard and close with Escape, focus returning', async () => {
    const { page, errors } = await h.open();
    await page.focus('#menu-button');
    await page.keyboard.press('Enter');
    assert.equal(await page.evaluate(() => document.activeElement.dataset.action), 'new');
    await page.click('#main-menu [data-action="help"]');
    assert.equal(await page.evaluate(() => document.querySelector('#help').open), true);
    await screenshot(page, 'help');
    await page.keyboard.press('Escape');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'menu-button');
    await page.click('#menu-button');
    await page.click('#main-menu [data-action="credits"]');
    assert.equal(await page.evaluate(() => document.querySelector('#credits').open), true);
    await page.click('#credits .close');
    assert.equal(await page.evaluate(() => document.querySelector('dialog[open]')), null);
    assert.deepEqual(errors, []);
  });
});
