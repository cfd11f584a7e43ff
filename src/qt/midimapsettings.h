#pragma once

class MidiMap;
class QObject;

// Keeps the MIDI map's bindings and playing channel in the settings: read
// once at start, written whole after every change.
class MidiMapSettings
{
public:
    static constexpr const char* KEY = "MidiMap";

    // GUI thread. Changes made on any thread are stored on the thread of
    // `context`, the GUI thread, where the settings live; none are stored
    // once `context` is gone.
    static void attach(MidiMap& map, QObject* context);
    static void detach(MidiMap& map);
};
