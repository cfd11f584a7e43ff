#pragma once

#include <string>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

// A FluidSynth synthesizer that plays one SoundFont program on channel 0.
//
// Threads: FluidSynth serialises its own API calls. loadFont and unloadFont
// run on the loader thread; the caller makes sure select/unload never run
// at the same time as each other (the instrument's lock and load order).
class SoundFontSynth
{
public:
    static constexpr int kVelocity = 127;

    SoundFontSynth();
    ~SoundFontSynth();

    SoundFontSynth(const SoundFontSynth&) = delete;
    SoundFontSynth& operator=(const SoundFontSynth&) = delete;

    // Loads the file with preset reset. Returns FluidSynth's id of the font,
    // or -1 (logged) when the file cannot be loaded. Nothing is selected yet.
    int loadFont(const std::string& path);
    // Frees a font that loadFont returned and that was never selected.
    void unloadFont(int fontId);
    // Makes fontId the current font: program change on channel 0, reverb on
    // (room 0.6, damping 0.0, width 0.5, level 0.9).
    void select(int fontId, int program, const std::string& path);
    // All notes and sounds off on channel 0, then unloads the current font.
    void unload();
    bool hasFont() const { return m_soundFontId > 0; }

    void noteOn(int note);
    void noteOff(int note);
    // Audio thread: replaces left[0..n) and right[0..n).
    void render(float* left, float* right, int numFrames);

    // The preset number on channel 0, or -1 when none is selected.
    int program() const;
    // The file of the current font; empty when none is selected.
    const std::string& fontPath() const { return m_path; }

private:
    fluid_settings_t* m_pFluidSettings;
    fluid_synth_t* m_pFluidSynth;
    int m_soundFontId = 0;
    std::string m_path;
};
