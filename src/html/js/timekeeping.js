// Keeping time: tempo (typed or tapped), the metronome with a beat light that
// follows the engine's transport, and the drum loop browser.
import { on, send, sendJson } from './bridge.js';
import { $, el, announce, openDialog, closeDialog, logoImage, flash, setClass } from './ui.js';

export const MIN_BPM = 30;
export const MAX_BPM = 200;
const TAP_RESET_MS = 2000;
const TAP_COMMIT_MS = 1200;
const BEAT_RESYNC_MS = 4000;

export function validTempo(bpm) {
  return Number.isFinite(bpm) && bpm >= MIN_BPM && bpm <= MAX_BPM;
}

// Tempo from tap times in milliseconds: the mean of the intervals.
export function tapTempo(times) {
  if (times.length < 2) return null;
  const span = times[times.length - 1] - times[0];
  if (span <= 0) return null;
  return (60000 * (times.length - 1)) / span;
}

export function formatBpm(bpm) {
  return String(Math.round(bpm * 10) / 10);
}

// The tempo in a "getProject" reply, or null.
function songBpm(reply) {
  try {
    const bpm = JSON.parse(reply).project.bpm;
    return Number.isFinite(bpm) ? bpm : null;
  } catch {
    return null;
  }
}

export class Timekeeping {
  // refresh asks the engine for everything a tempo change touches;
  // confirmErase(reason) resolves true when a change that empties the loop
  // recorder may go on; recorderFits(bpm) is true when the recorder's beats
  // already last its length at bpm, so taking that tempo keeps its content;
  // beatOfBar(at, beatMs) is which of a bar's four beats falls at `at` on the
  // song's grid, or null when the page cannot tell.
  constructor(refresh, confirmErase, recorderFits, beatOfBar) {
    this.refresh = refresh;
    this.confirmErase = confirmErase;
    this.recorderFits = recorderFits;
    this.beatOfBar = beatOfBar;
    this.countFrom = null; // { at, bpm }: bars counted from this beat when the grid is unknown
    this.stopped = false; // the song is stopped: the beat light rests
    this.bpm = 120;
    this.muted = true;
    this.taps = [];
    this.tapTimer = 0;
    this.tempoAsked = 0; // counts tempo changes sent, so only the latest reports a refusal
    this.beatAnchor = null; // performance.now() of a beat boundary
    this.nextSync = 0;
    this.changed = () => {}; // set by the page's pulse
    this.syncing = false;
    this.drumLoops = [];
    this.drum = null; // { index, name, bpm, beats }
    this.drumPlaying = false;
    this.playsAtSongTempo = false; // the song has loops: a drum loop keeps its tempo

    $('tempo').addEventListener('change', () => this.commitTyped());
    $('tempo').addEventListener('keydown', (e) => { if (e.key === 'Enter') this.commitTyped(); });
    $('tap-tempo').addEventListener('click', () => this.tap());
    $('metronome').addEventListener('click', () => this.toggleMetronome());
    $('drums-button').addEventListener('click', () => this.openDrums());
    $('drum-play').addEventListener('click', async () => {
      if (this.drum && await this.confirmDrums(this.drum.bpm)) this.playDrums();
    });
    $('drum-stop').addEventListener('click', () => this.stopDrums());
    $('drum-clear').addEventListener('click', () => this.clearDrums());

    on('metronome', (m) => { if (typeof m.mute === 'boolean') this.showMetronome(m.mute); });
    on('transport', (m) => this.onTransport(m));
    on('project', (m) => { if (typeof m.bpm === 'number') this.showTempo(m.bpm); });
    on('drum_loop_collection', (m) => this.onDrumLoops(m));
  }

  showTempo(bpm) {
    if (!Number.isFinite(bpm) || bpm <= 0) return;
    const changed = Math.abs(bpm - this.bpm) > 1e-6;
    this.bpm = bpm;
    const input = $('tempo');
    if (document.activeElement !== input && !this.tapTimer) input.value = formatBpm(bpm);
    if (changed) this.resyncBeat();
  }

