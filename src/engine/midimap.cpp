#include "engine/midimap.h"

#include "core/jsonfield.h"
#include "core/midimessage.h"

#include <algorithm>
#include <json/reader.h>
#include <json/writer.h>

namespace {

constexpr int kSwitchThreshold = 64;

const char* kindName(MidiMap::ControlKind kind)
{
    switch (kind) {
    case MidiMap::ControlKind::ProgramChange:
        return "program";
    case MidiMap::ControlKind::Note:
        return "note";
    default:
        return "cc";
    }
}

bool kindFromName(const std::string& name, MidiMap::ControlKind& kind)
{
    for (auto k : { MidiMap::ControlKind::ControlChange, MidiMap::ControlKind::ProgramChange, MidiMap::ControlKind::Note }) {
        if (name == kindName(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

const char* switchName(MidiMap::SwitchKind kind) { return kind == MidiMap::SwitchKind::Toggle ? "toggle" : "momentary"; }

} // namespace

const std::vector<std::string>& MidiMap::actions()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v = { "record", "keep_loop", "clear_recorder", "undo", "redo", "play_stop",
            "tap_tempo", "metronome", "next_idea", "previous_idea", "clone_idea" };
        for (int i = 1; i <= NUM_MUTE_LOOPS; ++i)
            v.push_back("mute_loop_" + std::to_string(i));
        for (const char* n : { "length_up", "length_down", "octave_up", "octave_down" })
            v.push_back(n);
        return v;
    }();
    return names;
}

bool MidiMap::isAction(const std::string& name)
{
    const auto& all = actions();
    return std::find(all.begin(), all.end(), name) != all.end();
}

std::string MidiMap::describe(const Control& control)
{
    const std::string channel = " on channel " + std::to_string(control.channel + 1);
    switch (control.kind) {
    case ControlKind::ProgramChange:
        return "Program " + std::to_string(control.number) + channel;
    case ControlKind::Note:
        return "Note " + std::to_string(control.number) + channel;
    default:
        return "CC " + std::to_string(control.number) + channel;
    }
}

bool MidiMap::decode(int status, int data1, int data2, Control& control, int& value, bool& isRelease)
{
    control.channel = status & 0x0F;
    control.number = data1;
    value = data2;
    isRelease = false;
    switch (status & MIDI_KIND_MASK) {
    case MIDI_CONTROL_CHANGE:
        control.kind = ControlKind::ControlChange;
        return true;
    case MIDI_PROGRAM_CHANGE:
        control.kind = ControlKind::ProgramChange;
        value = 127;
        return true;
    case MIDI_NOTE_ON:
    case MIDI_NOTE_OFF:
        control.kind = ControlKind::Note;
        isRelease = (status & MIDI_KIND_MASK) == MIDI_NOTE_OFF || data2 == 0;
        value = isRelease ? 0 : 127;
        return true;
    default:
        return false;
    }
}

MidiMap::Outcome MidiMap::handle(int status, int data1, int data2, int64_t nowMs)
{
    Control control;
    int value = 0;
    bool isRelease = false;
    if (status >= 0xF0 || !decode(status, data1, data2, control, value, isRelease))
        return {};
    Outcome outcome;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_learning.empty() && !isRelease) {
            bindLocked(m_learning, control, value, nowMs);
            m_learning.clear();
            outcome.consumed = outcome.learnt = true;
        } else if (Binding* b = find(control)) {
            outcome.consumed = true;
            if (pressOf(*b, value, isRelease, nowMs))
                outcome.action = b->action;
        }
    }
    if (outcome.learnt)
        changed();
    return outcome;
}

// Whether this value of a bound control is a press; keeps the switch's state.
bool MidiMap::pressOf(Binding& b, int value, bool isRelease, int64_t nowMs) const
{
    bool press;
    if (b.control.kind == ControlKind::ControlChange && b.switchKind == SwitchKind::Toggle) {
        press = value != b.lastValue;
    } else {
        const bool down = !isRelease && value >= kSwitchThreshold;
        // A program change has no release: each one is a press.
        press = down && (!b.held || b.control.kind == ControlKind::ProgramChange);
        b.held = down;
    }
    b.lastValue = value;
    if (!press || nowMs - b.lastPressMs < DEBOUNCE_MS)
        return false;
    b.lastPressMs = nowMs;
    return true;
}

MidiMap::Binding* MidiMap::find(const Control& control)
{
    for (Binding& b : m_bindings)
        if (b.control == control)
            return &b;
    return nullptr;
}

