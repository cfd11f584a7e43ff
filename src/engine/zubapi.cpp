#include "engine/zubapi.h"

#include "core/jsonfield.h"
#include "core/tokenizer.h"
#include "engine/drumloopcollection.h"
#include "engine/metronome.h"
#include "engine/project.h"
#include "engine/transport.h"
#include "engine/zubengine.h"
#include "instruments/instrument.h"
#include "instruments/instrumentcollection.h"
#include "loops/freestylerecorder.h"
#include "loops/freestyletempodetector.h"
#include "loops/ideacollection.h"
#include "loops/looprecorder.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <json/reader.h>
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

void ZubApi::handleMessage(const std::string& message)
{
    const std::vector<std::string> tokens = Tokenizer::split(message, ":");
    m_reply.clear();
    if (tokens.size() >= 2) {
        Json::Value root;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        Json::Reader reader(Json::Features::all());
#pragma GCC diagnostic pop
        if (!reader.parse(message, root, false))
            handleColonCommand(tokens[0], tokens[1]);
        else if (root.isObject())
            handleJsonMessage(root);
    } else if (tokens.size() == 1) {
        if (!handleBareCommand(tokens[0]))
            handleArrowCommand(message);
    } else {
        std::printf("Unhandled JSON API call: %s\n", message.c_str());
    }
}

void ZubApi::handleJsonMessage(const Json::Value& root)
{
    // Components see the whole message, in this fixed order.
    if (root.isMember("loop_recorder"))
        m_pEngine->loopRecorder()->handleJson(root);
    if (root.isMember("idea_collection") && m_pEngine->ideaCollection()->handleJson(root))
        m_reply = styledState(*m_pEngine->ideaCollection());
    if (root.isMember("metronome"))
        m_pEngine->metronome()->handleJson(root);
    if (root.isMember("freestyle_recorder"))
        m_pEngine->freestyleRecorder()->handleJson(root);
    if (root.isMember("freestyle_tempo_detector"))
        m_pEngine->freestyleTempoDetector()->handleJson(root);
    if (root.isMember("project"))
        m_pEngine->project()->handleJson(root);
}

void ZubApi::handleColonCommand(const std::string& command, const std::string& argument)
{
    if (command == "loadInstrument") {
        m_pEngine->loadInstrument(static_cast<unsigned>(std::atoi(argument.c_str())));
    } else if (command == "loadDrumLoopByName") {
        m_pEngine->loadDrumLoopByName(argument.c_str());
    } else if (command == "loadDrumLoopByIndex") {
        m_pEngine->loadDrumLoopByIndex(static_cast<unsigned>(std::atoi(argument.c_str())));
    } else if (command == "cloneIdea") {
        m_pEngine->ideaCollection()->cloneIdea(std::atoi(argument.c_str()));
        m_reply = styledState(*m_pEngine->ideaCollection());
    }
}

bool ZubApi::handleBareCommand(const std::string& command)
{
    using Handler = std::function<void()>;
    // Matching order of the commands; an empty handler answers "" (the
    // components behind those commands are not part of the engine yet).
    const std::pair<const char*, Handler> commands[] = {
        { "getLoopRecorder", [&] { m_reply = styledState(*m_pEngine->loopRecorder()); } },
        { "getMetronome", [&] { m_reply = styledState(*m_pEngine->metronome()); } },
        { "getFreestyleRecorder", [&] { m_reply = styledState(*m_pEngine->freestyleRecorder()); } },
        { "getFreestyleTempoDetector", [&] { m_reply = styledState(*m_pEngine->freestyleTempoDetector()); } },
        { "getIdeaCollection", [&] { m_reply = styledState(*m_pEngine->ideaCollection()); } },
        { "createLoopFromLoopRecorder", [&] { m_pEngine->createLoopFromLoopRecorder(); } },
        { "createLoopFromFreestyleTempoDetector", [&] { m_pEngine->createLoopFromFreestyleTempoDetector(); } },
        { "getInstrument", [&] { m_reply = styledState(*m_pEngine->instrument()); } },
        { "getInstrumentCollection", [&] { m_reply = styledState(*m_pEngine->instrumentCollection()); } },
        { "getDrumLoopCollection", [&] { m_reply = styledState(*m_pEngine->drumLoopCollection()); } },
        { "clearDrumLoop", [&] { m_pEngine->clearDrumLoop(); } },
        { "stopDrumLoop", [&] { m_pEngine->stopDrumLoop(); } },
        { "playDrumLoop", [&] { m_pEngine->playDrumLoop(); } },
        { "clearProject", [&] { m_pEngine->clearProject(); } },
        { "discardChangesConfirmation", [&] {
             if (m_pEngine->project()->confirmDiscard())
                 m_reply = "{ \"project\" : { \"discard_confirm\" : true } }";
         } },
        { "getIdea", {} },
        { "getProject", [&] { m_reply = styledState(*m_pEngine->project()); } },
        { "getMicrosecondsUntilNextBeat", [&] {
             m_reply = "{ \"transport\" : { \"usec_till_beat\" : "
                 + std::to_string(m_pEngine->transport()->microsecondsSinceBeat()) + " } }";
         } },
        { "render", [&] { m_pEngine->renderToJs(); } },
        { "stopSong", [&] { m_pEngine->stopSong(); } },
        { "playSong", [&] { m_pEngine->playSong(); } },
        // Diagnostics: the largest audio cycle since the start or the last reset.
        { "getEngineLoad", [&] { m_reply = styledState(m_pEngine->cycleMeter()); } },
        { "resetEngineLoad", [&] { m_pEngine->cycleMeter().reset(); } },
    };
    for (const auto& [name, handler] : commands) {
        if (command == name) {
            if (handler)
                handler();
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
        m_pEngine->setTempo(static_cast<float>(std::atof(arg.c_str())));
}
