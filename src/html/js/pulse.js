// The page's one clock for what moves with the music: the loop recorder's
// playhead and the beat light. Each part shows itself as of a moment and says
// when it next changes; the clock sleeps until then. A frame of the web view
// costs the program about as much as its engine playing loops for a second,
// so nothing here runs on every display frame.

// Wake this early, and show what falls due this soon after, so changes a few
// milliseconds apart share one frame.
const LEAD_MS = 8;
// A loose part (the playhead) moves up to this much early or late to share
// the frame of a strict one (the beat light): the two are synced to the
// engine apart, and every frame costs the same however little moves.
export const SLACK_MS = 100;
// A part that asks for a change sooner than this gets it this late.
const MIN_SLEEP_MS = 4;

export class Pulse {
  // strict, loose: objects with step(at) that show their state as of `at`
  // (performance.now() time) and return when it next changes (Infinity for
  // never); loose ones may move SLACK_MS off time. Each part gets changed(),
  // to call when its state jumps.
  constructor(strict, loose = []) {
    this.strict = strict;
    this.loose = loose;
    this.timer = 0;
    this.running = false;
    for (const part of [...strict, ...loose]) part.changed = () => this.poke();
  }

  start() {
    this.running = true;
    if (!this.watchingVisibility) {
      this.watchingVisibility = true;
      // Nothing is drawn for a hidden or minimised window: the clock stops
      // and catches up when the window shows again.
      document.addEventListener('visibilitychange', () => (document.hidden ? clearTimeout(this.timer) : this.poke()));
    }
    this.poke();
  }

  // A part's state jumped (a new position from the engine): show it now.
  poke() {
    if (!this.running || document.hidden) return;
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.wake(), 0);
  }

  wake() {
    if (document.hidden) return;
    const now = performance.now();
    let strict = Infinity;
    let loose = Infinity;
    for (const part of this.strict) strict = Math.min(strict, part.step(now + 2 * LEAD_MS));
    for (const part of this.loose) loose = Math.min(loose, part.step(now + 2 * LEAD_MS + SLACK_MS));
    // A loose change just before a strict one waits for it; one after it
    // was shown early above.
    const next = loose < strict - SLACK_MS ? loose : strict;
    if (next === Infinity) return; // until a part changes
    this.timer = setTimeout(() => this.wake(), Math.max(MIN_SLEEP_MS, next - LEAD_MS - now));
  }
}

// The playhead moves in steps of the beat (whole beats, halves, quarters,
// ...): the fewest per beat that keep a step at most this long, so it keeps
// up with slow tempos and draws no more often than the beat light otherwise.
const LONGEST_STEP_MS = 1000;

export function stepsPerBeat(beatMs) {
  let steps = 1;
  while (steps < 16 && beatMs / steps > LONGEST_STEP_MS) steps *= 2;
  return steps;
}
