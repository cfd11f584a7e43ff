#pragma once

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Which MIDI controls run which of the page's actions, and the channel whose
// notes play the instrument. A foot switch, pad or key is bound by learning:
// the page arms an action and the next control that moves is bound to it.
// The MIDI thread decodes through handle(); the GUI thread changes the map
// through the API. One mutex guards both: neither is the audio thread.
class MidiMap
{
public:
    // A press within this time of the control's last press is switch bounce.
    static constexpr int64_t DEBOUNCE_MS = 30;
    static constexpr int NUM_MUTE_LOOPS = 8;

    enum class ControlKind { ControlChange, ProgramChange, Note };
    // Momentary: value >= 64 presses, < 64 releases. Toggle: every change of
    // value is a press.
    enum class SwitchKind { Momentary, Toggle };

    struct Control {
        ControlKind kind = ControlKind::ControlChange;
        int channel = 0; // 0..15
        int number = 0; // controller, program or note
        bool operator==(const Control& o) const = default;
    };

    struct Outcome {
        bool consumed = false; // a bound or learnt control: it plays nothing
        bool learnt = false; // a binding was made
        std::string action; // the action pressed, empty when none
    };

    // The actions a control can run, in the order the page lists them.
    static const std::vector<std::string>& actions();
    static bool isAction(const std::string& name);
    // "CC 80 on channel 1", "Program 5 on channel 2", "Note C4 on channel 10".
    static std::string describe(const Control& control);

    // MIDI thread: one channel message at `nowMs` on a steady millisecond clock.
    Outcome handle(int status, int data1, int data2, int64_t nowMs);
    // Notes on this channel (0..15) play the instrument unless bound.
    int playChannel() const;

    // GUI thread: { "learn" : action }, { "unbind" : action }, { "cancel" : true },
    // { "channel" : 1..16 }, { "switch" : { "action" : a, "kind" : "momentary"|"toggle" } }.
    // Returns true when the member was understood.
    bool handleJson(const Json::Value& root);
    void toJson(Json::Value& root) const;

    // The bindings and the playing channel as stored in the settings.
    std::string toSettings() const;
    // Takes what toSettings wrote; anything unreadable is left out.
    void fromSettings(const std::string& text);
    // Called after the stored part changed, on the thread that changed it.
    void setOnChange(std::function<void()> onChange) { m_onChange = std::move(onChange); }

    void learn(const std::string& action);
    void unbind(const std::string& action);
    void setPlayChannel(int channel);
    void setSwitchKind(const std::string& action, SwitchKind kind);

private:
    struct Binding {
        std::string action;
        Control control;
        SwitchKind switchKind = SwitchKind::Momentary;
        // MIDI thread state of the switch.
        int lastValue = -1;
        bool held = false;
        int64_t lastPressMs = INT64_MIN / 2;
    };

    static bool decode(int status, int data1, int data2, Control& control, int& value, bool& isRelease);
    bool pressOf(Binding& binding, int value, bool isRelease, int64_t nowMs) const;
    Binding* find(const Control& control);
    void bindLocked(const std::string& action, const Control& control, int value, int64_t nowMs);
    void writeJsonLocked(Json::Value& map) const;
    void changed();

    mutable std::mutex m_mutex;
    std::vector<Binding> m_bindings;
    std::string m_learning; // the armed action, empty when none
    int m_playChannel = 0;
    std::function<void()> m_onChange;
};
