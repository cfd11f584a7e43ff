// Idea names with quotes, backslashes, line breaks, script tags and path parts
// go from the page's rename message through the idea list reply, a save and
// an open, and come back unchanged without a file leaving the audio folder.

#include "engine/projectfile.h"
#include "support/enginetest.h"
#include "support/tempdir.h"

#include "enginefakes.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <json/reader.h>

namespace fs = std::filesystem;

namespace {

// A string as the page's JSON.stringify writes it: quotes, backslashes and
// control characters escaped, U+2028 and U+2029 left raw.
std::string stringify(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            out += std::string("\\") + char(c);
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else
            out += char(c);
    }
    return out + "\"";
}

std::vector<std::string> namesInReply(const std::string& reply)
{
    Json::Value root;
    EXPECT_TRUE(Json::Reader().parse(reply, root)) << reply;
    std::vector<std::string> names;
    for (const Json::Value& idea : root["idea_collection"]["ideas"])
        names.push_back(idea["name"].asString());
    return names;
}

class HostileTextTest : public EngineTest
{
protected:
    const std::vector<std::string> kNames = { "he said \"hi\"", "back\\slash\\", "line\nbreak\r\n",
        "line\xe2\x80\xa8separator\xe2\x80\xa9paragraph", "</script><script>alert(1)</script>", "../x",
        "../../../../etc/passwd", "/absolute/x", "C:\\x", "a/../../b", "tab\there", "\x01\x1f control",
        "' or ''='", "${x}`y`" };
    TempDir dir;
};

TEST_F(HostileTextTest, IdeaNamesTravelThroughTheApiAndDiskUnchangedAndStayInside)
{
    for (std::size_t i = 0; i < kNames.size(); ++i)
        addIdea(engine, "Idea", { makeLoop(engine, 128, constant(0.1f)) });
    const std::vector<Idea*> ideas = engine.ideaCollection()->ideas();
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        const std::string rename = "{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : "
            + std::to_string(ideas[i]->id()) + ", \"name\" : " + stringify(kNames[i]) + " } ] } }";
        send(rename);
    }
    EXPECT_EQ(namesInReply(send("getIdeaCollection")), kNames);

    const std::string doc = dir.file("Song.zub");
    ProjectFile file(&engine);
    ASSERT_EQ(file.save(doc), 0);
    const fs::path folder = fs::canonical(ProjectFile::audioFolder(doc, 0, ""));
    std::size_t numFiles = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        const fs::path path = fs::canonical(entry.path());
        const bool inside = path == fs::canonical(doc)
            || std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first == folder.end();
        EXPECT_TRUE(inside) << path;
        numFiles++;
    }
    EXPECT_EQ(numFiles, 2 + 4 * kNames.size()) << "document, folder, and per idea a mixdown, notes, folder, loop";

    ASSERT_EQ(file.open(doc, ""), 0);
    EXPECT_EQ(namesInReply(send("getIdeaCollection")), kNames);
}

} // namespace
