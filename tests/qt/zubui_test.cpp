#include "core/alignedfloats.h"
#include "engine/enginecontext.h"
#include "engine/project.h"
#include "engine/transport.h"
#include "engine/zubengine.h"
#include "formats/midireader.h"
#include "formats/wavereader.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"
#include "qt/applicationfinder.h"
#include "qt/dlgmidiexport.h"
#include "qt/filechooser.h"
#include "qt/midiexportlistwidget.h"
#include "qt/settings.h"
#include "qt/zubui.h"
#include "qt/zubwebview.h"

#include "waitfor.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Answers the next message box with `button` and remembers its texts.
struct BoxAnswer {
    QString text, informative, title;
    QList<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    bool shown = false;
};

std::shared_ptr<BoxAnswer> answerNextBox(QMessageBox::StandardButton button)
{
    auto answer = std::make_shared<BoxAnswer>();
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        answer->shown = true;
        answer->text = box->text();
        answer->informative = box->informativeText();
        answer->title = box->windowTitle();
        for (QAbstractButton* b : box->buttons())
            answer->buttons << box->standardButton(b);
        answer->defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        box->button(button)->click();
    });
    timer->start(10);
    return answer;
}

class ScriptedChooser : public FileChooser
{
public:
    QString openFileName(QWidget*, const QString& caption, const QString& dir, const QString& filter) override
    {
        asked << caption + "|" + dir + "|" + filter;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString saveFileName(QWidget* w, const QString& caption, const QString& dir, const QString& filter) override
    {
        return openFileName(w, caption, dir, filter);
    }
    QStringList answers;
    QStringList asked;
};

class ZubUITest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_DOCUMENTS_DIR", (home.path() + "/Documents").toUtf8());
        window = std::make_unique<ZubUI>(&context, nullptr, true);
        chooser = new ScriptedChooser;
        window->setFileChooser(chooser);
    }

    void loadRecorderPage()
    {
        ZubWebView* view = window->webView();
        view->loadPage(MOTIFO_SOURCE_DIR "/tests/qt/fixtures/recorder.html");
        ASSERT_TRUE(waitFor([&] { return view->isPageReady(); }));
    }

    QString evaluate(const QString& js)
    {
        QString result;
        bool got = false;
        window->webView()->page()->runJavaScript(js, [&](const QVariant& v) { result = v.toString(); got = true; });
        waitFor([&] { return got; });
        return result;
    }

    QString file(const QString& name) const { return dir.path() + "/" + name; }
    Project* project() const { return context.engine()->project(); }
    std::vector<Idea*> ideas() const { return context.engine()->ideaCollection()->ideas(); }
    // An idea of one loop of `frames` frames at a constant level, with one note.
    Idea* addIdea(const std::string& name, int frames, float level)
    {
        std::vector<float> data(2 * std::size_t(frames), level);
        std::shared_ptr<Loop> loop = context.engine()->loopPool()->createLoop();
        loop->copyFrom(data.data(), uint32_t(frames), 0);
        TimedMidiEventList notes;
        notes.addEvent(1000, MidiMessage::noteOn(100, 60, 0));
        notes.addEvent(9000, MidiMessage::noteOff(0, 60, 0));
        loop->setNotes(notes);
        Idea* idea = new Idea(context.engine()->loopPool());
        idea->setName(name);
        idea->addLoop(loop);
        context.engine()->ideaCollection()->addIdea(idea); // marks the project modified
        return idea;
    }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(file(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }

    QTemporaryDir home;
    QTemporaryDir dir;
    EngineContext context { nullptr };
    std::unique_ptr<ZubUI> window;
    ScriptedChooser* chooser = nullptr;
};

QStringList actionTexts(const QMenu* menu)
{
    QStringList out;
    for (const QAction* a : menu->actions())
        out << (a->isSeparator() ? "-" : a->text());
    return out;
}

