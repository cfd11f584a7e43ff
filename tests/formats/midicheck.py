#!/usr/bin/python3
"""Reads an idea's Standard MIDI file with mido, a reader Motifo did not write,
and checks it against the engine's own notes of that idea.

    midicheck.py IDEA.mid IDEA.json

IDEA.json is the idea as the engine reports it (one entry of "ideas" in
getIdeaCollection): its loops in track order, each with "length_seconds" and
"notes" (time and length in microseconds). Exits 0 when the file is format 1
at 960 ticks per quarter, every track ends on the same tick, no note is left
open, and every note lies within one tick of one of the engine's notes
(repeated over the idea's longest loop); otherwise prints what is wrong and
exits 1.
"""
import json
import sys

import mido


def fail(message):
    print("midicheck: " + message)
    sys.exit(1)


def file_notes(track):
    """(on tick, off tick, note) of every note, and the keys left sounding."""
    now = 0
    pending = []
    notes = []
    for msg in track:
        now += msg.time
        if msg.type == "note_on" and msg.velocity > 0:
            pending.append((now, msg.channel, msg.note))
        elif msg.type == "note_off" or (msg.type == "note_on" and msg.velocity == 0):
            for i, (on, channel, note) in enumerate(pending):
                if (channel, note) == (msg.channel, msg.note):
                    notes.append((on, now, note))
                    del pending[i]
                    break
    return sorted(notes), [(channel, note) for _, channel, note in pending]


def main():
    if len(sys.argv) != 3:
        fail("usage: midicheck.py IDEA.mid IDEA.json")
    mid = mido.MidiFile(sys.argv[1])
    with open(sys.argv[2]) as f:
        idea = json.load(f)
    if mid.type != 1:
        fail("format %d, not 1" % mid.type)
    if mid.ticks_per_beat != 960:
        fail("%d ticks per quarter, not 960" % mid.ticks_per_beat)
    loops = idea["loops"]
    if len(mid.tracks) != len(loops):
        fail("%d tracks for %d loops" % (len(mid.tracks), len(loops)))

    ends = set()
    for track in mid.tracks:
        now = 0
        for msg in track:
            now += msg.time
            if msg.type == "end_of_track":
                ends.add(now)
    if len(ends) != 1:
        fail("the tracks end on different ticks: %s" % sorted(ends))

    longest = max(round(loop["length_seconds"] * 44100) for loop in loops)
    for i, (track, loop) in enumerate(zip(mid.tracks, loops)):
        tempos = [msg.tempo for msg in track if msg.type == "set_tempo"]
        if len(tempos) != 1:
            fail("track %d has %d tempo events" % (i, len(tempos)))
        us_per_tick = tempos[0] / 960.0
        notes, left_open = file_notes(track)
        if left_open:
            fail("track %d leaves notes open: %s" % (i, left_open))
        frames = round(loop["length_seconds"] * 44100)
        passes = max(1, round(longest / frames))
        length_us = frames * 1000000 // 44100
        expected = sorted(
            ((n["time"] + p * length_us) / us_per_tick, (n["time"] + n["length"] + p * length_us) / us_per_tick,
             n["note"])
            for p in range(passes) for n in loop["notes"])
        if len(notes) != len(expected):
            fail("track %d holds %d notes, the engine %d over %d passes"
                 % (i, len(notes), len(loop["notes"]), passes))
        for got in notes:
            match = next((w for w in expected
                          if w[2] == got[2] and abs(got[0] - w[0]) <= 1.0 and abs(got[1] - w[1]) <= 1.0), None)
            if match is None:
                fail("track %d: note %d at ticks %s is none of the engine's notes" % (i, got[2], got[:2]))
            expected.remove(match)
    print("midicheck: %d tracks, %d ticks long, every note within a tick" % (len(mid.tracks), ends.pop()))


main()
