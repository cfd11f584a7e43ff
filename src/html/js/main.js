import { on, onMessage, send, callNative } from './bridge.js';
import { $, el, openDialog, closeDialog, initDialogs, isTyping, anyDialogOpen } from './ui.js';
import { Keyboard } from './keyboard.js';
import { Instruments } from './instruments.js';
import { Timekeeping } from './timekeeping.js';
import { LoopRecorder } from './looprecorder.js';
import { Ideas } from './ideas.js';
import { Freestyle } from './freestyle.js';
import { Files } from './files.js';
import { Pulse } from './pulse.js';
import './devices.js';
import { Mode } from './mode.js';
import { Transport } from './transport.js';
import { Controls } from './controls.js';
import { Link } from './link.js';
import './document.js';

// Everything that a structural change, a tempo change or a loaded project
// can touch.
const SONG_STATE = ['getIdeaCollection', 'getProject', 'getLoopRecorder', 'getMetronome'];
const OTHER_STATE = ['getInstrument', 'getInstrumentCollection', 'getDrumLoopCollection', 'getMicrosecondsUntilNextBeat', 'getLink'];

// Sent together: the program answers them in the order sent, so the page
// gets the same messages as when it waited for each, a round trip apiece
// sooner.
function requestAll(messages) {
  return Promise.all(messages.map((m) => send(m)));
}

async function refreshSong() {
  await requestAll(SONG_STATE);
}

async function refreshAll() {
  await requestAll([...SONG_STATE, ...OTHER_STATE]);
}

const keyboard = new Keyboard();
const instruments = new Instruments(keyboard);
const loopRecorder = new LoopRecorder(async () => { await send('getIdeaCollection'); await send('getProject'); });
const time = new Timekeeping(refreshSong, (reason) => loopRecorder.confirmErase(reason), (bpm) => loopRecorder.fitsTempo(bpm),
  (at, beatMs) => loopRecorder.beatOfBar(at, beatMs));
const ideas = new Ideas({
  onJustLoaded: () => { time.forgetDrums(); mode.go('ideas'); refreshSong(); },
  afterChange: () => send('getProject'),
});
const transport = new Transport({ time, loopRecorder, usable: () => mode.is('ideas') && ideas.ideas.length > 0 });
const pulse = new Pulse([time], [loopRecorder]);

const mode = new Mode({
  ideas: {
    enter: async () => { await loopRecorder.activate(); },
    leave: async () => { await loopRecorder.suspend(); },
  },
});
const freestyle = new Freestyle({
  mode,
  afterAccept: refreshSong,
  heldTempo: async () => { await send('getDrumLoopCollection'); return time.playsAtSongTempo ? time.bpm : null; },
});
mode.steps.takes = freestyle.takesSteps();
mode.steps.tempo = freestyle.tempoSteps();
// Only the ideas screen has a transport and a loop recorder to play.
mode.onChange((name) => {
  transport.show();
  loopRecorder.setUsable(name === 'ideas');
});

const hasLoops = (idea) => idea && idea.loops.length > 0;
const files = new Files({
  canExport: (what) => {
    if (what === 'idea') return hasLoops(ideas.active()) ? '' : 'The idea that plays has no loop yet. Keep a loop in it first.';
    return ideas.ideas.some(hasLoops) ? '' : 'There is nothing to export yet. Keep a loop first: it starts the first idea.';
  },
});

on('keyboard', (m) => {
  if (m.note_on !== undefined) keyboard.showMidi(Number(m.note_on), true);
  if (m.note_off !== undefined) keyboard.showMidi(Number(m.note_off), false);
});
on('midi_input', (m) => showMidiInput(m.name));
// The window's Edit menu undid or redid a step: the song is asked for again.
on('history', () => refreshSong());

function showMidiInput(name) {
  const text = name ? `MIDI keyboard: ${name}` : 'No MIDI keyboard open';
  $('midi-input').textContent = text;
  $('midi-input').title = name ? text : 'Choose a MIDI keyboard in Options > Preferences';
  $('welcome-midi').textContent = name
    ? `Now open: ${name}.`
    : 'No MIDI keyboard is open yet.';
}

async function undo(redo) {
  await send(redo ? 'redo' : 'undo');
  await refreshSong();
}

// The page's actions by name: keys and MIDI controls both run them, so a
// pedal does exactly what the key or button does.
const onIdeas = (fn) => () => (mode.is('ideas') ? fn() : undefined);
const ACTIONS = {
  record: onIdeas(() => loopRecorder.toggleRecord()),
  keep_loop: onIdeas(() => loopRecorder.keep()),
  clear_recorder: onIdeas(() => loopRecorder.clear()),
  undo: () => undo(false),
  redo: () => undo(true),
  play_stop: onIdeas(() => transport.toggle()),
  // On the tempo screen a tap is a tap along with the take.
  tap_tempo: () => (mode.is('tempo') ? freestyle.tap() : time.tap()),
  metronome: () => time.toggleMetronome(),
  next_idea: onIdeas(() => ideas.step(1)),
  previous_idea: onIdeas(() => ideas.step(-1)),
  clone_idea: onIdeas(() => ideas.clone()),
  length_up: onIdeas(() => loopRecorder.stepBeats(1)),
  length_down: onIdeas(() => loopRecorder.stepBeats(-1)),
  octave_up: () => keyboard.shiftOctave(1),
  octave_down: () => keyboard.shiftOctave(-1),
};
for (let n = 1; n <= 8; n++) ACTIONS[`mute_loop_${n}`] = onIdeas(() => ideas.toggleMute(n - 1));

