// Link switched on from the page of the real program, against LinkHut. Link
// finds peers by multicast, so everything (the JACK server, LinkHut, Motifo
// and this test's browser connection) runs inside a network namespace of its
// own with only the loopback interface: nothing leaves this machine.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { test } from 'node:test';

const here = path.dirname(fileURLToPath(import.meta.url));
const LOOPBACK_ONLY = 'ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo && exec "$@"';

test('Link switched on from the page joins LinkHut on loopback, shows its peer and follows its tempo', (t) => {
  const missing = ['unshare', 'ip', 'tmux', 'LinkHut', 'jackd'].filter((c) => spawnSync('sh', ['-c', `command -v ${c}`]).status !== 0);
  if (missing.length) { t.skip(`needs ${missing.join(', ')}`); return; }
  if (spawnSync('unshare', ['-n', 'true']).status !== 0) { t.skip('cannot make a network namespace here'); return; }
  // A run of its own, not a part of this one.
  const { NODE_TEST_CONTEXT, ...env } = process.env;
  const run = spawnSync('unshare', ['-n', '--', 'sh', '-c', LOOPBACK_ONLY, 'sh',
    process.execPath, '--test', '--test-reporter=spec', path.join(here, 'link-inside.mjs')],
  { env: { ...env, MOTIFO_LINK_NAMESPACE: '1' }, encoding: 'utf8', timeout: 240000 });
  assert.equal(run.status, 0, `${run.stdout}\n${run.stderr}`);
  assert.match(run.stdout, /ℹ pass 1\b/, run.stdout);
});
