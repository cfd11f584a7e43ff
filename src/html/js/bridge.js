// The page's side of the contract with the program: requests go out through
// nativeZub.handleMessage; every reply and pushed message comes back through
// handleMsgFromQt4, the one source of state.

const listeners = new Set();

export function onMessage(fn) {
  listeners.add(fn);
  return () => listeners.delete(fn);
}

export function isNativeReady() {
  return window.loaded_native === true && typeof window.nativeZub === 'object';
}

// Sends one API message; resolves with the reply text (possibly empty).
export async function send(text) {
  if (!isNativeReady()) return '';
  const reply = await window.nativeZub.handleMessage(text);
  return reply == null ? '' : String(reply);
}

export function parseMessage(text) {
  if (!text) return null;
  try {
    const value = JSON.parse(text);
    return value !== null && typeof value === 'object' ? value : null;
  } catch {
    return null;
  }
}

window.handleMsgFromQt4 = function (text) {
  const parsed = parseMessage(text);
  for (const fn of listeners) {
    try {
      fn(text, parsed);
    } catch (e) {
      console.error('message listener failed', e);
    }
  }
};
