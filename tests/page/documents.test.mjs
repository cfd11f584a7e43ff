// The document commands of the real program, with its native dialogs shown
// on an X server of the test's own and answered by typing into them: Save
// As onto another song, Open over unsaved work, and the saved mark.
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { mkdirSync, readdirSync, readFileSync, statSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { startMotifo, windowNamed, xdotool } from './motifo.mjs';

const ask = (page, text) => page.evaluate((t) => window.nativeZub.handleMessage(t), text);
// A note recorded and kept: the loop recorder keeps nothing while empty.
const keepALoop = async (page) => {
  for (const m of ['{ "loop_recorder" : { "record" : true } }', 'noteOn->60', 'noteOff->60', 'createLoopFromLoopRecorder']) {
    await ask(page, m);
  }
};
const ideaCount = async (page) => JSON.parse(await ask(page, 'getIdeaCollection')).idea_collection.ideas.length;

// Every file below a folder with a digest of its bytes.
function snapshot(root) {
  const out = {};
  const walk = (dir) => {
    for (const name of readdirSync(dir)) {
      const p = path.join(dir, name);
      if (statSync(p).isDirectory()) walk(p);
      else out[path.relative(root, p)] = createHash('sha1').update(readFileSync(p)).digest('hex');
    }
  };
  walk(root);
  return out;
}

describe('document commands in the real program', () => {
  let motifo;
  let songs;
  before(async () => {
    motifo = await startMotifo({ display: true });
    songs = path.join(motifo.home, 'songs');
    mkdirSync(songs);
  });
  after(async () => { await motifo?.stop(); });

  const focusWindow = (pattern) => windowNamed(motifo.display, pattern);
  const type = (text) => xdotool(motifo.display, ['type', '--delay', '5', text]);
  const key = (name) => xdotool(motifo.display, ['key', name]);
  const saved = (page, text, state) => page.waitForFunction(([t, s]) => {
    const e = document.querySelector('#status');
    return e.textContent === t && e.dataset.saved === s;
  }, [text, state]);
  const logged = (text) => motifo.logs.join('').includes(text);
  const waitLogged = async (text) => {
    const deadline = Date.now() + 20000;
    while (!logged(text) && Date.now() < deadline) await new Promise((r) => setTimeout(r, 50));
    assert.ok(logged(text), `not in the log: ${text}`);
  };
  const saveAs = async (page, name) => {
    await page.evaluate(() => { window.nativeZub.saveAs(); });
    await focusWindow('^Save Zub As');
    type(path.join(songs, name));
    key('Return');
  };
  const openSong = async (page, name) => {
    await page.evaluate(() => { window.nativeZub.open(); });
    await focusWindow('^Open Existing Zub');
    type(path.join(songs, name));
    key('Return');
  };

  test('the saved mark and the title follow a save', async () => {
    const { page } = motifo;
    await saved(page, 'New song', 'new');
    await keepALoop(page);
    await saved(page, 'New song · Unsaved', 'unsaved');
    await focusWindow('^Untitled\\* — Motifo$');
    // What the page shows while the song is written beside the music.
    const shown = page.evaluate(() => new Promise((resolve) => {
      const seen = [];
      const progress = document.querySelector('#song-file-progress');
      const obs = new MutationObserver(() => {
        const text = document.querySelector('#status').textContent;
        seen.push({ text, bar: progress.hidden ? null : progress.value });
        if (text === 'Other · Saved') { obs.disconnect(); resolve(seen); }
      });
      obs.observe(document.querySelector('header') || document.body, { childList: true, characterData: true, subtree: true, attributes: true });
    }));
    await saveAs(page, 'Other');
    await saved(page, 'Other · Saved', 'saved');
    const steps = await shown;
    const percents = steps.map((s) => /^Saving… (\d+) %$/.exec(s.text)?.[1]).filter(Boolean).map(Number);
    assert.ok(percents.length >= 2, `the save's progress is shown: ${steps.map((s) => s.text).join(' | ')}`);
    assert.deepEqual(percents, [...percents].sort((a, b) => a - b), 'it only grows');
    assert.equal(percents.at(-1), 100);
    assert.ok(steps.some((s) => s.bar !== null), 'the progress bar shows while saving');
    assert.equal(await page.evaluate(() => document.querySelector('#song-file-progress').hidden), true, 'and goes when saved');
    await focusWindow('^Other — Motifo$');
    assert.ok(statSync(path.join(songs, 'Other.zub')).isFile());

    // Save on a song with a name asks nothing.
    await keepALoop(page);
    await saved(page, 'Other · Unsaved changes', 'unsaved');
    await page.evaluate(() => { window.nativeZub.save(); });
    await saved(page, 'Other · Saved', 'saved');
  });

  test('Save As onto an existing name asks, and only a yes replaces that song', async () => {
    const { page } = motifo;
    const before = snapshot(songs);
    assert.ok(Object.keys(before).some((f) => f.endsWith('loop0.wav')), 'the other song has a loop file');
    await ask(page, 'clearProject');
    for (let i = 0; i < 3; ++i) await keepALoop(page);
    await saved(page, 'New song · Unsaved', 'unsaved');

    await saveAs(page, 'Other'); // typed without ".zub"
    await focusWindow('^Motifo$');
    await waitLogged('Asking: “Other.zub” already exists. Do you want to replace it?');
    key('Escape');
    await waitLogged('Answer: Cancel');
    assert.deepEqual(snapshot(songs), before, 'the other song is whole');
    await saved(page, 'New song · Unsaved', 'unsaved');

    await saveAs(page, 'Other');
    await focusWindow('^Motifo$');
    key('alt+r');
    await saved(page, 'Other · Saved', 'saved');
    const after = snapshot(songs);
    assert.notDeepEqual(after, before);
    assert.ok(Object.keys(after).some((f) => f.endsWith('loop2.wav')), 'the new song, with its three loops, is there');
  });

  test('Open over unsaved changes asks, and Cancel keeps everything', async () => {
    const { page } = motifo;
    await ask(page, 'clearProject');
    await ask(page, 'setTempo->90'); // kept loops would hold the tempo
    await keepALoop(page);
    await saved(page, 'New song · Unsaved', 'unsaved');
    const collection = await ask(page, 'getIdeaCollection');

    await openSong(page, 'Other.zub');
    await focusWindow('^Motifo$');
    await waitLogged('Asking: Do you want to save your changes to your song?');
    key('Escape');
    await waitLogged('Answer: Cancel');
    assert.equal(await ask(page, 'getIdeaCollection'), collection);
    assert.equal(JSON.parse(await ask(page, 'getProject')).project.bpm, 90);
    await saved(page, 'New song · Unsaved', 'unsaved');
    await focusWindow('^Untitled\\* — Motifo$');

    // Discard opens the song.
    await openSong(page, 'Other.zub');
    await focusWindow('^Motifo$');
    key('alt+d');
    await saved(page, 'Other · Saved', 'saved');
    assert.equal(await ideaCount(page), 1);
    assert.equal(JSON.parse(await ask(page, 'getProject')).project.bpm, 120);
  });
});
