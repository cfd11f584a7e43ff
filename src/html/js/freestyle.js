// Free takes: the freestyle recorder screen (status, takes, audition) and the
// tempo screen (play the take, tap along, snap, keep or cancel).
import { on, send, sendJson, parseMessage } from './bridge.js';
import { $, el, announce, flash, setText, setAttr, setClass } from './ui.js';
import { drawLoop } from './draw.js';
import { tapTempo, formatBpm, MIN_BPM, MAX_BPM } from './timekeeping.js';

const TAP_RESET_MS = 3000;

// Taps at half or double speed still give a tempo the engine accepts.
export function foldTempo(bpm) {
  let b = bpm;
  while (b > MAX_BPM) b /= 2;
  while (b < MIN_BPM) b *= 2;
  return b;
}

export class Freestyle {
  // mode: the page's Mode; afterAccept runs once a take became a loop;
  // heldTempo() resolves with the tempo kept loops hold the song at, or null.
  constructor({ mode, afterAccept, heldTempo = async () => null }) {
    this.mode = mode;
    this.afterAccept = afterAccept;
    this.heldTempo = heldTempo;
    this.heldBpm = null;
    this.status = 'Suspended';
    this.takes = [];
    this.takesKey = '';
    this.frame = 0;
    this.take = null; // the detector's loop
    this.chosenTake = 0; // the take handed to the detector next
    this.taps = [];
    this.cut = false; // the detector's take was cut since the screen opened

    $('open-freestyle').addEventListener('click', () => this.mode.go('takes'));
    $('freestyle-close').addEventListener('click', () => this.mode.go('ideas'));
    $('tempo-cancel').addEventListener('click', () => this.mode.go('takes', 'cancel'));
    $('tempo-accept').addEventListener('click', () => this.mode.go('ideas', 'keep'));
    $('tempo-play-once').addEventListener('click', () => sendJson({ freestyle_tempo_detector: { play_loop_once: true } }));
    $('tempo-play-loop').addEventListener('click', () => sendJson({ freestyle_tempo_detector: { play_loop: true } }));
    $('tap-reset').addEventListener('click', () => this.resetTaps());
    $('tap-snap').addEventListener('click', () => this.snap());
    const pad = $('tap-along');
    pad.addEventListener('pointerdown', (e) => { if (e.button <= 0) this.tap(); });
    pad.addEventListener('keydown', (e) => {
      if ((e.key === ' ' || e.key === 'Enter') && !e.repeat) { e.preventDefault(); e.stopPropagation(); this.tap(); }
    });
    pad.addEventListener('click', (e) => e.preventDefault());

    on('freestyle_recorder', (m) => this.onRecorder(m));
    on('freestyle_tempo_detector', (m) => this.onDetector(m));
  }

  // The two screens' steps for the page's mode.
  takesSteps() {
    return {
      enter: async () => {
        $('freestyle-close').focus();
        await sendJson({ freestyle_recorder: { initialize: true } });
        await send('getFreestyleRecorder');
      },
      // Handing a take to the detector suspends the recorder by itself.
      leave: async (to) => {
        if (to === 'tempo') {
          await sendJson({ freestyle_recorder: { playing_loop_id: this.chosenTake } });
          await sendJson({ freestyle_recorder: { do_tempo_detection: true } });
        } else {
          await sendJson({ freestyle_recorder: { suspend: true } });
        }
      },
    };
  }

  tempoSteps() {
    return {
      enter: async () => {
        this.take = null;
        this.resetTaps();
        this.cut = false;
        this.snappedBpm = 0;
        $('snap-result').textContent = '';
        $('tempo-accept').disabled = true;
        $('tempo-play-once').focus();
        this.heldBpm = await this.heldTempo();
        await send('getFreestyleTempoDetector');
      },
      // Cancel goes back to the takes as they were, the take heard again;
      // leaving for the ideas ends that, so the takes start afresh next time.
      // A take the engine would not keep stays on this screen.
      leave: async (to, how) => {
        if (how === 'keep') {
          if (!(await this.accept())) return false;
        } else {
          await sendJson({ freestyle_tempo_detector: { suspend_and_restore_loop_state: true } });
        }
        if (to !== 'takes') await sendJson({ freestyle_recorder: { suspend: true } });
      },
    };
  }