TEST_F(ZubUITest, MenusHoldTheActionsInOrder)
{
    QStringList bar;
    for (const QAction* a : window->menuBar()->actions())
        bar << a->text();
    EXPECT_EQ(bar, QStringList({ "File", "Options" }));
    const auto* file = window->findChild<QMenu*>("menuFile");
    EXPECT_EQ(actionTexts(file),
        QStringList({ "New Zub", "Open Zub...", "-", "Save", "Save As...", "-", "Instant Export", "-", "Quit" }));
    const QStringList exports = actionTexts(window->findChild<QMenu*>("menuExport"));
    const QStringList fixed = { "Ableton Live...", "FL Studio...", "Pro Tools...", "GarageBand...", "Logic Pro...",
        "Cubase...", "Studio One...", "REAPER..." };
    EXPECT_EQ(exports.mid(0, 8), fixed);
    for (const QString& extra : exports.mid(8)) // found Linux DAWs only
        EXPECT_TRUE(extra == "Ardour..." || extra == "Bitwig Studio...") << extra.toStdString();
    EXPECT_EQ(actionTexts(window->findChild<QMenu*>("menuOptions")), QStringList({ "Preferences..." }));

    struct Case { const char* name; QString shortcut; bool enabled; QAction::MenuRole role; };
    const Case cases[] = {
        { "actionNewZub", "", true, QAction::NoRole },
        { "actionOpenZub", "Ctrl+O", true, QAction::NoRole },
        { "actionSaveZub", "Ctrl+S", true, QAction::NoRole },
        { "actionSaveAs", "", true, QAction::NoRole },
        { "actionQuit", "", true, QAction::QuitRole },
        { "actionPreferences", "", true, QAction::PreferencesRole },
        { "actionGarageBand", "", false, QAction::NoRole },
        { "actionLogic", "", false, QAction::NoRole },
        { "actionReaper", "", true, QAction::NoRole },
    };
    for (const Case& c : cases) {
        QAction* a = window->action(c.name);
        ASSERT_TRUE(a) << c.name;
        EXPECT_EQ(a->shortcut().toString(), c.shortcut) << c.name;
        EXPECT_EQ(a->isEnabled(), c.enabled) << c.name;
        EXPECT_EQ(a->menuRole(), c.role) << c.name;
    }
    EXPECT_EQ(window->windowTitle(), "Motifo");
    EXPECT_EQ(window->size(), QSize(1000, 674));
}

TEST_F(ZubUITest, FirstRunCreatesTheDocumentsFolderAndStartsOpenThere)
{
    EXPECT_TRUE(QFileInfo(window->documentsFolder()).isDir());
    EXPECT_EQ(Settings::instance().value("last_zub_load_path"), window->documentsFolder());
    window->openZub(); // cancelled
    ASSERT_EQ(chooser->asked.size(), 1);
    EXPECT_EQ(chooser->asked[0], "Open Existing Zub...|" + window->documentsFolder() + "|*.zub");
}

TEST_F(ZubUITest, NewOnAModifiedProjectAsksAndCancelKeepsEverything)
{
    loadRecorderPage();
    evaluate("window.calls = []; ['showIdeaSetup','hideFreestyleRecorder','hideCredits','hideHelp',"
             "'hideFreestyleTempoScreen','hideBeatPickerPopup','hideInstrumentPicker','hideMainMenu']"
             ".forEach(function (n) { window[n] = function () { window.calls.push(n); }; }); 1");
    addIdea("Verse", 1000, 0.1f);
    ASSERT_TRUE(window->isWindowModified()) << "the project's notification reaches the window";
    auto cancel = answerNextBox(QMessageBox::Cancel);
    window->newZub();
    ASSERT_TRUE(cancel->shown);
    EXPECT_EQ(cancel->title, "Motifo");
    EXPECT_EQ(cancel->text, "Do you want to save your changes to your song?");
    EXPECT_EQ(cancel->informative, "Your changes will be lost if you don't save them.");
    EXPECT_EQ(cancel->buttons.size(), 3);
    EXPECT_EQ(cancel->defaultButton, QMessageBox::Save);
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_EQ(ideas().size(), 1u);
    EXPECT_EQ(evaluate("window.calls.join(',')"), "");

    auto discard = answerNextBox(QMessageBox::Discard);
    window->newZub();
    ASSERT_TRUE(discard->shown);
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_TRUE(ideas().empty()) << "the engine's project was cleared";
    EXPECT_TRUE(waitFor([&] { return evaluate("window.calls.length") == "8"; }));
    EXPECT_EQ(evaluate("window.calls.join(',')"),
        "showIdeaSetup,hideFreestyleRecorder,hideCredits,hideHelp,hideFreestyleTempoScreen,"
        "hideBeatPickerPopup,hideInstrumentPicker,hideMainMenu");

    // Unmodified: no prompt at all.
    window->newZub();
    EXPECT_TRUE(waitFor([&] { return evaluate("window.calls.length") == "16"; }));
}

