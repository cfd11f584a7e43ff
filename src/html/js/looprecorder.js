// The loop recorder: record toggle, length in beats, playhead, clear and
// "keep loop", and the question before anything empties a recording.
import { on, send, sendJson } from './bridge.js';
import { $, el, announce, openDialog, closeDialog, setText, setAttr, setClass } from './ui.js';
import { stepsPerBeat } from './pulse.js';

export const BEAT_CHOICES = [2, 4, 8, 16, 32, 64];
const RESYNC_MS = 3000;
// While recording into an empty recorder: soon enough for Keep loop to be
// ready when the musician reaches for it.
const RECORDING_RESYNC_MS = 400;
const SAMPLE_RATE = 44100;

export class LoopRecorder {
  constructor(afterKeep) {
    this.afterKeep = afterKeep;
    this.state = { record: false, length_seconds: 8, num_beats: 16, play_pos_frame: 0, empty: true };
    this.stopped = false; // the song is stopped: the playhead rests
    this.usable = true; // only on the ideas screen
    this.anchor = null; // { at: performance.now(), seconds: position }
    this.nextSync = 0;
    this.syncing = false;
    this.shownStep = -1;
    this.shownSteps = 0;
    this.changed = () => {}; // set by the page's pulse
    this.suspended = false;
    this.marksFor = 0;

    $('record').addEventListener('click', () => this.toggleRecord());
    $('recorder-beats').addEventListener('change', (e) => this.setBeats(Number(e.target.value)));
    $('erase-dialog').addEventListener('click', (e) => {
      const answer = e.target.closest('[data-answer]')?.dataset.answer;
      if (answer) { this.answer = answer; closeDialog('erase-dialog'); }
    });
    $('erase-dialog').addEventListener('close', () => {
      const resolve = this.asking;
      this.asking = null;
      resolve?.(this.answer || 'cancel');
    });
    $('recorder-clear').addEventListener('click', () => this.clear());
    $('keep-loop').addEventListener('click', () => this.keep());
    on('loop_recorder', (m) => this.onState(m));
  }

  // The recorder's controls work only while its screen is shown.
  setUsable(usable) {
    this.usable = usable;
    this.show();
  }

  async activate() {
    this.suspended = false;
    await sendJson({ loop_recorder: { initialize: true } });
    await send('getLoopRecorder');
  }

  async suspend() {
    this.suspended = true;
    await sendJson({ loop_recorder: { suspend: true } });
    await send('getLoopRecorder');
  }

  async toggleRecord() {
    const on = !this.state.record;
    if (on) await this.beforeRecord?.();
    await sendJson({ loop_recorder: { record: on } });
    await send('getLoopRecorder');
    announce(on ? 'Recording' : 'Recording off');
  }

  async setBeats(beats) {
    if (!BEAT_CHOICES.includes(beats) || beats === this.state.num_beats) return;
    if (!(await this.confirmErase('A new length empties the loop recorder.'))) {
      $('recorder-beats').value = String(this.state.num_beats);
      return;
    }
    await sendJson({ loop_recorder: { beats } });
    await send('getLoopRecorder');
  }

  // The next longer (1) or shorter (-1) length, as chosen from the list.
  stepBeats(delta) {
    const next = BEAT_CHOICES[BEAT_CHOICES.indexOf(this.state.num_beats) + delta];
    return next ? this.setBeats(next) : undefined;
  }

  // Whether the recorder's beats last exactly its length at bpm (rounded to
  // whole frames, as the engine does): re-timed to bpm it keeps its content.
  fitsTempo(bpm) {
    const s = this.state;
    return Math.round((s.num_beats * 60 * SAMPLE_RATE) / bpm) === Math.round(s.length_seconds * SAMPLE_RATE);
  }

  // Before a change that empties the recorder: true to go on. With nothing
  // recorded it goes on at once; otherwise the musician keeps the recording
  // as a loop first, lets it go, or cancels.
  async confirmErase(reason) {
    if (this.state.empty) return true;
    if (this.asking) return false;
    $('erase-text').textContent = `${reason} It holds a recording you have not kept.`;
    this.answer = '';
    const answer = await new Promise((resolve) => {
      this.asking = resolve;
      openDialog('erase-dialog');
    });
    if (answer === 'keep') await this.keep();
    return answer === 'keep' || answer === 'erase';
  }

  async clear() {
    await sendJson({ loop_recorder: { clear: true } });
    await send('getLoopRecorder');
    announce('Loop recorder cleared');
  }

