// A crash loses nothing: the real program, playing on a JACK server, is
// killed with SIGKILL after loops were made, started again on the same
// per-user data, and asked to recover. The recovered song is saved and its
// loop files (read with sox) and MIDI files (read with mido) compared with a
// save made before the kill; every loop's notes, beats and mute, and the loop
// recorder's take, are compared through the engine's own state.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { cpSync, existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { after, describe, test } from 'node:test';
import { startMotifo, windowNamed, xdotool } from './motifo.mjs';

const ask = (page, text) => page.evaluate((t) => window.nativeZub.handleMessage(t), text);
const ideas = async (page) => JSON.parse(await ask(page, 'getIdeaCollection')).idea_collection.ideas;
const dataFolder = (home) => path.join(home, 'data', 'Quavertone', 'Motifo');

// Copies every second, so the test waits on a copy rather than a minute.
function autosaveEverySecond(home) {
  const file = path.join(dataFolder(home), 'settings.xml');
  mkdirSync(dataFolder(home), { recursive: true });
  const settings = existsSync(file) ? readFileSync(file, 'utf8') : '<!DOCTYPE settings>\n<settings>\n</settings>\n';
  writeFileSync(file, settings.replace('</settings>', ' <AutosaveSeconds>1</AutosaveSeconds>\n</settings>'));
}

