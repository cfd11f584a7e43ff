#include "core/tokenizer.h"
#include "engine/metronome.h"
#include "engine/project.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "support/enginetest.h"

#include <gtest/gtest.h>

namespace {

TEST(Tokenizer, SplitsIntoNonEmptyRuns)
{
    using V = std::vector<std::string>;
    struct Case { const char* text; const char* delims; V tokens; };
    const Case cases[] = {
        { "noteOn->60", "->", { "noteOn", "60" } },
        { "setTempo->-3", "->", { "setTempo", "3" } },
        { "::a::b:", ":", { "a", "b" } },
        { "", ":", {} },
        { ":::", ":", {} },
        { "plain", ":", { "plain" } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Tokenizer::split(c.text, c.delims), c.tokens) << c.text;
}

using ZubApiTest = EngineTest;

TEST_F(ZubApiTest, MessagesAndReplies)
{
    struct Case { const char* message; const char* reply; };
    const Case cases[] = {
        { "getMetronome", "{\n   \"metronome\" : {\n      \"mute\" : true\n   }\n}\n" },
        { "{ \"metronome\" : { \"mute\" : false } }", "" },
        { "getMetronome", "{\n   \"metronome\" : {\n      \"mute\" : false\n   }\n}\n" },
        // JSON with comments is accepted.
        { "{ /* off */ \"metronome\" : { \"mute\" : true } }", "" },
        { "getMetronome", "{\n   \"metronome\" : {\n      \"mute\" : true\n   }\n}\n" },
        { "noteOn->60", "" },
        { "noteOn->60->61", "" },
        { "loadInstrument", "" },
        { "unknownCommand", "" },
        { "getIdea", "" },
        { "\"a:b\"", "" }, // JSON that is not an object
        { "{ \"metronome\" : 5 }", "" },
        { "{ \"metronome\" : { \"mute\" : \"yes\" } }", "" }, // wrong type: ignored
        { "[1, 2, {\"x\":1}]", "" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(send(c.message), c.reply) << c.message;
}

TEST_F(ZubApiTest, SetTempoThroughArrowCommand)
{
    send("setTempo->90");
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 90.0f);
    EXPECT_EQ(engine.metronome()->framesPerBeat(), 29400);
    // '-' is a delimiter: "->-3" reads as 3, outside the range, refused.
    send("setTempo->-3");
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 90.0f);
    send("setTempo->abc");
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 90.0f);
    send("setTempo->120.5xyz");
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 120.5f);
}

TEST_F(ZubApiTest, MicrosecondsSinceBeatReply)
{
    Transport::instance().setPosition(33075);
    EXPECT_EQ(send("getMicrosecondsUntilNextBeat"), "{ \"transport\" : { \"usec_till_beat\" : 250000 } }");
}

TEST_F(ZubApiTest, EmptyMessageIsLogged)
{
    for (const char* m : { "", ":::" }) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(send(m), "");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Unhandled JSON API call: ") + m + "\n");
    }
}

TEST_F(ZubApiTest, MalformedMessagesNeverCrash)
{
    const char* messages[] = {
        "{", "}", "{\"metronome\":", ":{", "{\"metronome\":{\"mute\":null}}", "noteOn->",
        "->", "noteOff->99999999999999999999", "setTempo->1e400", "{\"metronome\":[]}",
        "\xff\xfe:\x01", "{\"metronome\":{\"mute\":{\"deep\":[1,2,3]}}}",
        // A component's commands that are not an object.
        "{\"idea_collection\":1}", "{\"idea_collection\":[\"clear\"]}", "{\"idea_collection\":\"clear\"}",
        "{\"loop_recorder\":1}", "{\"freestyle_recorder\":[]}", "{\"drum_loop_collection\":true}",
    };
    for (const char* m : messages)
        EXPECT_NO_THROW(send(m)) << m;
    // Nested deeper than the JSON reader goes.
    EXPECT_NO_THROW(send("{ \"metronome\" : " + std::string(2000, '[')));
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 120.0f);
}

