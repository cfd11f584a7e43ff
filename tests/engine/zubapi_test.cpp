#include "engine/metronome.h"
#include "engine/tokenizer.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"

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

class ZubApiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Transport::instance().setPosition(0);
        Transport::instance().setBpm(120.0f);
    }
    std::string send(const std::string& m)
    {
        api.handleMessage(m);
        return api.reply();
    }
    ZubEngine engine { nullptr };
    ZubApi api { &engine };
};

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
    };
    for (const char* m : messages)
        EXPECT_NO_THROW(send(m)) << m;
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 120.0f);
}

// Commands whose components are not in the engine yet answer "".
TEST_F(ZubApiTest, PendingCommandsAnswerEmpty)
{
    for (const char* m : { "getLoopRecorder", "getFreestyleRecorder", "getFreestyleTempoDetector",
             "getIdeaCollection", "createLoopFromLoopRecorder", "createLoopFromFreestyleTempoDetector",
             "getDrumLoopCollection", "clearDrumLoop",
             "stopDrumLoop", "playDrumLoop", "clearProject", "discardChangesConfirmation", "getProject",
             "render", "cloneIdea:1", "loadDrumLoopByIndex:0" })
        EXPECT_EQ(send(m), "") << m;
}

} // namespace