  // The detector takes the first take that is not muted: the chosen one is
  // soloed on the way.
  findTempo(id) {
    this.chosenTake = id;
    return this.mode.go('tempo');
  }

  // States are pushed from the audio thread; the latest one is drawn on the
  // next frame, so a burst costs one repaint.
  onRecorder(m) {
    if (typeof m.status === 'string') this.status = m.status;
    if (Array.isArray(m.loops)) this.takes = m.loops.filter((l) => l && typeof l === 'object');
    if (!this.frame) this.frame = requestAnimationFrame(() => this.paint());
  }

  paint() {
    this.frame = 0;
    const pill = $('freestyle-status');
    setText(pill, this.status);
    setAttr(pill, 'data-status', this.status.toLowerCase());
    const key = this.takes.map((l) => `${l.id}/${l.length_seconds}/${(l.waveform || '').length}/${(l.notes || []).length}`).join(',');
    if (key !== this.takesKey) {
      this.takesKey = key;
      this.renderTakes();
    }
    this.paintTakes();
  }

  renderTakes() {
    const list = $('takes');
    const focused = document.activeElement?.closest?.('#takes [data-loop]');
    const focusedLoop = focused?.dataset.loop;
    const focusedRole = document.activeElement?.dataset?.role;
    list.textContent = '';
    $('takes-empty').hidden = this.takes.length > 0;
    this.takes.forEach((take, index) => {
      const name = index === 0 ? 'Newest take' : `Take ${index + 1}`;
      const secs = Number(take.length_seconds);
      const canvas = el('canvas', { class: 'loop-canvas', width: 320, height: 80, role: 'img' });
      canvas.loopData = take;
      const play = el('button', {
        type: 'button', class: 'mute', dataset: { role: 'play' }, 'aria-pressed': 'false',
        'aria-label': `Listen to ${name}`,
        onclick: () => this.audition(take.id, play.getAttribute('aria-pressed') !== 'true'),
      }, 'Listen');
      const find = el('button', {
        type: 'button', class: 'primary', dataset: { role: 'tempo' },
        'aria-label': `Find the tempo of ${name}`, onclick: () => this.findTempo(take.id),
      }, 'Find tempo…');
      list.append(el('li', { class: 'loop-card', dataset: { loop: String(take.id) } }, [
        el('div', { class: 'loop-head' }, [el('span', { class: 'loop-name', text: name }),
          el('span', { class: 'loop-detail', text: secs > 0 ? `${secs.toFixed(1)} s` : '' })]),
        canvas,
        el('div', { class: 'loop-foot' }, [play, find]),
      ]));
      drawLoop(canvas, take);
    });
    if (focusedLoop) list.querySelector(`[data-loop="${CSS.escape(focusedLoop)}"] [data-role="${focusedRole}"]`)?.focus();
  }

  paintTakes() {
    for (const take of this.takes) {
      const card = $('takes').querySelector(`[data-loop="${CSS.escape(String(take.id))}"]`);
      const b = card?.querySelector('[data-role="play"]');
      if (!b) continue;
      const playing = take.mute === false;
      setAttr(b, 'aria-pressed', String(playing));
      setText(b, playing ? 'Stop' : 'Listen');
      setClass(card, 'playing', playing);
    }
  }

  async audition(id, play) {
    if (play) await sendJson({ freestyle_recorder: { playing_loop_id: id } });
    else await sendJson({ freestyle_recorder: { loops: [{ id, mute: true }] } });
    await send('getFreestyleRecorder');
  }