// The notes of each track, read by mido.
function midiNotes(file) {
  const r = spawnSync('/usr/bin/python3', ['-c', `
import json, mido, sys
tracks = []
for track in mido.MidiFile(sys.argv[1]).tracks:
    t, notes = 0, []
    for m in track:
        t += m.time
        if m.type in ('note_on', 'note_off'):
            notes.append([t, m.type, m.note, m.velocity])
    tracks.append(notes)
print(json.dumps(tracks))
`, file], { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
  return JSON.parse(r.stdout);
}

// The 16-bit samples of a WAV file, read by sox.
function wavSamples(file) {
  const r = spawnSync('sox', [file, '-t', 's16', '-'], { maxBuffer: 1 << 28 });
  assert.equal(r.status, 0, String(r.stderr));
  return new Int16Array(r.stdout.buffer, r.stdout.byteOffset, r.stdout.length / 2);
}

// Idea folder -> its files, below a song's audio folder.
function songFiles(folder) {
  const out = {};
  for (const idea of readdirSync(folder, { withFileTypes: true }).filter((e) => e.isDirectory())) {
    out[idea.name] = readdirSync(path.join(folder, idea.name)).sort();
  }
  return out;
}

describe('recovery after a kill', () => {
  const started = [];
  const songs = mkdtempSync(path.join(tmpdir(), 'motifo-songs-'));
  const kept = mkdtempSync(path.join(tmpdir(), 'motifo-data-'));
  after(async () => {
    for (const m of started) await m.stop();
    rmSync(songs, { recursive: true, force: true });
    rmSync(kept, { recursive: true, force: true });
  });

  const tools = spawnSync('sh', ['-c', 'command -v sox && /usr/bin/python3 -c "import mido"']).status === 0;
  test('a song killed mid-work comes back with every loop, its notes and the recorder\'s take', { skip: !tools && 'needs sox and python3-mido' }, async (t) => {
    const first = await startMotifo({ audio: true, display: true, prepareHome: autosaveEverySecond });
    started.push(first);
    if (!first.audio) { t.skip('needs the audio clock of a JACK server'); return; }
    const { page } = first;

    const play = async (p, notes) => {
      for (const n of notes) {
        await ask(p, `noteOn->${n}`);
        await p.waitForTimeout(300);
        await ask(p, `noteOff->${n}`);
      }
      await p.waitForTimeout(300);
    };
    const saveAs = async (m, name) => {
      await m.page.evaluate(() => { window.nativeZub.saveAs(); });
      await windowNamed(m.display, '^Save Zub As');
      xdotool(m.display, ['type', '--delay', '5', path.join(songs, name)]);
      xdotool(m.display, ['key', 'Return']);
      await m.page.waitForFunction((s) => document.querySelector('#status').textContent === `${s} · Saved`, name,
        { timeout: 60000 });
    };

    const keep = async (cards) => {
      await page.waitForFunction(() => !document.querySelector('#keep-loop').disabled, null, { timeout: 10000 });
      await page.click('#keep-loop', { force: true });
      await page.waitForFunction((n) => document.querySelectorAll('#loops .loop-card').length === n, cards);
    };
    // Two loops, a clone with its first loop muted; saved.
    await page.click('#record', { force: true });
    await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'true');
    await play(page, [60, 64]);
    await keep(1);
    await play(page, [67]);
    await keep(2);
    await page.click('#idea-clone', { force: true });
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 2);
    await page.click('#loops [data-role="mute"]', { force: true });
    await page.waitForFunction(() => document.querySelector('#loops [data-role="mute"]').getAttribute('aria-pressed') === 'true');
    await saveAs(first, 'Before');

    // Unsaved from here: one more loop, and a take left in the recorder.
    await play(page, [62]);
    await keep(3);
    await play(page, [72, 76]);
    const wanted = await ideas(page);
    assert.equal(wanted.length, 2);
    assert.equal(wanted.find((i) => i.active).loops.length, 3);

    // The copy is on disk once its index names the take; then the kill.
    const index = path.join(dataFolder(first.home), 'Recovery', 'recovery.json');
    const copied = () => {
      try {
        const copy = JSON.parse(readFileSync(index, 'utf8'));
        return copy.loop_recorder?.notes.length === 4 && copy.ideas.some((i) => i.loops.length === 3);
      } catch { return false; }
    };
    const deadline = Date.now() + 30000;
    while (!copied() && Date.now() < deadline) await new Promise((r) => setTimeout(r, 100));
    assert.ok(copied(), 'a recovery copy of the song and the take was written');
    process.kill(first.pid, 'SIGKILL');
    cpSync(dataFolder(first.home), kept, { recursive: true });
    await first.stop(); // its JACK server too

    // Started again on the same per-user data: the question names the song.
    const second = await startMotifo({
      audio: true, display: true,
      prepareHome: (home) => cpSync(kept, dataFolder(home), { recursive: true }),
    });
    started.push(second);
    const logged = (text) => second.logs.join('').includes(text);
    const asked = 'Asking: Motifo did not close properly. Recover “Before”?';
    const until = Date.now() + 30000;
    while (!logged(asked) && Date.now() < until) await new Promise((r) => setTimeout(r, 100));
    assert.ok(logged(asked), 'the program offers the copy back');
    await windowNamed(second.display, '^Motifo$');
    xdotool(second.display, ['key', 'alt+r']);
    await second.page.waitForFunction(() => document.querySelector('#status').dataset.saved === 'unsaved', null,
      { timeout: 30000 });
    await windowNamed(second.display, '^Before\\* — Motifo$');

    // Every idea and loop as it was, ids aside.
    const withoutIds = (list) => list.map(({ id, ...idea }) => ({ ...idea, loops: idea.loops.map(({ id: l, ...loop }) => loop) }));
    assert.deepEqual(withoutIds(await ideas(second.page)), withoutIds(wanted));
    // The take is in the recorder: kept, it holds the notes played into it.
    assert.equal(JSON.parse(await ask(second.page, 'getLoopRecorder')).loop_recorder.empty, false);
    await ask(second.page, 'createLoopFromLoopRecorder');
    const take = (await ideas(second.page)).find((i) => i.active).loops.at(-1);
    assert.deepEqual(take.notes.map((n) => n.note), [72, 76]);

    // The loops saved before the kill come back sample for sample, within
    // the fresh dither of each save.
    await saveAs(second, 'After');
    const before = path.join(songs, 'Before - Audio and MIDI');
    const afterFolder = path.join(songs, 'After - Audio and MIDI');
    const beforeFiles = songFiles(before);
    for (const [idea, files] of Object.entries(beforeFiles)) {
      for (const file of files) {
        const a = wavSamples(path.join(before, idea, file));
        const b = wavSamples(path.join(afterFolder, idea, file));
        assert.equal(b.length, a.length, `${idea}/${file}: its length`);
        let worst = 0;
        for (let i = 0; i < a.length; i++) worst = Math.max(worst, Math.abs(a[i] - b[i]));
        assert.ok(worst <= 2, `${idea}/${file}: differs by ${worst}`);
        assert.ok(a.some((v) => Math.abs(v) > 100), `${idea}/${file} is not silent`);
      }
      const beforeNotes = midiNotes(path.join(before, `${idea}.mid`));
      const afterNotes = midiNotes(path.join(afterFolder, `${idea}.mid`));
      assert.deepEqual(afterNotes.slice(0, beforeNotes.length), beforeNotes, `${idea}: the same notes in each loop's track`);
      assert.ok(beforeNotes.flat().length > 0, `${idea} has notes`);
    }
  });
});
