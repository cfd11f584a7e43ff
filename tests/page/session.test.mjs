// A short busy session on the real program: saves, reopens, and a kill with
// work unsaved that the recovery copy brings back; every kept loop checked
// after each.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { runSession, summary } from './session.mjs';

test('three minutes of a busy session lose nothing that was saved or copied', { timeout: 10 * 60000 }, async (t) => {
  const report = await runSession({
    minutes: 2.25, saveEverySeconds: 30, reopenEverySeconds: 60, killAtSeconds: 90, seed: 23,
  });
  t.diagnostic(summary(report));
  assert.ok(report.saves >= 4 && report.reopens >= 2 && report.kills === 1, JSON.stringify(report));
  assert.deepEqual(report.errors, []);
});
