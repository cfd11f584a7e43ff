// The program's word on its devices: which one does not work and why.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { setup } from './harness.mjs';

describe('devices', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('no audio output and a missing keyboard are shown with their reasons, and cleared when they work', async () => {
    const { page, errors } = await h.open();
    assert.equal(await page.$('#device-problems:not([hidden])'), null, 'nothing is shown while the devices work');
    await page.evaluate(() => window.__fake.push({ devices: { audio_output: false, problems: [
      'No audio output: system (JACK Audio Connection Kit) is not there (is its sound server running?)',
      'No MIDI keyboard: USB Keyboard is not connected'] } }));
    await page.waitForSelector('#device-problems:not([hidden])');
    const shown = await page.evaluate(() => ({
      text: document.getElementById('device-problems').innerText,
      role: document.getElementById('device-problems').getAttribute('role'),
      output: document.body.dataset.audioOutput,
    }));
    assert.match(shown.text, /^No audio output\n/);
    assert.match(shown.text, /system \(JACK Audio Connection Kit\) is not there/);
    assert.match(shown.text, /USB Keyboard is not connected/);
    assert.equal(shown.role, 'alert');
    assert.equal(shown.output, 'off');

    await page.evaluate(() => window.__fake.push({ devices: { audio_output: true, problems: [] } }));
    await page.waitForSelector('#device-problems', { state: 'hidden' });
    assert.equal(await page.evaluate(() => document.body.dataset.audioOutput), 'on');
    assert.deepEqual(errors, []);
  });
});
