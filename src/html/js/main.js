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
import './document.js';

const SCREENS = { ideas: 'idea-setup', freestyle: 'freestyle-screen', tempo: 'tempo-screen' };

function showScreen(name) {
  for (const [key, id] of Object.entries(SCREENS)) $(id).hidden = key !== name;
  document.body.dataset.screen = name;
}

// Everything that a structural change, a tempo change or a loaded project
// can touch.
async function refreshSong() {
  await send('getIdeaCollection');
  await send('getProject');
  await send('getLoopRecorder');
  await send('getMetronome');
}

async function refreshAll() {
  await refreshSong();
  await send('getInstrument');
  await send('getInstrumentCollection');
  await send('getDrumLoopCollection');
  await send('getMicrosecondsUntilNextBeat');
}

const keyboard = new Keyboard();
const instruments = new Instruments(keyboard);
const time = new Timekeeping(refreshSong);
const loopRecorder = new LoopRecorder(async () => { await send('getIdeaCollection'); await send('getProject'); });
const ideas = new Ideas({
  onJustLoaded: () => { time.forgetDrums(); refreshSong(); },
  afterChange: () => send('getProject'),
});
const pulse = new Pulse([time, loopRecorder]);
const freestyle = new Freestyle({ showScreen, loopRecorder, afterAccept: refreshSong });
const files = new Files({
  canRender: () => {
    const first = ideas.ideas[0];
    if (!first) return 'There is nothing to render yet. Keep a loop first: it starts the first idea.';
    if (!first.loops.length) return 'The first idea has no loop yet. Keep a loop in it first.';
    return '';
  },
  onNew: () => window.afterNewSong(),
});

on('keyboard', (m) => {
  if (m.note_on !== undefined) keyboard.showMidi(Number(m.note_on), true);
  if (m.note_off !== undefined) keyboard.showMidi(Number(m.note_off), false);
});

// Main menu
const MENU_ACTIONS = {
  new: () => files.newSong(),
  save: () => files.save(),
  'render-file': () => files.renderToFile(),
  'render-page': () => files.renderToPage(),
  freestyle: () => freestyle.open(),
  instruments: () => instruments.open(),
  drums: () => time.openDrums(),
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

// Shortcuts that do not collide with the playing keys.
window.addEventListener('keydown', (e) => {
  if (e.repeat || e.ctrlKey || e.metaKey || e.altKey || isTyping(e.target) || anyDialogOpen()) return;
  if (document.body.dataset.screen === 'tempo') return;
  const k = e.key.toLowerCase();
  if (keyboard.mode === 'pads' && ['r', 'v', 'b'].includes(k)) return; // pads use these keys
  const actions = {
    r: () => loopRecorder.toggleRecord(),
    v: () => loopRecorder.keep(),
    m: () => time.toggleMetronome(),
    b: () => time.tap(),
    i: () => instruments.open(),
  };
  if (actions[k]) {
    e.preventDefault();
    actions[k]();
  }
});

initDialogs();
showScreen('ideas');

// Called by the main window when the user starts a new song, in this order.
// The project, and with it the drum loop, has been cleared by then.
window.showIdeaSetup = function () {
  time.forgetDrums();
  closeDialog('render-dialog');
  showScreen('ideas');
  refreshSong();
};
window.hideFreestyleRecorder = function () { freestyle.hideRecorder(); };
window.hideCredits = function () { closeDialog('credits'); };
window.hideHelp = function () { closeDialog('help'); };
window.hideFreestyleTempoScreen = function () { freestyle.hideTempo(); };
window.hideBeatPickerPopup = function () { time.hideDrums(); };
window.hideInstrumentPicker = function () { instruments.hide(); };
window.hideMainMenu = function () { closeDialog('main-menu'); };

// The page's own "New song" runs the same steps as the window's.
window.afterNewSong = async function () {
  window.showIdeaSetup();
  window.hideFreestyleRecorder();
  window.hideCredits();
  window.hideHelp();
  window.hideFreestyleTempoScreen();
  window.hideBeatPickerPopup();
  window.hideInstrumentPicker();
  window.hideMainMenu();
};

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
  await loopRecorder.activate();
  await refreshAll();
  if (await callNative('firstRun') === true && !$('welcome').open) openDialog('welcome');
  document.body.dataset.ready = 'true';
};