const controls = new Controls();
// A tempo from the Link session changed the song's.
const link = new Link({ songBpm: () => time.bpm, tempoChanged: () => refreshSong() });
// A bound MIDI control was pressed (the engine already kept it from playing).
on('midi_map', (m) => { if (typeof m.action === 'string') ACTIONS[m.action]?.(); });

// Main menu
const MENU_ACTIONS = {
  new: () => files.command('new'),
  open: () => files.command('open'),
  save: () => files.command('save'),
  'save-as': () => files.command('saveAs'),
  'export-idea': () => files.exportWav('idea'),
  'export-song': () => files.exportWav('song'),
  freestyle: () => mode.go('takes'),
  instruments: () => instruments.open(),
  drums: () => time.openDrums(),
  controls: () => controls.open(),
  settings: () => link.open(),
  help: () => openDialog('help'),
  credits: () => openDialog('credits'),
  console: () => openDialog('console'),
};
$('menu-button').addEventListener('click', () => openDialog('main-menu'));
$('main-menu').addEventListener('click', (e) => {
  const action = e.target.closest('[data-action]')?.dataset.action;
  if (!action) return;
  closeDialog('main-menu');
  // Whatever the item opens hands the focus back to the menu button.
  $('menu-button').focus();
  MENU_ACTIONS[action]?.();
});

// Message console: only logs while it is open, so a stream of pushed
// messages costs nothing otherwise.
function log(kind, text) {
  const list = $('console-log');
  list.prepend(el('li', { class: kind, text: text === '' ? '(empty reply)' : text }));
  while (list.childElementCount > 200) list.lastElementChild.remove();
}
$('console-form').addEventListener('submit', async (e) => {
  e.preventDefault();
  const text = $('console-input').value;
  log('sent', text);
  await send(text);
});
onMessage((text) => { if ($('console').open) log('received', text); });

// Keys with Ctrl: the document commands and undo, on every screen.
const CTRL_KEYS = {
  n: () => files.command('new'),
  o: () => files.command('open'),
  s: () => files.command('save'),
  S: () => files.command('saveAs'),
  z: () => undo(false),
  Z: () => undo(true),
  y: () => undo(true),
};

// Keys of the page's actions; the playing keys (keyboard.js) never use them.
window.addEventListener('keydown', (e) => {
  if (e.repeat || e.altKey || e.metaKey || isTyping(e.target) || anyDialogOpen()) return;
  if (e.ctrlKey) {
    const k = e.key.length === 1 ? (e.shiftKey ? e.key.toUpperCase() : e.key.toLowerCase()) : '';
    if (!CTRL_KEYS[k]) return;
    e.preventDefault();
    CTRL_KEYS[k]();
    return;
  }
  const k = e.key === ' ' ? 'space' : e.key.toLowerCase();
  const onScreen = {
    ideas: { r: ACTIONS.record, v: ACTIONS.keep_loop, space: ACTIONS.play_stop },
    tempo: { space: ACTIONS.tap_tempo },
  }[mode.current] || {};
  const everywhere = { m: ACTIONS.metronome, b: ACTIONS.tap_tempo, i: () => instruments.open() };
  const action = onScreen[k] || everywhere[k];
  // Space is the transport even on a focused button, as in every music
  // program; Enter still presses the button.
  if (!action) return;
  e.preventDefault();
  action();
});

initDialogs();
mode.show('ideas');

// Called by the main window when the user starts a new song, in this order.
// The project, and with it the drum loop, has been cleared by then.
window.showIdeaSetup = function () {
  time.forgetDrums();
  closeDialog('render-dialog');
  mode.go('ideas');
  refreshSong();
};
window.hideFreestyleRecorder = function () { if (mode.is('takes')) mode.go('ideas'); };
window.hideCredits = function () { closeDialog('credits'); };
window.hideHelp = function () { closeDialog('help'); };
window.hideFreestyleTempoScreen = function () { if (mode.is('tempo')) mode.go('ideas'); };
window.hideBeatPickerPopup = function () { time.hideDrums(); };
window.hideInstrumentPicker = function () { instruments.hide(); };
window.hideMainMenu = function () { closeDialog('main-menu'); };

// The program names its version before it calls checkInit.
function showVersion() {
  const version = window.native_version;
  $('credits-version').hidden = typeof version !== 'string' || version === '';
  $('credits-version').textContent = `Version ${version}`;
}

// Called by the program once nativeZub is installed (again after a reload).
window.checkInit = async function () {
  document.body.classList.add('connected');
  $('status').textContent = 'Connected';
  showVersion();
  pulse.start();
  await mode.go('ideas', 'again');
  const [, midiInput, , firstRun] = await Promise.all([
    refreshAll(), callNative('midiInput'), send('getMidiMap'), callNative('firstRun'),
  ]);
  showMidiInput(midiInput);
  if (firstRun === true && !$('welcome').open) openDialog('welcome');
  document.body.dataset.ready = 'true';
};

