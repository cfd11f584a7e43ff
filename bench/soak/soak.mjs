// The real-time soak: Motifo and a trivial PortAudio client on one JACK
// server (dummy driver, 44,100 Hz, 256-frame periods) while a busy user
// drives Motifo through its page's bridge: notes at 20 per second, loops
// made, ideas cloned, muted and switched, instruments switched, the tempo
// changed. Figures: the xruns JACK lays on each client, and the largest
// engine cycle as a fraction of the period (the engine's own cycle meter,
// read through the "getEngineLoad" query).
//
//   node bench/soak/soak.mjs <trivial client program> [seconds]
//
// Prints one JSON object; exits 1 when Motifo has more xruns than the
// trivial client or its largest cycle reaches half the period.
import { spawn } from 'node:child_process';
import { send, sleep, startJack, startMotifoOnJack } from './jack.mjs';

const trivialProgram = process.argv[2];
const seconds = Number(process.argv[3] || 60);

// JACK names the client that was not finished when a cycle ran late.
function xrunsOf(log, client) {
  const pattern = new RegExp(`XRun: client = ${client} was not finished`, 'g');
  return (log.join('').match(pattern) || []).length;
}

function serverXruns(log) {
  return (log.join('').match(/JackTimedDriver::Process XRun/g) || []).length;
}

// SOAK_DEBUG=1 names the actions of every 50 ms step whose largest cycle
// passed a third of the period.
async function watchCycles(page, done, worst) {
  const load = (await send(page, 'getEngineLoad'))?.engine_load;
  if (!load) return;
  worst.max_cycle_fraction = Math.max(worst.max_cycle_fraction, load.max_cycle_fraction);
  worst.max_cycle_cpu_fraction = Math.max(worst.max_cycle_cpu_fraction, load.max_cycle_cpu_fraction);
  if (load.max_cycle_fraction > 1 / 3) {
    console.error(`cycle ${load.max_cycle_fraction.toFixed(3)} (CPU ${load.max_cycle_cpu_fraction.toFixed(3)}) after: ${done.join(' ')}`);
  }
  await send(page, 'resetEngineLoad');
}

// The busy user: every 50 ms a note, and on a slower beat the heavier work.
async function drive(page, durationMs, worst) {
  const counts = { notes: 0, loops: 0, clones: 0, mutes: 0, switches: 0, instruments: 0, tempos: 0 };
  const collection = await send(page, 'getInstrumentCollection');
  const instrumentIds = JSON.stringify(collection || {}).match(/"id"\s*:\s*\d+/g)
    ?.map((s) => Number(s.split(':')[1])).filter((id) => id < 500 || id > 599) ?? [];
  const tempos = [90, 120, 140, 100, 128];
  const end = Date.now() + durationMs;
  let tick = 0;
  let held = null;
  while (Date.now() < end) {
    const started = Date.now();
    const before = { ...counts };
    if (held !== null) await send(page, `noteOff->${held}`);
    held = 48 + ((tick * 7) % 24);
    await send(page, `noteOn->${held}`);
    counts.notes += 1;
    if (tick % 60 === 30) {
      await send(page, 'createLoopFromLoopRecorder');
      counts.loops += 1;
    }
    const ideas = tick % 20 === 10 ? await send(page, 'getIdeaCollection') : null;
    const list = ideas?.idea_collection?.ideas ?? [];
    if (list.length > 0) {
      const idea = list[tick % list.length];
      if (tick % 140 === 70 && list.length < 6) {
        await send(page, `cloneIdea:${idea.id}`);
        counts.clones += 1;
      } else if (tick % 100 === 50) {
        await send(page, JSON.stringify({ idea_collection: { active_idea_id: idea.id } }));
        counts.switches += 1;
      } else if (idea.loops?.length) {
        const loop = idea.loops[tick % idea.loops.length];
        await send(page, JSON.stringify({ idea_collection: { ideas: [{ id: idea.id, loops: [{ id: loop.id, mute: !loop.mute }] }] } }));
        counts.mutes += 1;
      }
    }
    if (tick % 120 === 60 && instrumentIds.length) {
      await send(page, `loadInstrument:${instrumentIds[(tick / 120 | 0) % instrumentIds.length]}`);
      counts.instruments += 1;
    }
    if (tick % 200 === 100) {
      await send(page, `setTempo->${tempos[(tick / 200 | 0) % tempos.length]}`);
      counts.tempos += 1;
    }
    if (worst) await watchCycles(page, Object.keys(counts).filter((k) => counts[k] !== before[k]), worst);
    tick += 1;
    await sleep(Math.max(0, 50 - (Date.now() - started)));
  }
  if (held !== null) await send(page, `noteOff->${held}`);
  return counts;
}

const jack = startJack(`motifo-soak-${process.pid}`);
const { jackd, log, env } = jack;
let motifo;
let failed = false;
try {
  motifo = await startMotifoOnJack(jack);
  const trivial = spawn(trivialProgram, ['trivial', String(seconds + 2)], { env, stdio: ['ignore', 'pipe', 'ignore'] });
  let trivialOut = '';
  trivial.stdout.on('data', (d) => { trivialOut += d; });
  await sleep(1000);
  const xrunsBefore = { motifo: xrunsOf(log, 'motifo'), trivial: xrunsOf(log, 'trivial'), server: serverXruns(log) };
  await send(motifo.page, 'resetEngineLoad');
  const worst = process.env.SOAK_DEBUG ? { max_cycle_fraction: 0, max_cycle_cpu_fraction: 0 } : null;
  const counts = await drive(motifo.page, seconds * 1000, worst);
  const load = (await send(motifo.page, 'getEngineLoad'))?.engine_load;
  if (worst && load) {
    load.max_cycle_fraction = Math.max(load.max_cycle_fraction, worst.max_cycle_fraction);
    load.max_cycle_cpu_fraction = Math.max(load.max_cycle_cpu_fraction, worst.max_cycle_cpu_fraction);
  }
  await new Promise((r) => (trivial.exitCode !== null ? r() : trivial.once('exit', r)));
  const result = {
    seconds,
    period_frames: 256,
    actions: counts,
    xruns: {
      motifo: xrunsOf(log, 'motifo') - xrunsBefore.motifo,
      trivial_portaudio_client: xrunsOf(log, 'trivial') - xrunsBefore.trivial,
      server: serverXruns(log) - xrunsBefore.server,
    },
    engine: load,
    trivial_client: trivialOut.trim() ? JSON.parse(trivialOut) : null,
  };
  console.log(JSON.stringify(result, null, 2));
  failed = !load || result.xruns.motifo > result.xruns.trivial_portaudio_client || load.max_cycle_fraction >= 0.5;
} catch (e) {
  console.error(String(e.stack || e));
  failed = true;
} finally {
  if (motifo) await motifo.stop();
  jackd.kill('SIGTERM');
}
process.exit(failed ? 1 : 0);
