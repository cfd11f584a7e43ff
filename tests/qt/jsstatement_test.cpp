#include "qt/jsstatement.h"

#include <gtest/gtest.h>

namespace {

TEST(JsStatement, EscapesEverythingThatCouldEndTheLiteral)
{
    struct Case { QString in; QString out; };
    const Case cases[] = {
        { "plain", "plain" },
        { "a\nb", "a\\nb" },
        { "a\rb", "a\\rb" },
        { "say \"hi\"", "say \\\"hi\\\"" },
        { "back\\slash", "back\\\\slash" },
        { "it's", "it\\'s" },
        { QString("x") + QChar(0x2028) + "y" + QChar(0x2029), "x\\u2028y\\u2029" },
        { QString("tab\tbell") + QChar(7), "tab\\u0009bell\\u0007" },
        { "</script>", "</script>" }, // harmless inside a runJavaScript literal
        { QString::fromUtf8("Grüße ♪"), QString::fromUtf8("Grüße ♪") },
        { "", "" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(JsStatement::escapeForSingleQuotedLiteral(c.in), c.out) << c.in.toStdString();
}

TEST(JsStatement, BuildsTheHandlerCall)
{
    EXPECT_EQ(JsStatement::handleMsgCall("{ \"a\" : 'b' }"), "handleMsgFromQt4('{ \\\"a\\\" : \\'b\\' }'); null");
    EXPECT_EQ(JsStatement::handleMsgCall(""), "handleMsgFromQt4(''); null");
}

} // namespace
