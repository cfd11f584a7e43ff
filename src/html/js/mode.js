// The page's one mode: the ideas, the free takes or the tempo screen. Each
// screen has an enter and a leave step that start and stop its parts of the
// engine (the loop recorder, the freestyle recorder, the tempo detector), so
// each part is active exactly while its screen is shown. Every way between
// screens (New, Open, the menu, Back, Cancel, Keep) goes through go().
import { $ } from './ui.js';

const SCREEN_IDS = { ideas: 'idea-setup', takes: 'freestyle-screen', tempo: 'tempo-screen' };

export class Mode {
  // steps: { ideas, takes, tempo }, each { enter(how), leave(to, how) },
  // both async; `how` says why (for example 'keep' or 'cancel'). A leave
  // step that resolves with false keeps its screen (a keep the engine refused).
  constructor(steps) {
    this.steps = steps;
    this.current = null;
    this.queue = Promise.resolve();
    this.listeners = [];
  }

  onChange(fn) {
    this.listeners.push(fn);
  }

  // Shows the screen without engine steps: the page's state at start-up,
  // before the engine is reached.
  show(name) {
    for (const [key, id] of Object.entries(SCREEN_IDS)) $(id).hidden = key !== name;
    document.body.dataset.screen = name;
  }

  // Changes run one after another, so two quick requests never interleave
  // their messages.
  go(name, how) {
    const run = () => this.change(name, how);
    this.queue = this.queue.then(run, run);
    return this.queue;
  }

  async change(name, how) {
    if (!this.steps[name]) return;
    const from = this.current;
    if (from === name && how !== 'again') return;
    if (from && (await this.steps[from].leave(name, how)) === false) return;
    this.current = name;
    this.show(name);
    await this.steps[name].enter(how, from);
    for (const fn of this.listeners) fn(name, from);
  }

  is(name) {
    return this.current === name;
  }
}