  onDetector(m) {
    if (!Array.isArray(m.loops)) return;
    this.take = m.loops.find((l) => l && typeof l === 'object') || null;
    if (this.take) drawLoop($('tempo-canvas'), this.take);
  }

  // The detector's take, from a request's own reply: a pushed state that was
  // posted before the request may still arrive after it.
  static async detectorTake() {
    const loops = parseMessage(await send('getFreestyleTempoDetector'))?.freestyle_tempo_detector?.loops;
    return Array.isArray(loops) ? loops.find((l) => l && typeof l === 'object') || null : null;
  }

  showSnap(take) {
    if (!take) return;
    const beats = Number(take.num_beats);
    const secs = Number(take.length_seconds);
    $('snap-result').textContent = this.heldBpm
      ? `Snapped to ${beats} beats at the song's ${formatBpm(this.snappedBpm)} bpm, which the kept loops hold (${secs.toFixed(2)} s).`
      : `Snapped to ${beats} beats at ${formatBpm(this.snappedBpm)} bpm (${secs.toFixed(2)} s).`;
    $('tempo-accept').disabled = false;
  }

  resetTaps() {
    this.taps = [];
    $('tap-snap').disabled = true;
    $('tap-info').textContent = 'Tap on the beat from the first beat to the last.';
  }

  tap() {
    const now = performance.now();
    if (this.taps.length && now - this.taps[this.taps.length - 1] > TAP_RESET_MS) this.taps = [];
    this.taps.push(now);
    flash($('tap-along'));
    const bpm = tapTempo(this.taps);
    $('tap-snap').disabled = bpm === null;
    $('tap-info').textContent = bpm === null
      ? '1 tap. Keep going.'
      : `${this.taps.length} taps, ${formatBpm(foldTempo(bpm))} bpm.`;
  }

  // A song with kept loops holds its tempo: the take is cut on the song's
  // beats, the taps only counting them, so that it joins the song in time.
  async snap() {
    const raw = tapTempo(this.taps);
    if (raw === null) return;
    // An undo or redo since the screen opened may have changed which loops
    // are kept.
    this.heldBpm = await this.heldTempo();
    const bpm = this.heldBpm || Math.round(foldTempo(raw) * 100) / 100;
    const span = this.taps[this.taps.length - 1] - this.taps[0];
    // Each attempt starts again from the take as it was recorded; until it
    // is cut again there is nothing to keep.
    $('tempo-accept').disabled = true;
    if (this.cut) await sendJson({ freestyle_tempo_detector: { initialize: true } });
    this.cut = true;
    this.snappedBpm = bpm;
    await sendJson({ freestyle_tempo_detector: { bpm, first_to_last_tap_time: span } });
    await sendJson({ freestyle_tempo_detector: { play_loop: true } });
    this.showSnap(await Freestyle.detectorTake());
    announce($('snap-result').textContent);
  }

  // Resolves with whether the take became a loop. The engine refuses a take
  // at another tempo than kept loops hold (loops kept again by a redo since
  // the snap); the detector then still holds it, and it stays here.
  async accept() {
    await send('createLoopFromFreestyleTempoDetector');
    if (await Freestyle.detectorTake()) {
      this.heldBpm = await this.heldTempo();
      $('tempo-accept').disabled = true;
      $('snap-result').textContent = this.heldBpm
        ? `Not kept: the kept loops hold the tempo at ${formatBpm(this.heldBpm)} bpm. Snap again to cut the take on the song's beats.`
        : 'Not kept: snap again to keep the take.';
      announce($('snap-result').textContent);
      return false;
    }
    // The engine adopts the tapped tempo for the transport and metronome;
    // the project's tempo (shown, and saved with the song) must follow.
    if (this.snappedBpm) await sendJson({ project: { bpm: this.snappedBpm } });
    await this.afterAccept();
    announce('The take is now a loop in the idea');
    return true;
  }
}
