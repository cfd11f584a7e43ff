// The page's side of the contract with the program: requests go out through
// nativeZub.handleMessage; every reply and pushed message comes back through
// handleMsgFromQt4, the one source of state.

const listeners = new Set();
const keyed = new Map();

// Every message, raw and parsed (the console uses it).
export function onMessage(fn) {
  listeners.add(fn);
  return () => listeners.delete(fn);
}

// Messages whose single member is named `key` ("metronome", "wave", ...).
export function on(key, fn) {
  if (!keyed.has(key)) keyed.set(key, new Set());
  keyed.get(key).add(fn);
  return () => keyed.get(key).delete(fn);
}

export function isNativeReady() {
  return window.loaded_native === true && window.nativeZub != null;
}

// Sends one API message; resolves with the reply text (possibly empty).
// State is taken from handleMsgFromQt4, not from this result.
export async function send(text) {
  if (!isNativeReady()) return '';
  try {
    const reply = await window.nativeZub.handleMessage(text);
    return reply == null ? '' : String(reply);
  } catch (e) {
    console.warn('message failed', text, e);
    return '';
  }
}

// A message addressed to components by their keys.
export function sendJson(object) {
  return send(JSON.stringify(object));
}

// Calls one of the other native methods (command, firstRun, midiInput, ...);
// they may answer directly or through a promise.
export async function callNative(name, ...args) {
  if (!isNativeReady() || typeof window.nativeZub[name] !== 'function') return undefined;
  try {
    return await window.nativeZub[name](...args);
  } catch (e) {
    console.warn('native call failed', name, e);
    return undefined;
  }
}

export function parseMessage(text) {
  if (!text) return null;
  try {
    const value = JSON.parse(text);
    return value !== null && typeof value === 'object' && !Array.isArray(value) ? value : null;
  } catch {
    return null;
  }
}

function safely(fn, ...args) {
  try {
    fn(...args);
  } catch (e) {
    console.error('message listener failed', e);
  }
}

window.handleMsgFromQt4 = function (text) {
  const parsed = parseMessage(text);
  for (const fn of listeners) safely(fn, text, parsed);
  if (!parsed) return;
  for (const key of Object.keys(parsed)) {
    const value = parsed[key];
    if (value === null || typeof value !== 'object') continue;
    const set = keyed.get(key);
    if (set) for (const fn of set) safely(fn, value, parsed);
  }
};
