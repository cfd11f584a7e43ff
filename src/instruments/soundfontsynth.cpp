#include "instruments/soundfontsynth.h"

#include "core/log.h"

#include <fluidsynth.h>

namespace {
constexpr int kChannel = 0;
constexpr int kAllGroups = -1;

// Every unload with preset reset warns once per channel that has no preset
// left; errors still reach the log. FluidSynth's handlers are global and read
// by its threads unlocked, so this is set once, when the program loads, before
// any thread runs, and a handler the program sets later is never replaced.
const bool kWarningsQuiet = [] {
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    return true;
}();
} // namespace

SoundFontSynth::SoundFontSynth()
{
    m_pFluidSettings = new_fluid_settings();
    m_pFluidSynth = new_fluid_synth(m_pFluidSettings);
}

SoundFontSynth::~SoundFontSynth()
{
    delete_fluid_synth(m_pFluidSynth);
    delete_fluid_settings(m_pFluidSettings);
}

int SoundFontSynth::loadFont(const std::string& path)
{
    const int id = fluid_synth_sfload(m_pFluidSynth, path.c_str(), 1);
    if (id == FLUID_FAILED) {
        logInfo() << "Failed to load SoundFont: " << path;
        return -1;
    }
    return id;
}

void SoundFontSynth::unloadFont(int fontId)
{
    if (fontId > 0)
        fluid_synth_sfunload(m_pFluidSynth, fontId, 1);
}

void SoundFontSynth::select(int fontId, int program, const std::string& path)
{
    m_soundFontId = fontId;
    m_path = path;
    fluid_synth_program_change(m_pFluidSynth, kChannel, program);
    fluid_synth_reverb_on(m_pFluidSynth, kAllGroups, 1);
    fluid_synth_set_reverb_group_roomsize(m_pFluidSynth, kAllGroups, 0.6);
    fluid_synth_set_reverb_group_damp(m_pFluidSynth, kAllGroups, 0.0);
    fluid_synth_set_reverb_group_width(m_pFluidSynth, kAllGroups, 0.5);
    fluid_synth_set_reverb_group_level(m_pFluidSynth, kAllGroups, 0.9);
}

void SoundFontSynth::unload()
{
    if (m_soundFontId <= 0)
        return;
    fluid_synth_all_notes_off(m_pFluidSynth, kChannel);
    fluid_synth_all_sounds_off(m_pFluidSynth, kChannel);
    fluid_synth_sfunload(m_pFluidSynth, m_soundFontId, 1);
    m_soundFontId = 0;
    m_path.clear();
}

void SoundFontSynth::noteOn(int note)
{
    fluid_synth_noteon(m_pFluidSynth, kChannel, note, kVelocity);
}

void SoundFontSynth::noteOff(int note)
{
    fluid_synth_noteoff(m_pFluidSynth, kChannel, note);
}

void SoundFontSynth::render(float* left, float* right, int numFrames)
{
    fluid_synth_write_float(m_pFluidSynth, numFrames, left, 0, 1, right, 0, 1);
}

int SoundFontSynth::program() const
{
    if (m_soundFontId <= 0)
        return -1;
    int fontId = 0, bank = 0, preset = 0;
    if (fluid_synth_get_program(m_pFluidSynth, kChannel, &fontId, &bank, &preset) != FLUID_OK)
        return -1;
    return preset;
}
