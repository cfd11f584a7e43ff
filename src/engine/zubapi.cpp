#include "engine/zubapi.h"

#include "core/jsonfield.h"
#include "core/log.h"
#include "core/tokenizer.h"
#include "engine/drumloopcollection.h"
#include "engine/edithistory.h"
#include "engine/metronome.h"
#include "engine/project.h"
#include "engine/transport.h"
#include "engine/zubengine.h"
#include "instruments/instrument.h"
#include "instruments/instrumentcollection.h"
#include "loops/freestylerecorder.h"
#include "loops/freestyletempodetector.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/loopaudio.h"
#include "loops/looppool.h"
#include "loops/looprecorder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

ZubApi::ZubApi(ZubEngine* engine)
    : m_pEngine(engine)
{
}

template <typename Component>
std::string ZubApi::styledState(const Component& component)
{
    Json::Value root(Json::objectValue);
    component.toJson(root);
    return JsonField::styled(root);
}

std::string ZubApi::handleMessage(const std::string& message)
{
    // A call made from inside this one finds its own empty reply and gives
    // the outer one back when it ends.
    std::string outer = std::exchange(m_reply, std::string());
    dispatch(message);
    m_lastReply = std::exchange(m_reply, std::move(outer));
    return m_lastReply;
}

void ZubApi::dispatch(const std::string& message)
{
    const std::vector<std::string> tokens = Tokenizer::split(message, ":");
    if (tokens.size() >= 2) {
        Json::Value root;
        if (!JsonField::parse(message, root))
            handleColonCommand(tokens[0], tokens[1]);
        else if (root.isObject())
            handleJsonMessage(root);
    } else if (tokens.size() == 1) {
        if (!handleBareCommand(tokens[0]))
            handleArrowCommand(message);
    } else {
        logInfo() << "Unhandled JSON API call: " << message;
    }
}

void ZubApi::handleJsonMessage(const Json::Value& root)
{
    // Components see the whole message, in this fixed order.
    if (root.isMember("loop_recorder"))
        handleLoopRecorder(root);
    if (root.isMember("idea_collection") && m_pEngine->editIdeas(root))
        m_reply = styledState(*m_pEngine->ideaCollection());
    if (root.isMember("metronome"))
        m_pEngine->metronome()->handleJson(root);
    if (root.isMember("freestyle_recorder"))
        m_pEngine->freestyleRecorder()->handleJson(root);
    if (root.isMember("freestyle_tempo_detector"))
        m_pEngine->freestyleTempoDetector()->handleJson(root);
    if (root.isMember("project"))
        handleProject(root);
    if (root.isMember("midi_map") && m_pEngine->midiMap().handleJson(root))
        m_reply = styledState(m_pEngine->midiMap());
    if (root.isMember("link"))
        handleLink(root["link"]);
}

// The saved tempo is the one kept loops hold: another is left out.
void ZubApi::handleProject(const Json::Value& root)
{
    const Json::Value& project = root["project"];
    if (!project.isObject() || !project.isMember("bpm")
        || !m_pEngine->tempoRefusedByLoops(JsonField::toDouble(project["bpm"], -1.0), "project tempo")) {
        m_pEngine->project()->handleJson(root);
        return;
    }
    Json::Value rest = root;
    rest["project"].removeMember("bpm");
    m_pEngine->project()->handleJson(rest);
}

void ZubApi::handleLink(const Json::Value& link)
{
    if (!link.isObject())
        return;
    if (link["enabled"].isBool())
        m_pEngine->setLinkEnabled(link["enabled"].asBool());
    if (link["start_stop_sync"].isBool())
        m_pEngine->setLinkStartStopSync(link["start_stop_sync"].asBool());
    m_reply = m_pEngine->linkStateJson();
}