TEST_F(ZubUITest, SaveAsThenOpenGivesBackTheProject)
{
    loadRecorderPage();
    context.engine()->setTempo(96);
    addIdea("Verse", 2000, 0.25f);
    addIdea("a/b", 1000, -0.5f);
    chooser->answers << file("My Song");
    EXPECT_EQ(window->saveZub(), 0);
    EXPECT_EQ(window->projectFileName(), file("My Song.zub"));
    EXPECT_EQ(window->windowFilePath(), file("My Song.zub"));
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_FALSE(project()->isModified());
    EXPECT_TRUE(QFileInfo(file("My Song - Audio and MIDI/Verse/loop0.wav")).isFile());
    EXPECT_TRUE(QFileInfo(file("My Song - Audio and MIDI/a_b.mid")).isFile());

    // Save goes to the same file without asking.
    addIdea("Chorus", 500, 0.3f);
    EXPECT_TRUE(window->isWindowModified());
    window->action("actionSaveZub")->trigger();
    EXPECT_EQ(chooser->asked.size(), 1);
    EXPECT_FALSE(window->isWindowModified());

    context.engine()->setTempo(60);
    window->newZub();
    ASSERT_TRUE(ideas().empty());
    chooser->answers << file("My Song.zub");
    window->openZub();
    EXPECT_FLOAT_EQ(context.engine()->transport()->bpm(), 96.0f);
    const std::vector<Idea*> loaded = ideas();
    ASSERT_EQ(loaded.size(), 3u);
    const char* names[] = { "Verse", "a/b", "Chorus" };
    const int frames[] = { 2000, 1000, 500 };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(loaded[i]->name(), names[i]);
        ASSERT_EQ(loaded[i]->loops().size(), 1u);
        EXPECT_EQ(loaded[i]->loops()[0]->numFrames(), frames[i]);
        EXPECT_EQ(loaded[i]->loops()[0]->notes().events().size(), 2u);
    }
    EXPECT_NEAR(loaded[1]->loops()[0]->data()[0], -0.5f, 1e-3f);
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_FALSE(project()->isModified());
    EXPECT_EQ(window->projectFileName(), file("My Song.zub"));
    // Besides the song files' progress, the page hears that a song was loaded.
    const QString loads = "window.received.filter((m) => !m.includes('song_file'))";
    ASSERT_TRUE(waitFor([&] { return evaluate(loads + ".length") != "0"; }));
    EXPECT_EQ(evaluate(loads + ".pop()"), "{ \"idea_collection\" : { \"just_loaded\" : \"true\" } }");
}

TEST_F(ZubUITest, CancelledOrFailedSavesKeepTheProjectModified)
{
    project()->setModified(true);
    EXPECT_NE(window->saveZub(), 0); // cancelled: the chooser has no answer
    EXPECT_TRUE(window->isWindowModified());

    write("not a folder", "x");
    chooser->answers << file("not a folder/song.zub");
    auto ok = answerNextBox(QMessageBox::Ok);
    EXPECT_NE(window->saveZub(), 0);
    ASSERT_TRUE(ok->shown) << "the failure was not shown";
    EXPECT_TRUE(ok->text.contains("could not be saved"));
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_TRUE(project()->isModified());
    EXPECT_TRUE(window->projectFileName().isEmpty());
}

TEST_F(ZubUITest, PromptSaveThatFailsKeepsTheProject)
{
    window->projectModified(true);
    auto save = answerNextBox(QMessageBox::Save); // then the save dialog is cancelled
    EXPECT_FALSE(window->discardChangesConfirmation());
    EXPECT_TRUE(save->shown);
    EXPECT_TRUE(window->isWindowModified());

    chooser->answers << file("kept.zub");
    auto saveForReal = answerNextBox(QMessageBox::Save);
    EXPECT_TRUE(window->discardChangesConfirmation());
    EXPECT_TRUE(QFileInfo::exists(file("kept.zub")));
}