  commitTyped() {
    const input = $('tempo');
    const bpm = Number(input.value);
    if (!validTempo(bpm)) {
      $('tempo-error').textContent = `Tempo must be ${MIN_BPM} to ${MAX_BPM} bpm`;
      input.setAttribute('aria-invalid', 'true');
      return;
    }
    $('tempo-error').textContent = '';
    input.removeAttribute('aria-invalid');
    if (Math.abs(bpm - this.bpm) < 1e-6) return;
    this.setTempo(bpm);
  }

  // A new tempo re-times the loop recorder, which empties it: asked first.
  async setTempo(bpm) {
    if (!(await this.confirmErase('A new tempo empties the loop recorder.'))) {
      $('tempo').value = formatBpm(this.bpm);
      return;
    }
    const asked = ++this.tempoAsked;
    this.bpm = bpm;
    $('tempo').value = formatBpm(bpm);
    await send(`setTempo->${formatBpm(bpm)}`);
    // Kept loops hold the song's tempo: the engine refuses another one
    // (unless a newer tempo was typed meanwhile).
    const song = songBpm(await send('getProject'));
    if (song !== null && Math.abs(song - bpm) > 1e-6 && asked === this.tempoAsked) {
      this.showTempo(song);
      $('tempo').value = formatBpm(song);
      $('tempo-error').textContent = `The kept loops hold the tempo at ${formatBpm(song)} bpm`;
      await this.refresh();
      return;
    }
    announce(`Tempo ${formatBpm(bpm)} bpm`);
    this.resyncBeat();
    await this.refresh();
  }

  // Taps set the tempo once they stop, so the loop recorder is resized
  // (and emptied) once rather than on every tap.
  tap() {
    const now = performance.now();
    if (this.taps.length && now - this.taps[this.taps.length - 1] > TAP_RESET_MS) this.taps = [];
    this.taps.push(now);
    if (this.taps.length > 9) this.taps.shift();
    flash($('tap-tempo'));
    const bpm = tapTempo(this.taps);
    clearTimeout(this.tapTimer);
    this.tapTimer = 0;
    if (bpm === null) return;
    const clamped = Math.max(MIN_BPM, Math.min(MAX_BPM, bpm));
    $('tempo').value = formatBpm(clamped);
    this.tapTimer = setTimeout(() => {
      this.tapTimer = 0;
      this.taps = [];
      this.setTempo(Math.round(clamped * 10) / 10);
    }, TAP_COMMIT_MS);
  }

  async toggleMetronome() {
    await sendJson({ metronome: { mute: !this.muted } });
    await send('getMetronome');
  }

  showMetronome(muted) {
    this.muted = muted;
    const button = $('metronome');
    button.setAttribute('aria-pressed', String(!muted));
    button.classList.toggle('on', !muted);
  }

  // The engine answers how long ago the last beat was (despite the name).
  onTransport(m) {
    const since = Number(m.usec_till_beat);
    this.syncing = false;
    if (!Number.isFinite(since) || since < 0) return;
    this.beatAnchor = performance.now() - since / 1000;
    this.nextSync = performance.now() + BEAT_RESYNC_MS;
    this.changed();
  }

  resyncBeat() {
    this.nextSync = 0;
    this.changed();
  }

  // Shows the beat light as of `at` and returns when it next changes: one of
  // four dots lit for each beat of the bar, so it changes once a beat (every
  // change costs the window a frame).
  step(at) {
    if (at >= this.nextSync && !this.syncing) {
      this.syncing = true;
      this.nextSync = at + BEAT_RESYNC_MS;
      send('getMicrosecondsUntilNextBeat').then(() => { this.syncing = false; });
    }
    const dots = [...$('beat-light').children];
    if (this.beatAnchor === null || this.stopped) {
      dots.forEach((dot) => setClass(dot, 'lit', false));
      return this.nextSync;
    }
    const beatMs = 60000 / this.bpm;
    const beatStart = this.beatAnchor + Math.floor((at - this.beatAnchor) / beatMs) * beatMs;
    const lit = this.barBeat(beatStart, beatMs);
    dots.forEach((dot, i) => setClass(dot, 'lit', i === lit));
    return Math.min(this.nextSync, beatStart + beatMs);
  }