// Commands that act without a state reply answer "", also when they have
// nothing to act on; the drum loop collection answers with its state.
TEST_F(ZubApiTest, DrumLoopAndRenderCommandsAnswerEmpty)
{
    for (const char* m : { "clearDrumLoop", "stopDrumLoop", "playDrumLoop", "render", "loadDrumLoopByIndex:0",
             "loadDrumLoopByName:120 4 Missing.wav", "loadDrumLoopByName:bad" })
        EXPECT_EQ(send(m), "") << m;
    EXPECT_EQ(send("getDrumLoopCollection"),
              "{\n   \"drum_loop_collection\" : {\n      \"drum_loops\" : [],\n      \"plays_at_song_tempo\" : false\n   }\n}\n");
}

TEST_F(ZubApiTest, ProjectStateAndDiscardConfirmation)
{
    EXPECT_EQ(send("getProject"),
              "{\n   \"project\" : {\n      \"bpm\" : 120.0,\n      \"modified_since_last_save\" : false\n   }\n}\n");
    EXPECT_EQ(send("clearProject"), "");
    const std::string confirmed = "{ \"project\" : { \"discard_confirm\" : true } }";
    int asked = 0;
    bool answer = false;
    engine.project()->setConfirmDiscardQuery([&] { ++asked; return answer; });
    EXPECT_EQ(send("discardChangesConfirmation"), confirmed); // nothing to lose: not asked
    EXPECT_EQ(asked, 0);
    engine.project()->setModified(true);
    EXPECT_EQ(send("discardChangesConfirmation"), "");
    answer = true;
    EXPECT_EQ(send("discardChangesConfirmation"), confirmed);
    EXPECT_EQ(asked, 2);

    // While the prompt is open the page goes on sending: those calls get
    // their own replies and leave the prompt's alone.
    std::string inner;
    engine.project()->setConfirmDiscardQuery([&] {
        inner = api.handleMessage("getMicrosecondsUntilNextBeat");
        return answer;
    });
    for (bool a : { false, true }) {
        answer = a;
        inner.clear();
        EXPECT_EQ(api.handleMessage("discardChangesConfirmation"), a ? confirmed : "") << a;
        EXPECT_EQ(api.reply(), a ? confirmed : "") << a;
        EXPECT_NE(inner.find("usec_till_beat"), std::string::npos) << a;
    }
}

// The project's tempo is the stored one only; the metronome keeps its own.
TEST_F(ZubApiTest, ProjectJsonCommands)
{
    EXPECT_EQ(send("{ \"metronome\" : { \"mute\" : false }, \"project\" : { \"bpm\" : 90 } }"), "");
    EXPECT_DOUBLE_EQ(engine.project()->bpm(), 90.0);
    EXPECT_FLOAT_EQ(engine.metronome()->bpm(), 120.0f);
    EXPECT_FALSE(engine.metronome()->isMuted());
    for (const char* bad : { "-5", "\"fast\"", "null" }) {
        send(std::string("{ \"project\" : { \"bpm\" : ") + bad + " } }");
        EXPECT_DOUBLE_EQ(engine.project()->bpm(), 90.0) << bad;
    }
    send("{ \"project\" : { \"initialize\" : 1, \"suspend\" : 1, \"mac_sandbox\" : 1 } }");
    engine.project()->setModified(true);
    send("{ \"project\" : { \"modified_since_last_save\" : false, \"mac_sandbox_guid\" : 77 } }");
    EXPECT_EQ(engine.project()->guid(), 77);
    EXPECT_TRUE(engine.project()->isModified());
}

// Commands that need an idea or a loop before one exists change nothing.
TEST_F(ZubApiTest, IdeaCommandsBeforeAnyIdea)
{
    const std::string empty = "{\n   \"idea_collection\" : {\n      \"active_idea_id\" : 0,\n"
                              "      \"ideas\" : [],\n      \"stopped\" : false,\n      \"test\" : \"foobar\"\n   }\n}\n";
    EXPECT_EQ(send("getIdeaCollection"), empty);
    EXPECT_EQ(send("cloneIdea:1"), empty);
    EXPECT_EQ(send("cloneIdea"), "");
    EXPECT_EQ(send("{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : 3, \"_destroy\" : true } ] } }"), "");
    EXPECT_EQ(send("{ \"idea_collection\" : { \"active_idea_id\" : 3 } }"), "");
    EXPECT_EQ(send("{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : 3, \"loops\" : [ { \"id\" : 1 } ] } ] } }"), "");
    EXPECT_EQ(send("getIdeaCollection"), empty);
    EXPECT_FALSE(engine.project()->isModified());
}

} // namespace
