// A short busy session on the real program: saves, reopens and a kill, with
// every kept loop checked against the last save after each.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { runSession, summary } from './session.mjs';

test('three minutes of a busy session lose nothing that was saved', { timeout: 10 * 60000 }, async (t) => {
  const report = await runSession({
    minutes: 2.5, saveEverySeconds: 30, reopenEverySeconds: 60, killAtSeconds: 100, seed: 23,
  });
  t.diagnostic(summary(report));
  assert.ok(report.saves >= 4 && report.reopens >= 2 && report.kills === 1, JSON.stringify(report));
  assert.deepEqual(report.errors, []);
});