  // The beat of the bar that starts at beatStart. Asked mid-beat, so that the
  // recorder's position, synced apart, cannot land on the wrong side of it.
  barBeat(beatStart, beatMs) {
    const onGrid = this.beatOfBar(beatStart + beatMs / 2, beatMs);
    if (onGrid !== null) return onGrid;
    if (!this.countFrom || this.countFrom.bpm !== this.bpm) this.countFrom = { at: beatStart, bpm: this.bpm };
    return ((Math.round((beatStart - this.countFrom.at) / beatMs) % 4) + 4) % 4;
  }

  // Drum loops
  openDrums() {
    if (!this.drumLoops.length) send('getDrumLoopCollection');
    this.renderDrums();
    openDialog('beat-picker');
    $('drum-loops').querySelector('[aria-current="true"]')?.focus();
  }

  hideDrums() {
    closeDialog('beat-picker');
  }

  onDrumLoops(m) {
    this.drumLoops = Array.isArray(m.drum_loops) ? m.drum_loops.filter((d) => d && typeof d === 'object') : [];
    this.playsAtSongTempo = m.plays_at_song_tempo === true;
    this.renderDrums();
  }

  renderDrums() {
    const list = $('drum-loops');
    list.textContent = '';
    $('drums-empty').hidden = this.drumLoops.length > 0;
    this.drumLoops.forEach((d, index) => {
      const name = String(d.display_name || d.file_name || `Drum loop ${index + 1}`);
      const bpm = Number(d.bpm) || 0;
      const beats = Number(d.beats) || 0;
      const button = el('button', {
        type: 'button', class: 'drum-tile',
        'aria-label': `${name}, ${bpm} bpm, ${beats} beats`,
        'aria-current': this.drum?.index === index ? 'true' : undefined,
        onclick: () => this.chooseDrums(index),
      }, [logoImage(d.art, 'drum-art', name),
        el('span', { class: 'tile-name', text: name }),
        el('span', { class: 'tile-kind', text: `${bpm} bpm · ${beats} beats` })]);
      list.append(el('li', {}, button));
    });
    $('drum-clear').disabled = !this.drum;
  }

  // The engine decides the tempo: a song with loops keeps its own and the
  // drum loop is re-timed to it; an empty song takes the drum loop's, which
  // empties the loop recorder unless its beats fit that tempo as well. Only
  // then is the musician asked.
  async confirmDrums(bpm) {
    await send('getDrumLoopCollection');
    await send('getLoopRecorder');
    if (this.playsAtSongTempo || !validTempo(bpm) || this.recorderFits(bpm)) return true;
    return this.confirmErase(`The drum loop's tempo, ${formatBpm(bpm)} bpm, becomes the song's: that empties the loop recorder.`);
  }

  async chooseDrums(index) {
    const d = this.drumLoops[index];
    if (!d) return;
    this.hideDrums();
    if (!(await this.confirmDrums(Number(d.bpm)))) return;
    this.drum = { index, name: String(d.display_name || d.file_name), bpm: Number(d.bpm), beats: Number(d.beats) };
    await send(`loadDrumLoopByIndex:${index}`);
    await this.playDrums();
  }

  async playDrums() {
    if (!this.drum) return;
    await send('playDrumLoop');
    this.drumPlaying = true;
    this.showDrums();
    this.resyncBeat();
    await this.refresh();
  }

  async stopDrums() {
    await send('stopDrumLoop');
    this.drumPlaying = false;
    this.showDrums();
    await this.refresh();
  }

  async clearDrums() {
    this.hideDrums();
    await send('clearDrumLoop');
    this.drum = null;
    this.drumPlaying = false;
    this.showDrums();
    await this.refresh();
  }

  // The project was cleared: the engine forgot its drum loop.
  forgetDrums() {
    this.drum = null;
    this.drumPlaying = false;
    this.showDrums();
  }

  showDrums() {
    $('drum-name').textContent = this.drum ? this.drum.name : 'None';
    $('drums-button').setAttribute('aria-label', `Drum loop: ${this.drum ? this.drum.name : 'none'}. Choose a drum loop`);
    $('drum-play').disabled = !this.drum || this.drumPlaying;
    $('drum-stop').disabled = !this.drum || !this.drumPlaying;
    $('drum-clear').disabled = !this.drum;
    $('drums-button').classList.toggle('on', this.drumPlaying);
  }
}
