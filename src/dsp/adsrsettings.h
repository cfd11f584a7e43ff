#pragma once

// Phase lengths in the caller's envelope time units; several envelopes may
// share one record and see a change at their next advance.
struct ADSRSettings
{
    double attack = 0.0;
    double decay = 0.0;
    double sustain = 1.0;
    double release = 0.0;
};
