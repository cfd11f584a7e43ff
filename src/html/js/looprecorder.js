// The loop recorder: record toggle, length in beats, playhead, clear and
// "keep loop".
import { on, send, sendJson } from './bridge.js';
import { $, el, announce, setText, setAttr, setClass } from './ui.js';

export const BEAT_CHOICES = [2, 4, 8, 16, 32, 64];
const RESYNC_MS = 3000;
const SAMPLE_RATE = 44100;

export class LoopRecorder {
  constructor(afterKeep) {
    this.afterKeep = afterKeep;
    this.state = { record: false, length_seconds: 8, num_beats: 16, play_pos_frame: 0 };
    this.anchor = null; // { at: performance.now(), seconds: position }
    this.nextSync = 0;
    this.syncing = false;
    this.shownBeat = -1;
    this.shownFraction = -1;
    this.suspended = false;
    this.marksFor = 0;

    $('record').addEventListener('click', () => this.toggleRecord());
    $('recorder-beats').addEventListener('change', (e) => this.setBeats(Number(e.target.value)));
    $('recorder-clear').addEventListener('click', () => this.clear());
    $('keep-loop').addEventListener('click', () => this.keep());
    on('loop_recorder', (m) => this.onState(m));
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
    await sendJson({ loop_recorder: { record: on } });
    await send('getLoopRecorder');
    announce(on ? 'Recording' : 'Recording off');
  }

  async setBeats(beats) {
    if (!BEAT_CHOICES.includes(beats)) return;
    await sendJson({ loop_recorder: { beats } });
    await send('getLoopRecorder');
  }

  async clear() {
    await sendJson({ loop_recorder: { clear: true } });
    await send('getLoopRecorder');
    announce('Loop recorder cleared');
  }

  async keep() {
    await send('createLoopFromLoopRecorder');
    announce('Loop kept in the idea');
    await this.afterKeep();
    await send('getLoopRecorder');
  }

  onState(m) {
    const s = this.state;
    if (typeof m.record === 'boolean') s.record = m.record;
    if (Number.isFinite(Number(m.length_seconds)) && Number(m.length_seconds) > 0) s.length_seconds = Number(m.length_seconds);
    if (Number.isInteger(Number(m.num_beats)) && Number(m.num_beats) > 0) s.num_beats = Number(m.num_beats);
    if (Number.isFinite(Number(m.play_pos_frame))) {
      s.play_pos_frame = Number(m.play_pos_frame);
      this.anchor = { at: performance.now(), seconds: s.play_pos_frame / SAMPLE_RATE };
    }
    this.syncing = false;
    this.nextSync = performance.now() + RESYNC_MS;
    this.show();
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
    if (this.marksFor !== s.num_beats) {
      this.marksFor = s.num_beats;
      const marks = $('recorder-beat-marks');
      marks.textContent = '';
      for (let i = 0; i < s.num_beats; i++) marks.append(el('span', { class: i % 4 === 0 ? 'bar-start' : '' }));
    }
  }

  // Called every animation frame: the playhead moves from the last known
  // position; the engine is asked again only every few seconds.
  frame(now) {
    if (now >= this.nextSync && !this.syncing) {
      this.syncing = true;
      this.nextSync = now + RESYNC_MS;
      send('getLoopRecorder').finally(() => { this.syncing = false; });
    }
    if (!this.anchor) return;
    const len = this.state.length_seconds;
    const pos = (((this.anchor.seconds + (now - this.anchor.at) / 1000) % len) + len) % len;
    const fraction = pos / len;
    if (Math.abs(fraction - this.shownFraction) > 0.0005) {
      this.shownFraction = fraction;
      // The line's box spans the bar, so a percentage moves it along the bar.
      $('recorder-line').style.transform = `translateX(${(fraction * 100).toFixed(3)}%)`;
    }
    const beat = Math.floor(fraction * this.state.num_beats);
    if (beat !== this.shownBeat) {
      this.shownBeat = beat;
      $('recorder-time').textContent = `${beat + 1} / ${this.state.num_beats}`;
      $('recorder-playhead').setAttribute('aria-valuenow', String(beat + 1));
    }
  }
}