  async keep() {
    if (this.state.empty) await send('getLoopRecorder');
    if (this.state.empty) {
      announce('Nothing recorded yet: press Record and play first');
      return;
    }
    await send('createLoopFromLoopRecorder');
    announce('Loop kept in the idea');
    await this.afterKeep();
    await send('getLoopRecorder');
  }

  onState(m) {
    const s = this.state;
    if (typeof m.record === 'boolean') s.record = m.record;
    if (typeof m.empty === 'boolean') s.empty = m.empty;
    if (Number.isFinite(Number(m.length_seconds)) && Number(m.length_seconds) > 0) s.length_seconds = Number(m.length_seconds);
    if (Number.isInteger(Number(m.num_beats)) && Number(m.num_beats) > 0) s.num_beats = Number(m.num_beats);
    if (Number.isFinite(Number(m.play_pos_frame))) {
      s.play_pos_frame = Number(m.play_pos_frame);
      this.anchor = { at: performance.now(), seconds: s.play_pos_frame / SAMPLE_RATE };
    }
    this.syncing = false;
    this.nextSync = performance.now() + (s.record && s.empty ? RECORDING_RESYNC_MS : RESYNC_MS);
    this.show();
    this.changed();
  }

  show() {
    const s = this.state;
    const rec = $('record');
    setAttr(rec, 'aria-pressed', String(s.record));
    setClass(rec, 'on', s.record);
    setText(rec.querySelector('.record-text'), s.record ? 'Recording' : 'Record');
    const select = $('recorder-beats');
    const value = String(s.num_beats);
    if (![...select.options].some((o) => o.value === value)) {
      select.append(el('option', { value, text: `${value} beats` }));
    }
    if (select.value !== value) select.value = value;
    setAttr($('recorder-playhead'), 'aria-valuemax', value);
    setClass($('recorder'), 'recording', s.record);
    $('keep-loop').disabled = s.empty || !this.usable;
    $('recorder-clear').disabled = s.empty || !this.usable;
    $('record').disabled = !this.usable;
    $('recorder-beats').disabled = !this.usable;
    if (this.marksFor !== s.num_beats) {
      this.marksFor = s.num_beats;
      const marks = $('recorder-beat-marks');
      marks.textContent = '';
      for (let i = 0; i < s.num_beats; i++) marks.append(el('span', { class: i % 4 === 0 ? 'bar-start' : '' }));
    }
  }

  // Shows the playhead as of `at` and returns when it next moves. It moves
  // from the last known position; the engine is asked again only every few
  // seconds.
  step(at) {
    if (at >= this.nextSync && !this.syncing) {
      this.syncing = true;
      this.nextSync = at + (this.state.record && this.state.empty ? RECORDING_RESYNC_MS : RESYNC_MS);
      send('getLoopRecorder').finally(() => { this.syncing = false; });
    }
    if (!this.anchor || this.stopped) return this.nextSync;
    const len = this.state.length_seconds;
    const perBeat = stepsPerBeat((len * 1000) / this.state.num_beats);
    const steps = this.state.num_beats * perBeat;
    const pos = this.positionAt(at);
    const index = Math.min(steps - 1, Math.floor((pos / len) * steps));
    this.showStep(index, steps, perBeat);
    const untilNext = ((index + 1) * len) / steps - pos;
    return Math.min(this.nextSync, at + untilNext * 1000);
  }

  // Seconds into the recorder at `at`, from the last known position.
  positionAt(at) {
    const len = this.state.length_seconds;
    return (((this.anchor.seconds + (at - this.anchor.at) / 1000) % len) + len) % len;
  }

  // Which beat of its bar of four falls at `at`, or null. The recorder's start
  // is on a bar of the song's grid, so its beats count the bar when it holds
  // whole bars at the song's tempo.
  beatOfBar(at, beatMs) {
    const s = this.state;
    if (!this.anchor || s.num_beats % 4 !== 0 || !this.fitsTempo(60000 / beatMs)) return null;
    return Math.floor((this.positionAt(at) / s.length_seconds) * s.num_beats) % 4;
  }

  showStep(index, steps, perBeat) {
    if (index === this.shownStep && steps === this.shownSteps) return;
    this.shownStep = index;
    this.shownSteps = steps;
    // The line's box spans the bar, so a percentage moves it along the bar.
    $('recorder-line').style.transform = `translateX(${((index / steps) * 100).toFixed(3)}%)`;
    const beat = Math.floor(index / perBeat);
    setText($('recorder-time'), `${beat + 1} / ${this.state.num_beats}`);
    setAttr($('recorder-playhead'), 'aria-valuenow', String(beat + 1));
  }
}
