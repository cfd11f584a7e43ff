// A busy musician's session on the real program, driven through its page on a
// JACK dummy server of its own: notes recorded and kept, ideas cloned, switched
// and deleted, loops muted, drum loops, tempo changes, undo and redo, a save every so often,
// the song reopened now and then, and once the program killed with SIGKILL
// with work unsaved and started again on the same user data, where it offers
// its recovery copy. After every reopen each idea and loop (notes, length,
// beats, waveform summary) must equal what the last save held, after the
// recovery what the song held at the kill, and the program's memory must not
// grow beyond what its loops hold.
//
//   node tests/page/session.mjs [minutes]      (scripts/soak-session)
import { spawn } from 'node:child_process';
import { createHash } from 'node:crypto';
import { cpSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { buildDir, programEnv, startMotifo, typeTempo, windowNamed, xdotool } from './motifo.mjs';

const ask = (page, text) => page.evaluate((t) => window.nativeZub.handleMessage(t), text);
const state = async (page, command, key) => JSON.parse(await ask(page, command))[key];
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// A small deterministic generator: a failing session replays with its seed.
function random(seed) {
  let s = seed >>> 0;
  return () => {
    s = (s + 0x6d2b79f5) >>> 0;
    let t = s;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// The song as the engine reports it, one entry per idea, one digest per loop
// of what a save must keep exactly; notes and the waveform summary are kept
// apart, since they come back from files with a resolution of their own.
export async function songState(page) {
  const collection = await state(page, 'getIdeaCollection', 'idea_collection');
  const project = await state(page, 'getProject', 'project');
  const ideas = collection.ideas.map((idea) => ({
    name: idea.name,
    loops: idea.loops.map((l) => {
      const kept = { beats: l.num_beats, seconds: l.length_seconds.toFixed(6) };
      return { digest: createHash('sha1').update(JSON.stringify(kept)).digest('hex'), kept, notes: l.notes,
        waveform: l.waveform, seconds: l.length_seconds, id: l.id };
    }),
  }));
  return { bpm: project.bpm, ideas };
}

// Differences between two song states; empty when the second keeps the first.
export function differences(saved, now) {
  const out = [];
  if (saved.bpm !== now.bpm) out.push(`tempo ${now.bpm}, saved ${saved.bpm}`);
  if (saved.ideas.length !== now.ideas.length) {
    out.push(`${now.ideas.length} ideas, saved ${saved.ideas.length}`);
    return out;
  }
  saved.ideas.forEach((idea, i) => {
    const other = now.ideas[i];
    if (other.name !== idea.name) out.push(`idea ${i} is named ${other.name}, saved ${idea.name}`);
    if (other.loops.length !== idea.loops.length) {
      out.push(`idea ${i} has ${other.loops.length} loops, saved ${idea.loops.length}`);
      return;
    }
    idea.loops.forEach((loop, j) => {
      const got = other.loops[j];
      if (got.digest !== loop.digest) {
        const field = Object.keys(loop.kept).find((k) => JSON.stringify(loop.kept[k]) !== JSON.stringify(got.kept[k]));
        out.push(`idea ${i} loop ${j}: ${field} ${JSON.stringify(got.kept[field]).slice(0, 300)}, saved ${
          JSON.stringify(loop.kept[field]).slice(0, 300)}`);
      }
      if (!sameNotes(got.notes, loop.notes)) {
        out.push(`idea ${i} loop ${j}: notes ${JSON.stringify(got.notes).slice(0, 300)}, saved ${
          JSON.stringify(loop.notes).slice(0, 300)}`);
      }
      if (!sameWaveform(got.waveform, loop.waveform)) out.push(`idea ${i} loop ${j}: the audio differs`);
    });
  });
  return out;
}

// A MIDI file keeps note times in ticks: a note may move by one (under a
// millisecond at any tempo the song takes); none may be lost, added or changed.
const kNoteToleranceUs = 2000;
function sameNotes(a, b) {
  return a.length === b.length && a.every((n, i) => n.note === b[i].note
    && Math.abs(n.time - b[i].time) <= kNoteToleranceUs && Math.abs(n.length - b[i].length) <= kNoteToleranceUs);
}

// Waveform summaries are two-digit levels; a level may move by one.
function sameWaveform(a, b) {
  if (a.length !== b.length) return false;
  for (let i = 0; i + 1 < a.length; i += 2)
    if (Math.abs(Number(a.slice(i, i + 2)) - Number(b.slice(i, i + 2))) > 1) return false;
  return true;
}

// Bytes of audio the song's loops hold (stereo floats); a loop shared by
// clones counts once.
function loopBytes(song) {
  const seconds = new Map();
  for (const idea of song.ideas) for (const l of idea.loops) seconds.set(l.id, l.seconds);
  return [...seconds.values()].reduce((n, s) => n + Math.round(s * 44100) * 8, 0);
}

function residentBytes(pid) {
  const m = /VmRSS:\s+(\d+) kB/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'));
  return m ? Number(m[1]) * 1024 : 0;
}

async function status(page, pattern, timeout = 60000) {
  await page.waitForFunction((p) => new RegExp(p).test(document.querySelector('#status').textContent),
    pattern, { timeout });
}

// --- what the musician does ---------------------------------------------------

async function answerEraseQuestion(page, answer) {
  const asked = await page.waitForFunction(() => document.querySelector('#erase-dialog').open, null, { timeout: 1500 })
    .then(() => true, () => false);
  if (asked) await page.click(`#erase-dialog [data-answer="${answer}"]`, { force: true });
}

async function recordAndKeep(page, rnd) {
  const before = await page.locator('#loops .loop-card').count();
  if (before >= kMaxLoops) return removeLoop(page, rnd);
  await page.click('#record', { force: true });
  await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'true');
  await page.locator('body').focus();
  const keys = ['a', 's', 'd', 'f', 'g', 'h', 'j', 'k'];
  for (let i = 0; i < 3 + Math.floor(rnd() * 5); i++) {
    const k = keys[Math.floor(rnd() * keys.length)];
    await page.keyboard.down(k);
    await sleep(40 + rnd() * 200);
    await page.keyboard.up(k);
  }
  await page.click('#record', { force: true });
  await page.waitForFunction(() => document.querySelector('#record').getAttribute('aria-pressed') === 'false');
  await page.waitForFunction(() => !document.querySelector('#keep-loop').disabled, null, { timeout: 20000 });
  await page.click('#keep-loop', { force: true });
  await page.waitForFunction((n) => document.querySelectorAll('#loops .loop-card').length === n + 1, before,
    { timeout: 20000 });
}

// A song of a musician's size: a few ideas of a few loops each.
const kMaxIdeas = 5;
const kMaxLoops = 6;

async function removeLoop(page, rnd) {
  const n = await page.locator('#loops .loop-card').count();
  const i = Math.floor(rnd() * n);
  await page.click(`.loop-card >> nth=${i} >> [data-role="remove"]`, { force: true });
  await page.click(`.loop-card >> nth=${i} >> text=Confirm`, { force: true });
  await page.waitForFunction((c) => document.querySelectorAll('#loops .loop-card').length === c - 1, n);
}

async function cloneIdea(page, rnd) {
  const n = await page.locator('#ideas .idea-item').count();
  if (n >= kMaxIdeas) return deleteIdea(page);
  await page.click('#idea-clone', { force: true });
  await page.waitForFunction((c) => document.querySelectorAll('#ideas .idea-item').length === c + 1, n);
}

async function deleteIdea(page) {
  const n = await page.locator('#ideas .idea-item').count();
  if (n < 2) return;
  await page.click('#idea-delete', { force: true });
  await page.click('text=Confirm', { force: true });
  await page.waitForFunction((c) => document.querySelectorAll('#ideas .idea-item').length === c - 1, n);
}

async function switchIdea(page, rnd) {
  const n = await page.locator('#ideas .idea-item').count();
  await page.click(`#ideas .idea-item >> nth=${Math.floor(rnd() * n)}`, { force: true });
}

async function toggleMute(page, rnd) {
  const n = await page.locator('#loops [data-role="mute"]').count();
  if (n === 0) return;
  const i = Math.floor(rnd() * n);
  const was = await page.getAttribute(`#loops [data-role="mute"] >> nth=${i}`, 'aria-pressed');
  await page.click(`#loops [data-role="mute"] >> nth=${i}`, { force: true });
  await page.waitForFunction(([k, w]) => document.querySelectorAll('#loops [data-role="mute"]')[k]
    ?.getAttribute('aria-pressed') !== w, [i, was]);
}

async function drumLoop(page, rnd) {
  if (!(await page.evaluate(() => document.querySelector('#drum-stop').disabled)) && rnd() < 0.5) {
    await page.click('#drum-stop', { force: true });
    return;
  }
  if (await page.locator('#loops .loop-card').count() >= kMaxLoops) return removeLoop(page, rnd);
  await page.click('#drums-button', { force: true });
  await page.waitForFunction(() => document.querySelector('#beat-picker').open);
  const n = await page.locator('.drum-tile').count();
  await page.click(`.drum-tile >> nth=${Math.floor(rnd() * n)}`, { force: true });
  await answerEraseQuestion(page, 'keep');
  await page.waitForFunction(() => !document.querySelector('#beat-picker').open, null, { timeout: 5000 }).catch(() =>
    page.keyboard.press('Escape'));
}

async function changeTempo(page, rnd) {
  const bpm = [90, 100, 110, 120, 128][Math.floor(rnd() * 5)];
  await typeTempo(page, bpm);
  await answerEraseQuestion(page, rnd() < 0.5 ? 'keep' : 'erase');
}

// Undo then redo leaves the song as it was (nothing happens where the
// program has no history).
async function undoRedo(page) {
  const before = await songState(page);
  await page.locator('body').focus();
  await page.keyboard.press('Control+z');
  await sleep(300);
  await page.keyboard.press('Control+Shift+z');
  const deadline = Date.now() + 10000;
  let diff;
  do {
    await sleep(200);
    diff = differences(before, await songState(page));
  } while (diff.length > 0 && Date.now() < deadline);
  if (diff.length > 0) throw new Error(`undo and redo changed the song: ${diff.join('; ')}`);
}

const actions = [
  [0.32, recordAndKeep], [0.12, cloneIdea], [0.08, deleteIdea], [0.1, switchIdea], [0.1, toggleMute],
  [0.12, drumLoop], [0.08, changeTempo], [0.08, undoRedo],
];

function pick(rnd) {
  let r = rnd();
  for (const [weight, action] of actions) {
    if ((r -= weight) < 0) return action;
  }
  return recordAndKeep;
}

// --- the session --------------------------------------------------------------

const dataFolder = (home) => path.join(home, 'data', 'Quavertone', 'Motifo');
const kAutosaveSeconds = 5;

// A recovery copy every few seconds while something is unsaved.
function autosaveOften(home) {
  const file = path.join(dataFolder(home), 'settings.xml');
  mkdirSync(dataFolder(home), { recursive: true });
  const settings = existsSync(file) ? readFileSync(file, 'utf8') : '<!DOCTYPE settings>\n<settings>\n</settings>\n';
  writeFileSync(file, settings.replace('</settings>', ` <AutosaveSeconds>${kAutosaveSeconds}</AutosaveSeconds>\n</settings>`));
}

// Whether the recovery copy holds as many ideas and loops as the song.
function copyHolds(home, song) {
  try {
    const copy = JSON.parse(readFileSync(path.join(dataFolder(home), 'Recovery', 'recovery.json'), 'utf8'));
    return copy.ideas.length === song.ideas.length
      && copy.ideas.every((idea, i) => idea.loops.length === song.ideas[i].loops.length);
  } catch {
    return false;
  }
}

// Runs the session for `minutes`: a save every `saveEverySeconds`, a reopen
// every `reopenEverySeconds`, the kill at `killAtSeconds`. Returns a report;
// throws with what differs on the first lost take.
export async function runSession({
  minutes, saveEverySeconds = 60, reopenEverySeconds = 300, killAtSeconds, seed = 1, log = () => {},
}) {
  const rnd = random(seed);
  const songs = mkdtempSync(path.join(tmpdir(), 'motifo-session-'));
  const song = path.join(songs, 'Session.zub');
  const report = { seed, actions: 0, saves: 0, reopens: 0, kills: 0, resident: [], loopBytes: [] };
  log(`seed ${seed}`);
  let motifo = await startMotifo({ audio: true, display: true, prepareHome: autosaveOften });
  try {
    if (!motifo.audio) throw new Error('jackd is needed for the session (scripts/deps installs it)');
    const start = Date.now();
    const end = start + minutes * 60000;
    const elapsed = () => (Date.now() - start) / 1000;
    let saved = null;
    let firstResident = 0;

    const save = async () => {
      if (!saved) {
        await motifo.page.evaluate(() => { window.nativeZub.saveAs(); });
        await windowNamed(motifo.display, '^Save Zub As');
        xdotool(motifo.display, ['type', '--delay', '5', song]);
        xdotool(motifo.display, ['key', 'Return']);
      } else {
        await motifo.page.evaluate(() => { window.nativeZub.save(); });
      }
      await status(motifo.page, '^Session · Saved$');
      saved = await songState(motifo.page);
      report.saves++;
      log(`${elapsed().toFixed(0)} s: saved, ${saved.ideas.length} ideas, ${
        saved.ideas.reduce((n, i) => n + i.loops.length, 0)} loops`);
    };
    const expectSaved = async (what) => {
      const deadline = Date.now() + 30000;
      let diff;
      do {
        diff = differences(saved, await songState(motifo.page));
        if (diff.length === 0) break;
        await sleep(250);
      } while (Date.now() < deadline);
      if (diff.length > 0) throw new Error(`after the ${what} at ${elapsed().toFixed(0)} s: ${diff.join('; ')}`);
    };
    const checkMemory = async () => {
      const rss = residentBytes(motifo.pid);
      const loops = loopBytes(await songState(motifo.page));
      report.resident.push(rss);
      report.loopBytes.push(loops);
      if (!firstResident) firstResident = rss;
      // Every loop's audio may be held twice (the loop and a copy kept for
      // undo or on its way to a file), plus room for the allocator.
      const allowed = firstResident + 2 * loops + 96 * 1024 * 1024;
      if (rss > allowed) {
        throw new Error(`memory grew to ${(rss / 1048576).toFixed(0)} MB with ${
          (loops / 1048576).toFixed(0)} MB of loops (started at ${(firstResident / 1048576).toFixed(0)} MB)`);
      }
    };
    // A second launch on the song, as a double click would: the running
    // program takes it and opens it.
    const reopen = async () => {
      await motifo.page.evaluate(() => { window.nativeZub.command('new'); });
      await motifo.page.waitForFunction(async () =>
        JSON.parse(await window.nativeZub.handleMessage('getIdeaCollection')).idea_collection.ideas.length === 0);
      const second = spawn(path.join(buildDir, 'motifo'), [song], {
        env: { ...process.env, ...programEnv(motifo.home, 0) }, stdio: 'ignore',
      });
      await new Promise((r) => second.once('exit', r));
      await expectSaved('reopen');
      report.reopens++;
      await checkMemory();
      log(`${elapsed().toFixed(0)} s: reopened, ${(residentBytes(motifo.pid) / 1048576).toFixed(0)} MB resident`);
    };
    // Killed with work not saved yet; started again on the same user data,
    // the program offers its recovery copy, which must hold that work.
    const killAndRecover = async () => {
      await recordAndKeep(motifo.page, rnd); // something unsaved for certain
      const wanted = await songState(motifo.page);
      const deadline = Date.now() + 60000;
      while (!copyHolds(motifo.home, wanted) && Date.now() < deadline) await sleep(200);
      if (!copyHolds(motifo.home, wanted)) throw new Error('no recovery copy of the unsaved song was written');
      await sleep(2 * kAutosaveSeconds * 1000); // the last change copied too
      process.kill(motifo.pid, 'SIGKILL');
      const kept = mkdtempSync(path.join(tmpdir(), 'motifo-session-data-'));
      cpSync(dataFolder(motifo.home), kept, { recursive: true });
      await motifo.stop();
      motifo = await startMotifo({
        audio: true, display: true, prepareHome: (home) => cpSync(kept, dataFolder(home), { recursive: true }),
      });
      rmSync(kept, { recursive: true, force: true });
      const asked = 'Asking: Motifo did not close properly. Recover “Session”?';
      const until = Date.now() + 30000;
      while (!motifo.logs.join('').includes(asked) && Date.now() < until) await sleep(100);
      if (!motifo.logs.join('').includes(asked)) throw new Error('the program did not offer its recovery copy');
      await windowNamed(motifo.display, '^Motifo$');
      xdotool(motifo.display, ['key', 'alt+r']);
      await motifo.page.waitForFunction(() => document.querySelector('#status').dataset.saved === 'unsaved', null,
        { timeout: 30000 });
      const lastSave = saved;
      saved = wanted;
      await expectSaved('recovery after the kill');
      saved = lastSave;
      report.kills++;
      firstResident = 0;
      await checkMemory();
      log(`${elapsed().toFixed(0)} s: killed, started again and recovered`);
      await save();
    };

    await recordAndKeep(motifo.page, rnd);
    await save();
    await checkMemory();
    let nextSave = Date.now() + saveEverySeconds * 1000;
    let nextReopen = Date.now() + reopenEverySeconds * 1000;
    let killAt = killAtSeconds === undefined ? null : start + killAtSeconds * 1000;
    while (Date.now() < end) {
      await pick(rnd)(motifo.page, rnd);
      report.actions++;
      if (killAt !== null && Date.now() >= killAt) {
        killAt = null;
        await killAndRecover();
      } else if (Date.now() >= nextReopen) {
        await save();
        await reopen();
        nextReopen = Date.now() + reopenEverySeconds * 1000;
        nextSave = Date.now() + saveEverySeconds * 1000;
      } else if (Date.now() >= nextSave) {
        await save();
        nextSave = Date.now() + saveEverySeconds * 1000;
      }
    }
    await save();
    await reopen();
    report.errors = motifo.consoleErrors;
    return report;
  } catch (e) {
    e.message += `\n(seed ${seed}; program log tail:)\n${motifo?.logs.join('').split('\n').slice(-40).join('\n')}`;
    throw e;
  } finally {
    await motifo?.stop();
    rmSync(songs, { recursive: true, force: true });
  }
}

// The report with memory in MB, as one line.
export const summary = (report) => JSON.stringify({ ...report,
  resident: report.resident.map((b) => Math.round(b / 1048576)),
  loopBytes: report.loopBytes.map((b) => Math.round(b / 1048576)) });

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const minutes = Number(process.argv[2] || 30);
  const report = await runSession({
    minutes, killAtSeconds: minutes * 30, seed: Number(process.env.SEED || Date.now() % 100000),
    log: (line) => console.log(line),
  });
  console.log(summary(report));
}