// Diagnostics: a fingerprint of every sample of a loop (by id) or of the
// loop recorder ("recorder"), so that a test can tell audio that came back
// whole from audio that merely looks alike.
std::string ZubApi::audioChecksum(const std::string& of) const
{
    int64 frames = 0;
    std::shared_ptr<const LoopAudio> audio;
    if (of == "recorder") {
        audio = m_pEngine->loopRecorder()->copyContent().audio;
        frames = audio ? audio->frames() : 0;
    } else if (const std::shared_ptr<Loop> loop = m_pEngine->loopPool()->getLoop(std::atoi(of.c_str()))) {
        const Loop::Content content = loop->content();
        audio = content.audio;
        frames = audio ? std::min(content.frames, audio->frames()) : 0;
    }
    if (!audio)
        return "";
    const float* samples = audio->data();
    uint64_t hash = 14695981039346656037ull;
    const auto* bytes = reinterpret_cast<const unsigned char*>(samples);
    for (std::size_t i = 0; i < std::size_t(frames) * ZUB_FRAMESIZE * sizeof(float); ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    Json::Value root;
    Json::Value& state = root["audio_checksum"];
    state["of"] = of;
    state["frames"] = Json::Int64(frames);
    state["fnv1a"] = hex;
    return JsonField::styled(root);
}

// Clearing the recorder is an edit that can be undone; the rest is not.
void ZubApi::handleLoopRecorder(const Json::Value& root)
{
    const Json::Value& msg = root["loop_recorder"];
    if (!msg.isObject() || !JsonField::toBool(msg["clear"], false)) {
        m_pEngine->loopRecorder()->handleJson(root);
        return;
    }
    m_pEngine->clearLoopRecorder();
    Json::Value rest = root;
    rest["loop_recorder"].removeMember("clear");
    m_pEngine->loopRecorder()->handleJson(rest);
}

void ZubApi::handleColonCommand(const std::string& command, const std::string& argument)
{
    if (command == "loadInstrument") {
        m_pEngine->loadInstrument(static_cast<unsigned>(std::atoi(argument.c_str())));
    } else if (command == "loadDrumLoopByName") {
        m_pEngine->loadDrumLoopByName(argument.c_str());
    } else if (command == "loadDrumLoopByIndex") {
        m_pEngine->loadDrumLoopByIndex(static_cast<unsigned>(std::atoi(argument.c_str())));
    } else if (command == "getAudioChecksum") {
        m_reply = audioChecksum(argument);
    } else if (command == "cloneIdea") {
        m_pEngine->cloneIdea(std::atoi(argument.c_str()));
        m_reply = styledState(*m_pEngine->ideaCollection());
    }
}

bool ZubApi::handleBareCommand(const std::string& command)
{
    using Handler = void (*)(ZubApi&);
    // Matching order of the commands; a null handler answers "".
    static constexpr std::pair<std::string_view, Handler> kCommands[] = {
        { "getLoopRecorder", [](ZubApi& a) { a.m_reply = styledState(*a.m_pEngine->loopRecorder()); } },
        { "getMetronome", [](ZubApi& a) { a.m_reply = styledState(*a.m_pEngine->metronome()); } },
        { "getFreestyleRecorder", [](ZubApi& a) { a.m_reply = styledState(*a.m_pEngine->freestyleRecorder()); } },
        { "getFreestyleTempoDetector", [](ZubApi& a) { a.m_reply = styledState(*a.m_pEngine->freestyleTempoDetector()); } },
        { "getIdeaCollection", [](ZubApi& a) { a.m_reply = styledState(*a.m_pEngine->ideaCollection()); } },
        { "getMidiMap", [](ZubApi& a) { a.m_reply = styledState(a.m_pEngine->midiMap()); } },
        { "createLoopFromLoopRecorder", [](ZubApi& a) { a.m_pEngine->createLoopFromLoopRecorder(); } },
        { "createLoopFromFreestyleTempoDetector", [](ZubApi& a) { a.m_pEngine->createLoopFromFreestyleTempoDetector(); } },
        { "getInstrument", [](ZubApi& a) { a.m_reply = styledState(*a.m_pEngine->instrument()); } },
        { "getInstrumentCollection", [](ZubApi& a) { a.m_reply = styledState(*a.m_pEngine->instrumentCollection()); } },
        { "getDrumLoopCollection", [](ZubApi& a) {
             Json::Value root(Json::objectValue);
             a.m_pEngine->drumLoopCollection()->toJson(root);
             // What a drum loop played now does to the tempo, so the page can
             // tell whether the loop recorder would be re-timed.
             root["drum_loop_collection"]["plays_at_song_tempo"] = a.m_pEngine->songHasOwnLoops();
             a.m_reply = JsonField::styled(root);
         } },
        { "clearDrumLoop", [](ZubApi& a) { a.m_pEngine->clearDrumLoop(); } },
        { "stopDrumLoop", [](ZubApi& a) { a.m_pEngine->stopDrumLoop(); } },
        { "playDrumLoop", [](ZubApi& a) { a.m_pEngine->playDrumLoop(); } },
        { "clearProject", [](ZubApi& a) { a.m_pEngine->clearProject(); } },
        { "discardChangesConfirmation", [](ZubApi& a) {
             if (a.m_pEngine->project()->confirmDiscard())
                 a.m_reply = "{ \"project\" : { \"discard_confirm\" : true } }";
         } },
        { "getIdea", nullptr },
        { "getProject", [](ZubApi& a) { a.m_reply = styledState(*a.m_pEngine->project()); } },
        { "getMicrosecondsUntilNextBeat", [](ZubApi& a) {
             a.m_reply = "{ \"transport\" : { \"usec_till_beat\" : "
                 + std::to_string(a.m_pEngine->transport()->microsecondsSinceBeat()) + " } }";
         } },
        { "render", [](ZubApi& a) { a.m_pEngine->renderToJs(); } },
        { "stopSong", [](ZubApi& a) { a.m_pEngine->stopSong(); } },
        { "getLink", [](ZubApi& a) { a.m_reply = a.m_pEngine->linkStateJson(); } },
        { "playSong", [](ZubApi& a) { a.m_pEngine->playSong(); } },
        // Diagnostics: the largest audio cycle since the start or the last reset.
        { "getEngineLoad", [](ZubApi& a) { a.m_reply = styledState(a.m_pEngine->cycleMeter()); } },
        { "resetEngineLoad", [](ZubApi& a) { a.m_pEngine->cycleMeter().reset(); } },
        // The song as it was before (after) the last edit; the page gets the ideas.
        { "undo", [](ZubApi& a) {
             a.m_pEngine->undo();
             a.m_reply = styledState(*a.m_pEngine->ideaCollection());
         } },
        { "redo", [](ZubApi& a) {
             a.m_pEngine->redo();
             a.m_reply = styledState(*a.m_pEngine->ideaCollection());
         } },
        { "getHistory", [](ZubApi& a) { a.m_reply = styledState(*a.m_pEngine->history()); } },
    };
    for (const auto& [name, handler] : kCommands) {
        if (command == name) {
            if (handler)
                handler(*this);
            return true;
        }
    }
    return false;
}

void ZubApi::handleArrowCommand(const std::string& message)
{
    const std::vector<std::string> tokens = Tokenizer::split(message, "->");
    if (tokens.size() != 2)
        return;
    const std::string& arg = tokens[1];
    if (tokens[0] == "noteOn")
        m_pEngine->noteOn(std::atoi(arg.c_str()), 127);
    else if (tokens[0] == "noteOff")
        m_pEngine->noteOff(std::atoi(arg.c_str()));
    else if (tokens[0] == "setTempo")
        m_pEngine->setSongTempo(static_cast<float>(std::atof(arg.c_str())));
}
