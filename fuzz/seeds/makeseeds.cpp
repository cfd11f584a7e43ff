// Writes the seed corpora of the fuzz targets with Motifo's own writers:
//   makeseeds CORPUS_DIR
// (the Ogg seed is the WAV seed through oggenc; see scripts/fuzz).
#include "authoring/protoauthor.h"
#include "core/timedmidieventlist.h"
#include "formats/midiwriter.h"
#include "formats/wavewriter.h"
#include "proto/samplepack.pb.h"
#include "proto/zubinstrument.pb.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& data)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

// Escapes data the way FuzzedDataProvider::ConsumeRandomLengthString reads it back.
std::string providerString(const std::string& data)
{
    std::string out;
    for (char c : data) {
        out += c;
        if (c == '\\')
            out += '\\';
    }
    return out + "\\n";
}

void wavSeeds(const fs::path& dir, int frames)
{
    std::vector<float> tone(2 * frames);
    for (int i = 0; i < frames; ++i)
        tone[2 * i] = tone[2 * i + 1] = 0.5f * std::sin(i * 0.1f);
    fs::create_directories(dir);
    writeWav((dir / "tone.wav").string(), tone.data(), int(tone.size()));
    writeWav((dir / "empty.wav").string(), tone.data(), 0);
}

void midiSeeds(const fs::path& dir)
{
    TimedMidiEventList notes;
    for (int i = 0; i < 4; ++i) {
        notes.addEvent(i * 250000, MidiMessage(0x90, uint8_t(60 + i), 100));
        notes.addEvent(i * 250000 + 200000, MidiMessage(0x80, uint8_t(60 + i), 0));
    }
    fs::create_directories(dir);
    MidiWriter one;
    one.open((dir / "one.mid").string());
    one.writeTrack(120.0f, notes, 1.0, 1);
    one.close();
    MidiWriter two;
    two.open((dir / "two.mid").string());
    two.writeTrack(97.5f, notes, 1.0, 2);
    two.writeTrack(97.5f, TimedMidiEventList(), 2.0, 1);
    two.close();
}

Quavertone::SamplePack pack()
{
    Quavertone::SamplePack p;
    p.set_name("seed");
    for (int i = 0; i < 2; ++i) {
        auto* zone = p.add_zone();
        zone->set_start_key(i * 64);
        zone->set_end_key(i * 64 + 63);
        zone->set_root_key(i * 64 + 32);
        zone->set_filename("a.wav");
        zone->mutable_adsr_params()->set_release_time(0.1f);
    }
    return p;
}

Quavertone::ZubInstrument instrument()
{
    Quavertone::ZubInstrument i;
    i.set_name("Seed Piano");
    i.set_description("A sampled piano");
    i.set_id(17);
    i.set_gain(0.8f);
    i.mutable_artwork()->set_icon128("icon128.png");
    return i;
}

void protoSeeds(const fs::path& corpus)
{
    fs::create_directories(corpus / "samplepack");
    ProtoAuthor::write((corpus / "samplepack" / "pack.zsfb").string(), pack());
    std::string text;
    pack().SerializeToString(&text);
    std::string desc;
    instrument().SerializeToString(&desc);
    writeFile(corpus / "descriptor" / "binary", std::string(1, '\0') + desc);
    writeFile(corpus / "descriptor" / "text", std::string(1, '\1') + instrument().DebugString());
    writeFile(corpus / "descriptor" / "json", std::string(1, '\2') + ProtoAuthor::toJson(pack()));
}

void apiSeeds(const fs::path& dir)
{
    writeFile(dir / "record",
        "{ \"loop_recorder\" : { \"beats\" : 2, \"record\" : true } }\nnoteOn->60\nnoteOff->60\n"
        "createLoopFromLoopRecorder\ngetIdeaCollection\ncloneIdea:1\ngetProject");
    writeFile(dir / "ideas",
        "createLoopFromLoopRecorder\n{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : 1, \"name\" : \"Verse\", "
        "\"loops\" : [ { \"id\" : 1, \"mute\" : true } ] } ] } }\n"
        "{ \"idea_collection\" : { \"active_idea_id\" : 1 } }\n"
        "{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : 1, \"_destroy\" : true } ] } }");
    writeFile(dir / "tempo",
        "setTempo->90\n{ \"metronome\" : { \"mute\" : true } }\n{ \"project\" : { \"bpm\" : 90, "
        "\"modified_since_last_save\" : false, \"mac_sandbox_guid\" : 5 } }\ngetMicrosecondsUntilNextBeat\n"
        "discardChangesConfirmation\nclearProject");
}

void ideaSeed(const fs::path& corpus)
{
    // The MIDI file, then each loop file, then the loop count taken from the end.
    std::string seed = providerString(readFile(corpus / "midi" / "one.mid"));
    seed += providerString(readFile(corpus / "wav" / "tone.wav"));
    seed += providerString(readFile(corpus / "wav" / "tone.wav"));
    seed += '\2';
    writeFile(corpus / "ideafolder" / "twoloops", seed);
}

void settingsSeed(const fs::path& dir)
{
    writeFile(dir / "settings.xml",
        "<!DOCTYPE settings>\n<settings>\n <AudioDevice>3. Speakers (ALSA)</AudioDevice>\n"
        " <AudioDeviceSampleRate>44100</AudioDeviceSampleRate>\n <MidiDevice>None</MidiDevice>\n"
        " <last_zub_load_path>/home/user/Documents/Motifo</last_zub_load_path>\n"
        " <version>1.0.0</version>\n</settings>\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const fs::path corpus = argv[1];
    wavSeeds(corpus / "wav", 64);
    midiSeeds(corpus / "midi");
    protoSeeds(corpus);
    apiSeeds(corpus / "api");
    ideaSeed(corpus);
    settingsSeed(corpus / "settings");
    return 0;
}