void MidiMap::bindLocked(const std::string& action, const Control& control, int value, int64_t nowMs)
{
    // One control runs one action, and an action has one control.
    std::erase_if(m_bindings, [&](const Binding& b) { return b.action == action || b.control == control; });
    Binding b;
    b.action = action;
    b.control = control;
    // The press that was learnt counts as the switch's first, so its bounce
    // and its release act on nothing.
    b.lastValue = value;
    b.held = value >= kSwitchThreshold;
    b.lastPressMs = nowMs;
    m_bindings.push_back(b);
}

int MidiMap::playChannel() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_playChannel;
}

void MidiMap::learn(const std::string& action)
{
    if (!isAction(action))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_learning = action;
}

void MidiMap::unbind(const std::string& action)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (std::erase_if(m_bindings, [&](const Binding& b) { return b.action == action; }) == 0)
            return;
    }
    changed();
}

void MidiMap::setPlayChannel(int channel)
{
    if (channel < 0 || channel > 15)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (channel == m_playChannel)
            return;
        m_playChannel = channel;
    }
    changed();
}

void MidiMap::setSwitchKind(const std::string& action, SwitchKind kind)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_bindings.begin(), m_bindings.end(), [&](const Binding& b) { return b.action == action; });
        if (it == m_bindings.end() || it->switchKind == kind)
            return;
        it->switchKind = kind;
    }
    changed();
}

void MidiMap::changed()
{
    if (m_onChange)
        m_onChange();
}

bool MidiMap::handleJson(const Json::Value& root)
{
    const Json::Value& m = root["midi_map"];
    if (!m.isObject())
        return false;
    bool understood = false;
    if (m.isMember("cancel")) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_learning.clear();
        understood = true;
    }
    if (m.isMember("learn")) {
        learn(JsonField::toString(m["learn"], ""));
        understood = true;
    }
    if (m.isMember("unbind")) {
        unbind(JsonField::toString(m["unbind"], ""));
        understood = true;
    }
    if (m.isMember("channel")) {
        setPlayChannel(int(JsonField::toInt64(m["channel"], 0)) - 1);
        understood = true;
    }
    const Json::Value& sw = m["switch"];
    if (sw.isObject()) {
        const std::string kind = JsonField::toString(sw["kind"], "");
        if (kind == "momentary" || kind == "toggle")
            setSwitchKind(JsonField::toString(sw["action"], ""), kind == "toggle" ? SwitchKind::Toggle : SwitchKind::Momentary);
        understood = true;
    }
    return understood;
}

void MidiMap::writeJsonLocked(Json::Value& map) const
{
    map["channel"] = m_playChannel + 1;
    Json::Value& list = map["bindings"] = Json::Value(Json::arrayValue);
    for (const Binding& b : m_bindings) {
        Json::Value& item = list.append(Json::Value(Json::objectValue));
        item["action"] = b.action;
        item["control"] = kindName(b.control.kind);
        item["channel"] = b.control.channel + 1;
        item["number"] = b.control.number;
        item["switch"] = switchName(b.switchKind);
    }
}

void MidiMap::toJson(Json::Value& root) const
{
    Json::Value& map = root["midi_map"];
    std::lock_guard<std::mutex> lock(m_mutex);
    writeJsonLocked(map);
    map["learning"] = m_learning;
    for (Json::Value& item : map["bindings"]) {
        ControlKind kind;
        kindFromName(item["control"].asString(), kind);
        item["text"] = describe({ kind, item["channel"].asInt() - 1, item["number"].asInt() });
    }
}

std::string MidiMap::toSettings() const
{
    Json::Value map(Json::objectValue);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        writeJsonLocked(map);
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, map);
}

void MidiMap::fromSettings(const std::string& text)
{
    Json::Value map;
    if (!JsonField::parse(text, map) || !map.isObject())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    const long long channel = JsonField::toInt64(map["channel"], 1);
    m_playChannel = channel >= 1 && channel <= 16 ? int(channel) - 1 : 0;
    m_bindings.clear();
    for (const Json::Value& item : map["bindings"]) {
        if (!item.isObject())
            continue;
        const std::string action = JsonField::toString(item["action"], "");
        Control control;
        const long long ch = JsonField::toInt64(item["channel"], 0);
        const long long number = JsonField::toInt64(item["number"], -1);
        if (!isAction(action) || !kindFromName(JsonField::toString(item["control"], ""), control.kind) || ch < 1
            || ch > 16 || number < 0 || number > 127)
            continue;
        control.channel = int(ch) - 1;
        control.number = int(number);
        bindLocked(action, control, -1, INT64_MIN / 2);
        m_bindings.back().switchKind
            = JsonField::toString(item["switch"], "") == "toggle" ? SwitchKind::Toggle : SwitchKind::Momentary;
    }
}
