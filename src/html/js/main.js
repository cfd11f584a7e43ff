import { onMessage, send } from './bridge.js';
import { Keyboard } from './keyboard.js';

const $ = (id) => document.getElementById(id);
const state = { metronomeMuted: true, beatTimer: 0 };

function log(kind, text) {
  const list = $('console-log');
  const item = document.createElement('li');
  item.className = kind;
  item.textContent = text === '' ? '(empty reply)' : text;
  list.prepend(item);
  while (list.childElementCount > 200) list.lastElementChild.remove();
}

function showMetronome(muted) {
  state.metronomeMuted = muted;
  const button = $('metronome');
  button.setAttribute('aria-pressed', String(!muted));
  button.classList.toggle('on', !muted);
  if (!muted) scheduleBeat();
}

// The beat light follows the engine: ask how far the current beat has gone.
async function scheduleBeat() {
  clearTimeout(state.beatTimer);
  if (state.metronomeMuted) return;
  const reply = await send('getMicrosecondsUntilNextBeat');
  let since = 0;
  try { since = JSON.parse(reply).transport.usec_till_beat; } catch { return; }
  const beatUs = 60e6 / Number($('tempo').value || 120);
  const wait = Math.max(10, (beatUs - since) / 1000);
  state.beatTimer = setTimeout(() => {
    const light = document.querySelector('#metronome .beat');
    light.classList.remove('flash');
    requestAnimationFrame(() => light.classList.add('flash'));
    scheduleBeat();
  }, wait);
}

function bindControls(keyboard) {
  $('metronome').addEventListener('click', async () => {
    await send(JSON.stringify({ metronome: { mute: !state.metronomeMuted } }));
    await send('getMetronome');
  });
  $('tempo').addEventListener('change', async (e) => {
    const bpm = Number(e.target.value);
    if (!(bpm >= 30 && bpm <= 200)) {
      e.target.setCustomValidity('Tempo must be between 30 and 200 bpm');
      e.target.reportValidity();
      return;
    }
    e.target.setCustomValidity('');
    await send(`setTempo->${bpm}`);
    scheduleBeat();
  });
  $('console-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    const text = $('console-input').value;
    log('sent', text);
    await send(text);
  });
  onMessage((text, msg) => {
    log('received', text);
    if (msg?.metronome && typeof msg.metronome.mute === 'boolean') showMetronome(msg.metronome.mute);
    if (msg?.keyboard) {
      if (msg.keyboard.note_on !== undefined) keyboard.show(Number(msg.keyboard.note_on), true);
      if (msg.keyboard.note_off !== undefined) keyboard.show(Number(msg.keyboard.note_off), false);
    }
  });
}

const keyboard = new Keyboard($('keyboard'), $('octave'));
bindControls(keyboard);

// Called by the program once nativeZub is installed.
window.checkInit = async function () {
  $('status').textContent = 'Connected';
  document.body.classList.add('connected');
  await send('getMetronome');
};
