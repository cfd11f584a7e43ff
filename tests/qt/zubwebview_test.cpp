#include "qt/jsmessageevent.h"
#include "qt/zubwebview.h"

#include "waitfor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QVariant>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

QVariant evaluate(ZubWebView& view, const QString& js)
{
    QVariant result;
    bool got = false;
    view.page()->runJavaScript(js, [&](const QVariant& v) { result = v; got = true; });
    waitFor([&] { return got; });
    return result;
}

class ZubWebViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        view.loadPage(MOTIFO_SOURCE_DIR "/tests/qt/fixtures/recorder.html");
        ASSERT_TRUE(waitFor([&] { return view.isPageReady(); })) << "the page never came up";
        ASSERT_TRUE(waitFor([&] { return evaluate(view, "window.initCount").toInt() == 1; }));
    }

    QStringList received()
    {
        const QString json = evaluate(view, "JSON.stringify(window.received)").toString();
        QStringList out;
        for (const auto& v : QJsonDocument::fromJson(json.toUtf8()).array())
            out << v.toString();
        return out;
    }

    ZubWebView view { nullptr, nullptr, false };
};

TEST_F(ZubWebViewTest, InstallSetsTheFlagBeforeCheckInit)
{
    EXPECT_TRUE(evaluate(view, "window.loaded_native === true").toBool());
}

// The page finds the content wherever this copy is installed, and names its version.
TEST_F(ZubWebViewTest, CheckInitKnowsTheVersionAndTheContentFolder)
{
    const QStringList known = evaluate(view, "window.knownAtInit").toStringList();
    ASSERT_EQ(known.size(), 2);
    EXPECT_EQ(known[0], MOTIFO_VERSION);
    EXPECT_EQ(known[1], QUrl::fromLocalFile(QDir::current().absoluteFilePath("res")).toString() + "/");
}

// Whatever the text holds, the page receives exactly that text.
TEST_F(ZubWebViewTest, HostileTextArrivesUnchanged)
{
    const std::vector<std::string> texts = {
        "{ \"idea\" : \"it's \\\"quoted\\\"\" }", "line\nfeed\r\nand\\back", "</script><script>alert(1)</script>",
        "\xE2\x80\xA8 and \xE2\x80\xA9", "'); window.pwned = true; ('", "", "tab\t\x01",
    };
    for (const std::string& t : texts)
        view.deliverMessage(t);
    ASSERT_TRUE(waitFor([&] { return received().size() == int(texts.size()); }));
    const QStringList got = received();
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(got[int(i)].toStdString(), texts[i]);
    EXPECT_FALSE(evaluate(view, "window.pwned === true").toBool());
}

TEST_F(ZubWebViewTest, MessagesPostedFromManyThreadsArriveInPostingOrder)
{
    constexpr int kThreads = 4, kEach = 250;
    std::mutex postOrder; // makes the global posting order observable
    int next = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                std::lock_guard<std::mutex> lock(postOrder);
                view.postMessage(std::to_string(next++));
            }
        });
    }
    for (auto& th : threads)
        th.join();
    ASSERT_TRUE(waitFor([&] { return received().size() == kThreads * kEach; }));
    const QStringList got = received();
    for (int i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i].toInt(), i);
}

TEST_F(ZubWebViewTest, OtherUserEventsAreNotTakenForMessages)
{
    QCoreApplication::postEvent(&view, new QEvent(JsMessageEvent::TYPE));
    view.postMessage("after");
    ASSERT_TRUE(waitFor([&] { return received().size() == 1; }));
    EXPECT_EQ(received().value(0), "after");
}

TEST_F(ZubWebViewTest, NativeObjectAnswers)
{
    EXPECT_FALSE(view.firstRun());
    EXPECT_TRUE(view.render());
    EXPECT_TRUE(view.save());
    EXPECT_TRUE(view.share());
    // Without an engine the bridge still answers every request, empty.
    EXPECT_EQ(view.handleMessage("getMetronome"), "");
}

// A minimised or hidden window draws nothing: its page is hidden (the page
// stops its clock), and visible again when the window comes back.
TEST_F(ZubWebViewTest, PageIsHiddenWhileItsWindowIsOffTheScreen)
{
    const auto visibility = [&] { return evaluate(view, "document.visibilityState").toString(); };
    view.show();
    ASSERT_TRUE(waitFor([&] { return visibility() == "visible"; }));
    view.showMinimized();
    EXPECT_TRUE(waitFor([&] { return visibility() == "hidden"; })) << "minimised";
    view.showNormal();
    EXPECT_TRUE(waitFor([&] { return visibility() == "visible"; })) << "restored";
    view.hide();
    EXPECT_TRUE(waitFor([&] { return visibility() == "hidden"; })) << "hidden";
}

// State pushed while the page still loads (the engine starts first) waits
// for the page's handler and reaches it in order before it asks for state.
TEST(ZubWebViewLoad, MessagesBeforeThePageIsUpArriveBeforeItsInit)
{
    ZubWebView view(nullptr, nullptr, false);
    view.loadPage(MOTIFO_SOURCE_DIR "/tests/qt/fixtures/recorder.html");
    view.postMessage("first");
    view.postMessage("second");
    ASSERT_TRUE(waitFor([&] { return view.isPageReady(); })) << "the page never came up";
    ASSERT_TRUE(waitFor([&] { return evaluate(view, "window.initCount").toInt() == 1; }));
    EXPECT_EQ(evaluate(view, "JSON.stringify(window.received)").toString(), R"(["first","second"])");
    EXPECT_EQ(evaluate(view, "window.receivedAtInit").toInt(), 2);
}

TEST(ZubWebViewLoad, MissingPageIsLoggedAndNeverInitialises)
{
    ZubWebView view(nullptr, nullptr, false);
    waitFor([&] { return view.isPageReady(); }); // the page beside the program, if built
    QString log;
    static QString* s_log = nullptr;
    s_log = &log;
    auto previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
        if (s_log)
            *s_log += m + "\n";
    });
    view.loadPage("/nonexistent/zub.html");
    waitFor([&] { return log.contains("Error loading page."); }, 15000);
    qInstallMessageHandler(previous);
    s_log = nullptr;
    EXPECT_TRUE(log.contains("Error loading page.")) << log.toStdString();
    EXPECT_FALSE(view.isPageReady());
}

} // namespace
