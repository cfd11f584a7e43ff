// The Controls panel: MIDI learn for the page's actions. Choose an action,
// move a pedal, pad, knob or key and it is bound; the engine keeps the
// bindings and sends each press back as { "midi_map" : { "action" } }, which
// the page runs like its own button.
import { on, send, sendJson } from './bridge.js';
import { $, el, announce, onDialogClose, openDialog, setText } from './ui.js';

export const CONTROL_ACTIONS = [
  ['record', 'Record on/off'],
  ['keep_loop', 'Keep loop'],
  ['clear_recorder', 'Clear recorder'],
  ['undo', 'Undo'],
  ['redo', 'Redo'],
  ['play_stop', 'Play/Stop'],
  ['tap_tempo', 'Tap tempo'],
  ['metronome', 'Metronome on/off'],
  ['next_idea', 'Next idea'],
  ['previous_idea', 'Previous idea'],
  ['clone_idea', 'Clone idea'],
  ...[1, 2, 3, 4, 5, 6, 7, 8].map((n) => [`mute_loop_${n}`, `Mute/unmute loop ${n}`]),
  ['length_up', 'Recorder length up'],
  ['length_down', 'Recorder length down'],
  ['octave_up', 'Octave up'],
  ['octave_down', 'Octave down'],
];
const LABELS = new Map(CONTROL_ACTIONS);

export class Controls {
  constructor() {
    this.state = { channel: 1, learning: '', bindings: [] };
    this.rows = new Map();
    this.build();
    on('midi_map', (m) => { if (Array.isArray(m.bindings)) this.onState(m); });
    $('controls-channel').addEventListener('change', (e) => sendJson({ midi_map: { channel: Number(e.target.value) } }));
    // Learning ends with the panel.
    onDialogClose('controls', () => { if (this.state.learning) sendJson({ midi_map: { cancel: true } }); });
  }

  open() {
    openDialog('controls');
    return send('getMidiMap');
  }

  build() {
    const select = $('controls-channel');
    for (let c = 1; c <= 16; c++) select.append(el('option', { value: String(c), text: `Channel ${c}` }));
    const body = $('controls-list');
    for (const [id, label] of CONTROL_ACTIONS) {
      const name = el('th', { scope: 'row', id: `control-${id}`, text: label });
      const bound = el('td', { class: 'control-binding', id: `control-${id}-binding`, text: 'Not bound' });
      const kind = el('select', { 'aria-label': `${label}: kind of switch`, dataset: { role: 'switch' } }, [
        el('option', { value: 'momentary', text: 'Momentary' }),
        el('option', { value: 'toggle', text: 'Toggle' }),
      ]);
      kind.addEventListener('change', () => sendJson({ midi_map: { switch: { action: id, kind: kind.value } } }));
      const learn = el('button', {
        type: 'button', dataset: { role: 'learn' }, 'aria-pressed': 'false',
        'aria-describedby': `control-${id}-binding`, 'aria-label': `Learn ${label}`, text: 'Learn',
        onclick: () => this.learn(id),
      });
      const remove = el('button', {
        type: 'button', dataset: { role: 'unbind' }, 'aria-label': `Remove the control of ${label}`, text: 'Remove',
        onclick: () => sendJson({ midi_map: { unbind: id } }),
      });
      const row = el('tr', { dataset: { action: id } }, [name, bound, el('td', {}, kind), el('td', { class: 'control-buttons' }, [learn, remove])]);
      body.append(row);
      this.rows.set(id, { row, bound, kind, learn, remove });
    }
  }

  learn(id) {
    const again = this.state.learning === id;
    return sendJson({ midi_map: again ? { cancel: true } : { learn: id } }).then(() => send('getMidiMap'));
  }

  onState(m) {
    const before = new Map(this.state.bindings.map((b) => [b.action, b.text]));
    this.state = {
      channel: Number(m.channel) || 1,
      learning: typeof m.learning === 'string' ? m.learning : '',
      bindings: m.bindings.filter((b) => b && typeof b === 'object' && LABELS.has(b.action)),
    };
    const byAction = new Map(this.state.bindings.map((b) => [b.action, b]));
    for (const [id, r] of this.rows) {
      const b = byAction.get(id);
      const learning = this.state.learning === id;
      setText(r.bound, learning ? 'Move a control…' : b ? String(b.text) : 'Not bound');
      r.row.classList.toggle('learning', learning);
      r.row.classList.toggle('bound', !!b);
      r.learn.setAttribute('aria-pressed', String(learning));
      setText(r.learn, learning ? 'Cancel' : 'Learn');
      r.remove.disabled = !b;
      // Only a controller can be either kind of switch.
      r.kind.disabled = !b || b.control !== 'cc';
      r.kind.value = b && b.switch === 'toggle' ? 'toggle' : 'momentary';
      if (b && before.get(id) !== b.text) announce(`${LABELS.get(id)}: ${b.text}`);
    }
    $('controls-channel').value = String(this.state.channel);
  }
}
