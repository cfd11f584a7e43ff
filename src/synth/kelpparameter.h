#pragma once

// Positions of the modal synth's parameters in every program.
enum KelpParameter {
    KELP_MODE_SHIFT,
    KELP_SHIFT_INTERVAL,
    KELP_MIN_MODES,
    KELP_MAX_MODES,
    KELP_FALLOFF,
    KELP_PARITY,
    KELP_JITTER,
    KELP_FREQ_DROP,
    KELP_CHOP,
    KELP_MODES,
    KELP_DETUNE,
    KELP_POWER,
    KELP_DROP_MOD,
    KELP_WAVE,
    KELP_CRUSH,
    KELP_BLEND_TIME,
    KELP_EXIT_PEEL,
    KELP_MODE_INIT,
    KELP_ATTACK,
    KELP_DECAY,
    KELP_SUSTAIN,
    KELP_RELEASE,
    KELP_RESERVED,
    KELP_NUM_PARAMETERS
};
