// Playing: the piano, the computer keys, drum pads and a MIDI keyboard.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { setup, waitIdle, mark, sentSince, screenshot } from './harness.mjs';

describe('playing', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('mouse on a key holds the note until release, sliding plays the next key', async () => {
    const { page, errors } = await h.open();
    const m = await mark(page);
    const c4 = page.locator('#keyboard [data-note="60"]');
    const d4 = page.locator('#keyboard [data-note="62"]');
    const a = await c4.boundingBox();
    const b = await d4.boundingBox();
    await page.mouse.move(a.x + a.width / 2, a.y + a.height - 10);
    await page.mouse.down();
    assert.equal(await c4.getAttribute('aria-pressed'), 'true');
    assert.equal(await page.textContent('#held-notes'), 'C4');
    await page.mouse.move(b.x + b.width / 2, b.y + b.height - 10, { steps: 4 });
    await page.mouse.up();
    await waitIdle(page);
    assert.deepEqual(await sentSince(page, m), ['noteOn->60', 'noteOff->60', 'noteOn->62', 'noteOff->62']);
    assert.equal(await c4.getAttribute('aria-pressed'), 'false');
    assert.equal(await page.textContent('#held-notes'), '');
    assert.deepEqual(errors, []);
  });

  test('computer keys play from the octave, Z and X shift it, a held key sounds once', async () => {
    const { page, errors } = await h.open();
    await page.locator('body').focus();
    const m = await mark(page);
    await page.keyboard.down('a');
    await page.keyboard.down('a'); // auto-repeat
    await page.keyboard.down('w');
    assert.equal(await page.textContent('#held-notes'), 'C4 C#4');
    await page.keyboard.up('a');
    await page.keyboard.up('w');
    await page.keyboard.press('x');
    assert.equal(await page.textContent('#octave'), '5');
    await page.keyboard.press('k'); // one octave above the base
    await page.keyboard.press('z');
    await page.keyboard.press('z');
    await page.keyboard.press(';');
    await waitIdle(page);
    assert.deepEqual(await sentSince(page, m), [
      'noteOn->60', 'noteOn->61', 'noteOff->60', 'noteOff->61',
      'noteOn->84', 'noteOff->84', 'noteOn->64', 'noteOff->64',
    ]);
    // The keys on screen follow the octave, labelled with their letters.
    assert.equal(await page.locator('#keyboard [data-note="48"] .key-letter').textContent(), 'A');
    assert.deepEqual(errors, []);
  });

  test('keys typed into a field or a dialog do not play', async () => {
    const { page } = await h.open();
    const m = await mark(page);
    await page.click('#tempo');
    await page.keyboard.press('a');
    await page.click('#menu-button');
    await page.keyboard.press('s');
    await page.keyboard.press('Escape');
    await waitIdle(page);
    assert.deepEqual((await sentSince(page, m)).filter((t) => t.startsWith('note')), []);
  });

  test('a focused key plays with Space, so the piano works from the keyboard alone', async () => {
    const { page } = await h.open();
    await page.focus('#keyboard [data-note="67"]');
    const m = await mark(page);
    await page.keyboard.down(' ');
    assert.equal(await page.getAttribute('#keyboard [data-note="67"]', 'aria-pressed'), 'true');
    await page.keyboard.up(' ');
    await waitIdle(page);
    assert.deepEqual(await sentSince(page, m), ['noteOn->67', 'noteOff->67']);
  });

  test('losing the window releases every held note', async () => {
    const { page } = await h.open();
    await page.keyboard.down('d');
    await page.keyboard.down('f');
    const m = await mark(page);
    await page.evaluate(() => window.dispatchEvent(new Event('blur')));
    await waitIdle(page);
    assert.deepEqual((await sentSince(page, m)).sort(), ['noteOff->64', 'noteOff->65']);
  });

  test('notes from a MIDI keyboard light their keys without sending anything', async () => {
    const { page, errors } = await h.open();
    const m = await mark(page);
    await page.evaluate(() => { window.__fake.midi(64, true); window.__fake.midi(67, true); });
    await waitIdle(page);
    const e4 = page.locator('#keyboard [data-note="64"]');
    assert.match(await e4.getAttribute('class'), /\bmidi\b/);
    assert.equal(await e4.getAttribute('aria-pressed'), 'true');
    assert.equal(await page.textContent('#held-notes'), 'E4 G4');
    await page.evaluate(() => { window.__fake.midi(64, false); window.__fake.midi(67, false); });
    await waitIdle(page);
    assert.doesNotMatch(await e4.getAttribute('class'), /\bmidi\b/);
    assert.deepEqual(await sentSince(page, m), []);
    assert.deepEqual(errors, []);
  });

  test('a drum instrument shows pads played by mouse and by the pad keys', async () => {
    const { page, errors } = await h.open();
    await page.click('#instrument-button');
    await page.click('.instrument-tile[data-id="4128"]');
    await page.waitForFunction(() => !document.querySelector('#pads').hidden);
    assert.equal(await page.isHidden('#keyboard'), true);
    const m = await mark(page);
    await page.keyboard.press('z'); // kick, not an octave shift
    await page.keyboard.press('4');
    await page.click('#pads [data-note="38"]');
    await waitIdle(page);
    assert.deepEqual((await sentSince(page, m)).filter((t) => t.startsWith('note')), ['noteOn->36', 'noteOff->36', 'noteOn->51', 'noteOff->51', 'noteOn->38', 'noteOff->38']);
    assert.equal(await page.textContent('#octave'), '4');
    await screenshot(page, 'drum-pads');
    // Back on a keyboard instrument the piano returns.
    await page.click('#instrument-button');
    await page.click('.instrument-tile[data-id="1"]');
    await page.waitForFunction(() => !document.querySelector('#keyboard').hidden);
    assert.deepEqual(errors, []);
  });
});
