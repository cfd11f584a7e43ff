// Files and the window's calls: the document commands from the menu and the
// keys, the two exports with their progress and result, New and Open through
// the window's functions, help, credits and the welcome.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { setup, waitIdle, mark, sentSince, screenshot, recordSomething } from './harness.mjs';

async function menu(page, action) {
  await page.click('#menu-button');
  await page.click(`#main-menu [data-action="${action}"]`);
}

async function keepOneLoop(page) {
  await recordSomething(page);
  await page.click('#keep-loop');
  await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 1);
}

const commands = (page) => page.evaluate(() => window.__fake.commands.slice());

describe('files', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('the document commands reach the window from the menu and from the keys, in both playing modes', async () => {
    const { page, errors } = await h.open();
    const cases = [
      ['new', 'Control+n', 'new'], ['open', 'Control+o', 'open'], ['save', 'Control+s', 'save'],
      ['save-as', 'Control+Shift+S', 'saveAs'],
    ];
    for (const [action, , command] of cases) {
      const before = (await commands(page)).length;
      await menu(page, action);
      await page.waitForFunction((n) => window.__fake.commands.length === n + 1, before);
      assert.equal((await commands(page)).at(-1), command, action);
    }
    for (const mode of ['piano', 'pads']) {
      if (mode === 'pads') {
        await page.click('#instrument-button');
        await page.click('.instrument-tile[data-id="4128"]');
        await page.waitForFunction(() => !document.querySelector('#pads').hidden);
      }
      await page.locator('body').focus();
      for (const [, keys, command] of cases) {
        const before = (await commands(page)).length;
        await page.keyboard.press(keys);
        await page.waitForFunction((n) => window.__fake.commands.length === n + 1, before);
        assert.equal((await commands(page)).at(-1), command, `${keys} with the ${mode}`);
      }
    }
    // Undo and redo go to the engine as bare commands, and the song is asked for again.
    const m = await mark(page);
    await page.keyboard.press('Control+z');
    await page.keyboard.press('Control+Shift+Z');
    await waitIdle(page);
    const sent = await sentSince(page, m);
    assert.deepEqual(sent.filter((t) => t === 'undo' || t === 'redo'), ['undo', 'redo']);
    assert.ok(sent.includes('getIdeaCollection'));
    assert.deepEqual(sent.filter((t) => t.startsWith('note')), [], 'no key played a note');
    assert.deepEqual(errors, []);
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
    await recordSomething(page);
    await page.click('#keep-loop');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 2);
    await mark('My Song · Unsaved changes', 'unsaved');
    await menu(page, 'new');
    await mark('New song', 'new');
    assert.deepEqual(errors, []);
  });

  test('an export shows its progress and names the file it wrote; a cancelled one closes quietly', async () => {
    const { page, errors } = await h.open();
    await keepOneLoop(page);
    const seen = page.evaluate(() => new Promise((resolve) => {
      const values = [];
      const obs = new MutationObserver(() => {
        values.push(document.querySelector('#render-text').textContent);
        if (/^Saved/.test(values.at(-1))) { obs.disconnect(); resolve(values); }
      });
      obs.observe(document.querySelector('#render-text'), { childList: true, characterData: true, subtree: true });
    }));
    await menu(page, 'export-song');
    const texts = await seen;
    assert.deepEqual(await commands(page), ['exportSong']);
    assert.ok(texts.some((t) => /Writing the song… 50 %/.test(t)), texts.join(' | '));
    assert.equal(texts.at(-1), 'Saved the song as My Song.wav in /home/me/Documents/Motifo.');
    assert.equal(await page.evaluate(() => document.querySelector('#render-dialog').open), true);
    await screenshot(page, 'export');
    await page.keyboard.press('Escape');

    await menu(page, 'export-idea');
    await page.waitForFunction(() => /Saved the idea as Verse\.wav/.test(document.querySelector('#render-text').textContent));
    await page.keyboard.press('Escape');
    await page.evaluate(() => { window.__fake.config.exportPath = ''; });
    await menu(page, 'export-song');
    await page.waitForFunction(() => window.__fake.commands.length === 3);
    await waitIdle(page);
    assert.equal(await page.evaluate(() => document.querySelector('#render-dialog').open), false);
    assert.deepEqual(errors, []);
  });

  test('with nothing to export the page says why and asks the window for nothing', async () => {
    const { page } = await h.open();
    for (const [action, why] of [['export-song', /Keep a loop first/], ['export-idea', /has no loop yet/]]) {
      await menu(page, action);
      assert.match(await page.textContent('#render-text'), why);
      await page.keyboard.press('Escape');
    }
    assert.deepEqual(await commands(page), []);
  });

  test('New through the window: a refusal keeps the song; otherwise every screen resets', async () => {
    const refused = await h.open({ config: { confirmDiscard: false } });
    await keepOneLoop(refused.page);
    await menu(refused.page, 'new');
    await refused.page.waitForFunction(() => window.__fake.commands.length === 1);
    await waitIdle(refused.page);
    assert.equal(await refused.page.locator('#loops .loop-card').count(), 1);

    const { page, errors } = await h.open();
    await keepOneLoop(page);
    await page.click('#drums-button');
    await page.click('.drum-tile >> nth=0');
    await page.click('#open-freestyle');
    await page.waitForFunction(() => !document.querySelector('#freestyle-screen').hidden);
    await menu(page, 'new');
    await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 0 &&
      !document.querySelector('#idea-setup').hidden);
    assert.equal(await page.textContent('#drum-name'), 'None');
    // A new song has nothing saved yet, and says so.
    assert.equal(await page.textContent('#status'), 'New song');
    assert.equal(await page.evaluate(() => window.__fake.state.recorder.suspended), false);
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

  test('the first run shows the welcome once, naming where the MIDI keyboard is chosen and which one is open', async () => {
    const { page, errors } = await h.open({ config: { firstRun: true, midiInput: 'USB Keystation 49' } });
    await page.waitForFunction(() => document.querySelector('#welcome').open);
    assert.match(await page.textContent('#welcome'), /Options > Preferences/);
    assert.match(await page.textContent('#welcome-midi'), /USB Keystation 49/);
    assert.equal(await page.textContent('#midi-input'), 'MIDI keyboard: USB Keystation 49');
    await screenshot(page, 'welcome');
    await page.keyboard.press('Enter');
    assert.equal(await page.evaluate(() => document.querySelector('#welcome').open), false);
    const again = await h.open({ config: { firstRun: false } });
    assert.equal(await again.page.evaluate(() => document.querySelector('#welcome').open), false);
    assert.equal(await again.page.textContent('#midi-input'), 'No MIDI keyboard open');
    // A new choice in the preferences reaches the page.
    await again.page.evaluate(() => window.__fake.push('{ "midi_input" : { "name" : "Launchkey" } }'));
    await again.page.waitForFunction(() => document.querySelector('#midi-input').textContent === 'MIDI keyboard: Launchkey');
    assert.deepEqual(errors, []);
  });

  test('help lists every action key; the console sits under Developer', async () => {
    const { page, errors } = await h.open();
    await page.focus('#menu-button');
    await page.keyboard.press('Enter');
    assert.equal(await page.evaluate(() => document.activeElement.dataset.action), 'new');
    assert.equal(await page.evaluate(() => document.querySelector('[data-action="console"]').closest('section')
      .querySelector('h3').textContent), 'Developer');
    await page.click('#main-menu [data-action="help"]');
    assert.equal(await page.evaluate(() => document.querySelector('#help').open), true);
    const keys = await page.$$eval('#help .keys-list kbd', (k) => k.map((x) => x.textContent));
    for (const key of ['R', 'V', 'B', 'M', 'Space', 'Ctrl+O', 'Ctrl+S', 'Ctrl+Shift+S', 'Ctrl+N', 'Ctrl+Z']) {
      assert.ok(keys.includes(key), key);
    }
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