TEST_F(ZubUITest, OpenReadsTheTempoOrFallsBack)
{
    loadRecorderPage();
    struct Case { QByteArray text; float bpm; };
    const Case cases[] = {
        { "{ \"project\" : { \"bpm\" : 95.5 } }", 95.5f },
        { "// a comment\n{ \"project\" : { \"bpm\" : 140, \"mac_sandbox_guid\" : 0 } }", 140.0f },
        { "this is not json", 120.0f },
        { "{ \"project\" : { } }", 120.0f },
        { "{ \"project\" : { \"bpm\" : \"fast\" } }", 120.0f },
        { "{ \"project\" : { \"bpm\" : 999 } }", 120.0f },
        { "[1, 2]", 120.0f },
    };
    int n = 0;
    for (const Case& c : cases) {
        context.engine()->setTempo(77);
        const QString name = QString("song%1.zub").arg(n++);
        write(name, c.text);
        project()->setModified(true); // opening never asks
        chooser->answers << file(name);
        window->openZub();
        EXPECT_FLOAT_EQ(context.engine()->transport()->bpm(), c.bpm) << c.text.toStdString();
        EXPECT_EQ(window->projectFileName(), file(name));
        EXPECT_EQ(window->windowFilePath(), file(name));
        EXPECT_FALSE(window->isWindowModified());
    }
    EXPECT_EQ(Settings::instance().value("last_zub_load_path"), QFileInfo(dir.path()).absoluteFilePath());
    const QString loads = "window.received.filter((m) => !m.includes('song_file'))";
    ASSERT_TRUE(waitFor([&] { return evaluate(loads + ".length") == QString::number(n); }));
    const QJsonDocument first = QJsonDocument::fromJson(evaluate(loads + "[0]").toUtf8());
    EXPECT_EQ(first["idea_collection"]["just_loaded"].toString(), "true");

    // A cancelled dialog changes nothing.
    window->projectModified(true);
    window->openZub();
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_EQ(window->projectFileName(), file(QString("song%1.zub").arg(n - 1)));
}

TEST_F(ZubUITest, NotificationsDriveTheWindowState)
{
    window->projectModified(false);
    EXPECT_FALSE(window->isWindowModified());
    window->projectModified(true);
    EXPECT_TRUE(window->isWindowModified());
    window->projectCleared();
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_TRUE(window->windowFilePath().isEmpty());
    EXPECT_EQ(window->windowTitle(), "Motifo");
}

TEST_F(ZubUITest, ClosingAModifiedProjectAsks)
{
    project()->setModified(true);
    auto cancel = answerNextBox(QMessageBox::Cancel);
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(cancel->shown);
    EXPECT_TRUE(window->isVisible());

    auto discard = answerNextBox(QMessageBox::Discard);
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(discard->shown);
}

TEST_F(ZubUITest, RenderToAnUnwritablePlaceIsReported)
{
    window->saveRender(); // cancelled: nothing happens
    write("not a folder", "x");
    chooser->answers << file("not a folder/mix.wav");
    auto ok = answerNextBox(QMessageBox::Ok);
    window->saveRender();
    EXPECT_TRUE(ok->shown);
    EXPECT_EQ(chooser->asked.value(1), "Save Render As...||*.wav");
}

TEST_F(ZubUITest, SaveRenderWritesTheActiveIdeaOrReportsThereIsNothing)
{
    write("kept.wav", "an older render");
    chooser->answers << file("kept.wav");
    auto nothing = answerNextBox(QMessageBox::Ok);
    window->saveRender();
    ASSERT_TRUE(nothing->shown);
    EXPECT_TRUE(nothing->text.contains("nothing to render"));
    QFile kept(file("kept.wav"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "an older render") << "a failed render leaves the file alone";

    addIdea("Verse", 1000, 0.4f);
    chooser->answers << file("mix");
    window->saveRender();
    EXPECT_EQ(QFileInfo(file("mix")).size(), 44 + 4000) << "no extension is added";
    float* samples = nullptr;
    int n = 0;
    ASSERT_EQ(readWav(file("mix").toStdString(), samples, n), 0);
    EXPECT_NEAR(samples[10], 0.2f, 1e-3f) << "the idea at half gain";
    freeAlignedFloats(samples);
}

TEST_F(ZubUITest, MidiExportWritesOneFilePerIdeaAndOffersThem)
{
    addIdea("Verse", 44100, 0.1f);
    addIdea("../Chorus", 22050, 0.1f);
    context.engine()->ideaCollection()->addIdea(new Idea(context.engine()->loopPool())); // no loops, no file
    QStringList offered;
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<DlgMidiExport*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        for (int i = 1; i < dialog->listWidget()->count(); ++i)
            offered << dialog->listWidget()->item(i)->text();
        dialog->reject();
    });
    timer->start(10);
    window->showMidiExportDialog(ApplicationFinder::REAPER);
    EXPECT_EQ(offered, QStringList({ "Verse", "___Chorus" }));
    for (const QString& name : offered) {
        MidiReader reader;
        std::vector<TimedMidiEventList> tracks;
        ASSERT_EQ(reader.open((window->midiExportFolder() + "/" + name + ".mid").toStdString()), 0) << name.toStdString();
        ASSERT_EQ(reader.read(tracks), 0);
        ASSERT_EQ(tracks.size(), 1u);
        EXPECT_EQ(tracks[0].events().size(), 2u);
    }
}

} // namespace
