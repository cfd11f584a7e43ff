#include "core/alignedfloats.h"
#include "engine/enginecontext.h"
#include "engine/project.h"
#include "engine/songfiles.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "formats/midireader.h"
#include "formats/wavereader.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"
#include "qt/applicationfinder.h"
#include "qt/autosave.h"
#include "qt/dlgmidiexport.h"
#include "qt/filechooser.h"
#include "qt/midiexportlistwidget.h"
#include "qt/settings.h"
#include "qt/zubapp.h"
#include "qt/zubui.h"
#include "qt/zubwebview.h"

#include "waitfor.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QDropEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
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

// The answer is given only while the returned object lives.
std::shared_ptr<BoxAnswer> answerNextBox(QMessageBox::StandardButton button)
{
    auto answer = std::make_shared<BoxAnswer>();
    std::weak_ptr<BoxAnswer> pending = answer;
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [=] {
        const std::shared_ptr<BoxAnswer> a = pending.lock();
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (a && !box)
            return;
        timer->stop();
        timer->deleteLater();
        if (!a)
            return;
        a->shown = true;
        a->text = box->text();
        a->informative = box->informativeText();
        a->title = box->windowTitle();
        for (QAbstractButton* b : box->buttons())
            a->buttons << box->standardButton(b);
        a->defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        if (QAbstractButton* b = box->button(button))
            b->click();
        else
            box->reject();
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
    QString saveFileName(QWidget* w, const QString& caption, const QString& dir, const QString& filter,
        QFileDialog::Options options) override
    {
        saveOptions << options;
        return openFileName(w, caption, dir, filter);
    }
    QList<QFileDialog::Options> saveOptions;
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
    // The messages of one key the page received, parsed.
    QList<QJsonObject> pageMessages(const QString& key)
    {
        QList<QJsonObject> out;
        const QJsonArray all = QJsonDocument::fromJson(evaluate("JSON.stringify(window.received)").toUtf8()).array();
        for (const QJsonValue& text : all) {
            const QJsonObject message = QJsonDocument::fromJson(text.toString().toUtf8()).object();
            if (message.contains(key))
                out << message[key].toObject();
        }
        return out;
    }
    // Whether the last document state the page was told (soon) names this
    // song and this saved state.
    bool pageShows(const QString& name, const QString& path, bool modified)
    {
        return waitFor([&] {
            const QList<QJsonObject> states = pageMessages("document");
            return !states.isEmpty() && states.last()["name"].toString() == name
                && states.last()["file"].toString() == path && states.last()["modified"].toBool() == modified;
        }, 5000);
    }
    // A saved song of one idea, "Old", written by the program itself.
    void saveSong(const QString& name, float level = 0.3f)
    {
        addIdea("Old", 400, level);
        chooser->answers << file(name);
        ASSERT_EQ(window->saveZub(), 0);
        context.engine()->clearProject();
    }

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
    EXPECT_EQ(bar, QStringList({ "File", "Edit", "Options", "Help" }));
    const auto* file = window->findChild<QMenu*>("menuFile");
    EXPECT_EQ(actionTexts(file),
        QStringList({ "New Zub", "Open Zub...", "Open Recent", "-", "Save", "Save As...", "-",
            "Export Idea as WAV...", "Export Song as WAV...", "-", "Instant Export", "-", "Quit" }));
    const QStringList exports = actionTexts(window->findChild<QMenu*>("menuExport"));
    const QStringList fixed = { "Ableton Live...", "FL Studio...", "Pro Tools...", "GarageBand...", "Logic Pro...",
        "Cubase...", "Studio One...", "REAPER..." };
    EXPECT_EQ(exports.mid(0, 8), fixed);
    for (const QString& extra : exports.mid(8)) // found Linux DAWs only
        EXPECT_TRUE(extra == "Ardour..." || extra == "Bitwig Studio...") << extra.toStdString();
    EXPECT_EQ(actionTexts(window->findChild<QMenu*>("menuEdit")), QStringList({ "Undo", "Redo" }));
    EXPECT_EQ(actionTexts(window->findChild<QMenu*>("menuOptions")), QStringList({ "Preferences..." }));
    EXPECT_EQ(actionTexts(window->findChild<QMenu*>("menuHelp")), QStringList({ "Open log folder" }));

    struct Case { const char* name; QString shortcut; bool enabled; QAction::MenuRole role; };
    const Case cases[] = {
        { "actionNewZub", "", true, QAction::NoRole },
        { "actionOpenZub", "Ctrl+O", true, QAction::NoRole },
        { "actionSaveZub", "Ctrl+S", true, QAction::NoRole },
        { "actionSaveAs", "", true, QAction::NoRole },
        { "actionQuit", "", true, QAction::QuitRole },
        { "actionUndo", "Ctrl+Z", false, QAction::NoRole },
        { "actionRedo", "Ctrl+Shift+Z", false, QAction::NoRole },
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
    EXPECT_EQ(window->windowTitle(), "Untitled[*] — Motifo");
    // Never below the size the page needs, never above the default.
    EXPECT_EQ(window->minimumSize(), ZubUI::MINIMUM_SIZE);
    EXPECT_EQ(window->size(), window->size().expandedTo(ZubUI::MINIMUM_SIZE).boundedTo(ZubUI::DEFAULT_SIZE));
}

// Receives the URLs the window asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

TEST_F(ZubUITest, HelpOpensTheFolderThatHoldsTheLog)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    window->action("actionOpenLogFolder")->trigger();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.urls.size(), 1);
    const QString folder = catcher.urls[0].toLocalFile();
    EXPECT_EQ(folder, ZubApp::logFolder());
    EXPECT_TRUE(folder.endsWith("/Quavertone/Motifo")) << folder.toStdString();
    EXPECT_TRUE(QFileInfo(folder).isDir());
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

    addIdea("Bridge", 300, 0.1f);
    auto discard = answerNextBox(QMessageBox::Discard); // the new idea is a change
    window->newZub();
    ASSERT_TRUE(discard->shown);
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
    ASSERT_TRUE(waitFor([&] { return !pageMessages("idea_collection").isEmpty(); }));
    EXPECT_EQ(pageMessages("idea_collection").last()["just_loaded"].toString(), "true");
}

// "x" is saved as "x.zub": that name is the one checked, and another song
// there is replaced only when the user says so.
TEST_F(ZubUITest, SaveAsOntoAnExistingSongAsksBeforeReplacingIt)
{
    saveSong("Other.zub", 0.3f);
    const QByteArray before = [&] { QFile f(file("Other.zub")); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    addIdea("Mine", 800, 0.6f);

    struct Case { QString typed; QMessageBox::StandardButton answer; int result; };
    const Case cases[] = {
        { file("Other"), QMessageBox::Cancel, 1 },
        { file("Other.zub"), QMessageBox::Cancel, 1 },
        { file("Other"), QMessageBox::Yes, 0 },
    };
    for (const Case& c : cases) {
        chooser->answers << c.typed;
        auto box = answerNextBox(c.answer);
        EXPECT_EQ(window->saveZub(), c.result) << c.typed.toStdString();
        ASSERT_TRUE(box->shown) << c.typed.toStdString();
        EXPECT_EQ(box->text, "“Other.zub” already exists. Do you want to replace it?");
        EXPECT_TRUE(box->informative.contains("Other - Audio and MIDI"));
        EXPECT_EQ(box->defaultButton, QMessageBox::Cancel);
        EXPECT_EQ(chooser->saveOptions.last() & QFileDialog::DontConfirmOverwrite, QFileDialog::DontConfirmOverwrite)
            << "the dialog asks nothing itself: the name it checks is not the one written";
        if (c.result != 0) {
            QFile f(file("Other.zub"));
            f.open(QIODevice::ReadOnly);
            EXPECT_EQ(f.readAll(), before);
            EXPECT_TRUE(QFileInfo(file("Other - Audio and MIDI/Old/loop0.wav")).isFile());
            EXPECT_TRUE(window->projectFileName().isEmpty());
            EXPECT_TRUE(window->isWindowModified());
        }
    }
    EXPECT_FALSE(QFileInfo::exists(file("Other - Audio and MIDI/Old"))) << "replaced after the yes";
    EXPECT_TRUE(QFileInfo(file("Other - Audio and MIDI/Mine/loop0.wav")).isFile());
    EXPECT_EQ(window->projectFileName(), file("Other.zub"));

    // The song's own name, and a new name, need no question.
    for (const QString& name : { file("Other.zub"), file("New") }) {
        addIdea("More", 100, 0.1f);
        chooser->answers << name;
        auto none = answerNextBox(QMessageBox::Cancel);
        EXPECT_EQ(window->saveZub(), 0) << name.toStdString();
        EXPECT_FALSE(none->shown) << name.toStdString();
    }
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
    EXPECT_TRUE(ok->informative.startsWith("Not a directory.")) << ok->informative.toStdString();
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_TRUE(project()->isModified());
    EXPECT_TRUE(window->projectFileName().isEmpty());
}

TEST_F(ZubUITest, PromptSaveThatFailsKeepsTheProject)
{
    project()->setModified(true);
    auto save = answerNextBox(QMessageBox::Save); // then the save dialog is cancelled
    EXPECT_FALSE(window->discardChangesConfirmation());
    EXPECT_TRUE(save->shown);
    EXPECT_TRUE(window->isWindowModified());

    chooser->answers << file("kept.zub");
    auto saveForReal = answerNextBox(QMessageBox::Save);
    EXPECT_TRUE(window->discardChangesConfirmation());
    EXPECT_TRUE(QFileInfo::exists(file("kept.zub")));

    // A song with a name is saved there without a dialog.
    project()->setModified(true);
    auto saveAgain = answerNextBox(QMessageBox::Save);
    EXPECT_TRUE(window->discardChangesConfirmation());
    EXPECT_EQ(chooser->asked.size(), 2) << "no third file dialog";
    EXPECT_FALSE(project()->isModified());
}

// A song handed in from outside (the command line, a later launch) asks
// before it replaces unsaved changes.
TEST_F(ZubUITest, OpeningASongByNameAsksAboutUnsavedChanges)
{
    write("outside.zub", "{ \"project\" : { \"bpm\" : 133 } }");
    context.engine()->setTempo(77);
    project()->setModified(true);
    auto cancel = answerNextBox(QMessageBox::Cancel);
    window->openDocument(file("outside.zub"));
    EXPECT_TRUE(cancel->shown);
    EXPECT_FLOAT_EQ(context.engine()->transport()->bpm(), 77.0f);
    EXPECT_TRUE(project()->isModified());

    auto discard = answerNextBox(QMessageBox::Discard);
    window->openDocument(file("outside.zub"));
    EXPECT_TRUE(discard->shown);
    EXPECT_FLOAT_EQ(context.engine()->transport()->bpm(), 133.0f);
    EXPECT_EQ(window->projectFileName(), file("outside.zub"));
}

TEST_F(ZubUITest, OpenReadsTheTempoOrFallsBack)
{
    loadRecorderPage();
    struct Case { QByteArray text; float bpm; };
    const Case cases[] = {
        { "{ \"project\" : { \"bpm\" : 95.5 } }", 95.5f },
        { "// a comment\n{ \"project\" : { \"bpm\" : 140, \"mac_sandbox_guid\" : 0 } }", 140.0f },
        { "{ \"project\" : { } }", 120.0f },
        { "{ \"project\" : { \"bpm\" : \"fast\" } }", 120.0f },
        { "{ \"project\" : { \"bpm\" : 999 } }", 120.0f },
    };
    int n = 0;
    for (const Case& c : cases) {
        context.engine()->setTempo(77);
        project()->setModified(false);
        const QString name = QString("song%1.zub").arg(n++);
        write(name, c.text);
        chooser->answers << file(name);
        window->openZub();
        EXPECT_FLOAT_EQ(context.engine()->transport()->bpm(), c.bpm) << c.text.toStdString();
        EXPECT_EQ(window->projectFileName(), file(name));
        EXPECT_EQ(window->windowFilePath(), file(name));
        EXPECT_FALSE(window->isWindowModified());
    }
    EXPECT_EQ(Settings::instance().value("last_zub_load_path"), QFileInfo(dir.path()).absoluteFilePath());
    ASSERT_TRUE(waitFor([&] { return pageMessages("idea_collection").size() == n; }));
    EXPECT_EQ(pageMessages("idea_collection")[0]["just_loaded"].toString(), "true");

    // A cancelled dialog changes nothing.
    project()->setModified(true);
    window->openZub();
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_EQ(window->projectFileName(), file(QString("song%1.zub").arg(n - 1)));
}

// Opening over unsaved work asks first; Cancel keeps all of it.
TEST_F(ZubUITest, OpenWithUnsavedChangesAsksAndCancelKeepsEverything)
{
    saveSong("Saved.zub");
    chooser->answers << file("Current.zub");
    addIdea("Current", 300, 0.1f);
    ASSERT_EQ(window->saveZub(), 0);
    addIdea("Unsaved", 300, 0.2f);

    chooser->answers << file("Saved.zub");
    auto cancel = answerNextBox(QMessageBox::Cancel);
    window->openZub();
    ASSERT_TRUE(cancel->shown);
    EXPECT_EQ(cancel->text, "Do you want to save your changes to your song?");
    ASSERT_EQ(ideas().size(), 2u);
    EXPECT_EQ(ideas()[1]->name(), "Unsaved");
    EXPECT_TRUE(project()->isModified());
    EXPECT_EQ(window->projectFileName(), file("Current.zub"));
    EXPECT_EQ(window->windowTitle(), "Current[*] — Motifo");

    chooser->answers << file("Saved.zub");
    auto discard = answerNextBox(QMessageBox::Discard);
    window->openZub();
    ASSERT_TRUE(discard->shown);
    ASSERT_EQ(ideas().size(), 1u);
    EXPECT_EQ(ideas()[0]->name(), "Old");
    EXPECT_EQ(window->projectFileName(), file("Saved.zub"));
}

// A document that cannot be opened is named with the reason; nothing is
// asked about unsaved work, and the song that is open stays as it was.
TEST_F(ZubUITest, AnUnreadableDocumentIsReportedAndTheSongStays)
{
    loadRecorderPage();
    chooser->answers << file("Current.zub");
    addIdea("Current", 300, 0.1f);
    ASSERT_EQ(window->saveZub(), 0);
    addIdea("Unsaved", 300, 0.2f);
    QDir().mkpath(file("folder.zub"));
    write("text.zub", "this is not a song");
    write("array.zub", "[1, 2]");
    struct Case { QString name; QString reason; };
    const Case cases[] = {
        { "missing.zub", "it cannot be read (No such file or directory)" },
        { "folder.zub", "it is a folder, not a song" },
        { "text.zub", "it is not a Motifo song, or it is damaged" },
        { "array.zub", "it is not a Motifo song, or it is damaged" },
    };
    for (const Case& c : cases) {
        chooser->answers << file(c.name);
        auto ok = answerNextBox(QMessageBox::Ok);
        window->openZub();
        ASSERT_TRUE(ok->shown) << c.name.toStdString();
        EXPECT_EQ(ok->text, "“" + c.name + "” could not be opened: " + c.reason + ".");
        EXPECT_EQ(ok->informative, "Your current song is still open and unchanged.");
        EXPECT_EQ(ok->buttons, QList<QMessageBox::StandardButton>({ QMessageBox::Ok })) << "no question about saving";
    }
    ASSERT_EQ(ideas().size(), 2u);
    EXPECT_TRUE(project()->isModified());
    EXPECT_EQ(window->projectFileName(), file("Current.zub"));
    EXPECT_TRUE(pageMessages("idea_collection").isEmpty()) << "the page was told of no new song";

    // Save still writes the song that is open, to its own file.
    window->action("actionSaveZub")->trigger();
    EXPECT_FALSE(project()->isModified());
    QFile text(file("text.zub"));
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_EQ(text.readAll(), "this is not a song");
}

// A damaged document whose audio folder holds ideas can give those back.
TEST_F(ZubUITest, ADamagedSongOffersTheIdeasOfItsAudioFolder)
{
    saveSong("Damaged.zub");
    write("Damaged.zub", "{ \"project\" : ");
    addIdea("Current", 300, 0.1f);
    project()->setModified(false);

    chooser->answers << file("Damaged.zub");
    auto cancel = answerNextBox(QMessageBox::Cancel);
    window->openZub();
    ASSERT_TRUE(cancel->shown);
    EXPECT_EQ(cancel->text, "“Damaged.zub” could not be read: it is not a Motifo song, or it is damaged.");
    ASSERT_EQ(ideas().size(), 1u);
    EXPECT_EQ(ideas()[0]->name(), "Current");

    chooser->answers << file("Damaged.zub");
    auto open = answerNextBox(QMessageBox::Open);
    window->openZub();
    ASSERT_TRUE(open->shown);
    ASSERT_EQ(ideas().size(), 1u);
    EXPECT_EQ(ideas()[0]->name(), "Old");
    EXPECT_EQ(window->projectFileName(), file("Damaged.zub"));
}

// The title and the page follow every change, save, open and new song.
TEST_F(ZubUITest, TheTitleAndThePageShowTheSongAndItsSavedState)
{
    loadRecorderPage();
    EXPECT_TRUE(pageShows("Untitled", "", false)) << "told once the page is up";
    addIdea("Verse", 300, 0.1f);
    EXPECT_EQ(window->windowTitle(), "Untitled[*] — Motifo");
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_TRUE(pageShows("Untitled", "", true));

    chooser->answers << file("My [*] Song");
    ASSERT_EQ(window->saveZub(), 0);
    EXPECT_EQ(window->windowTitle(), "My [*][*] Song[*] — Motifo");
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_TRUE(pageShows("My [*] Song", file("My [*] Song.zub"), false));

    addIdea("Chorus", 300, 0.2f);
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_TRUE(pageShows("My [*] Song", file("My [*] Song.zub"), true));
    window->webView()->save(); // the page's Save
    EXPECT_TRUE(pageShows("My [*] Song", file("My [*] Song.zub"), false));
    EXPECT_FALSE(project()->isModified());

    window->newZub();
    EXPECT_EQ(window->windowTitle(), "Untitled[*] — Motifo");
    EXPECT_TRUE(pageShows("Untitled", "", false));

    chooser->answers << file("My [*] Song.zub");
    window->webView()->open(); // the page's Open
    EXPECT_TRUE(pageShows("My [*] Song", file("My [*] Song.zub"), false));
    EXPECT_EQ(ideas().size(), 2u);
}

TEST_F(ZubUITest, NotificationsDriveTheWindowState)
{
    project()->setModified(true);
    EXPECT_TRUE(window->isWindowModified());
    project()->setModified(false);
    EXPECT_FALSE(window->isWindowModified());
    project()->setModified(true);
    EXPECT_TRUE(window->isWindowModified());
    project()->setModified(false);
    window->projectCleared();
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_TRUE(window->windowFilePath().isEmpty());
    EXPECT_EQ(window->windowTitle(), "Untitled[*] — Motifo");
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

// While one question waits for an answer, the page may still ask for
// another command: it is refused, not stacked on top.
TEST_F(ZubUITest, OneDocumentCommandAtATime)
{
    project()->setModified(true);
    bool pageConfirmed = true;
    int chooserAskedInside = -1;
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        window->openZub();
        window->webView()->saveAs();
        QCoreApplication::processEvents();
        pageConfirmed = project()->confirmDiscard(); // the page's own "New song"
        chooserAskedInside = chooser->asked.size();
        box->button(QMessageBox::Cancel)->click();
    });
    timer->start(10);
    window->newZub();
    EXPECT_EQ(chooserAskedInside, 0) << "no file dialog opened over the question";
    EXPECT_FALSE(pageConfirmed) << "no second question";
    EXPECT_TRUE(project()->isModified());
    QCoreApplication::processEvents();
    EXPECT_EQ(chooser->asked.size(), 0) << "nothing was left to run afterwards";
}

// The songs opened or saved last, newest first; gone ones leave with a note.
TEST_F(ZubUITest, OpenRecentListsTheLastSongs)
{
    window->recentSongs().clear();
    for (int i = 0; i < 9; ++i)
        saveSong(QString("Song %1.zub").arg(i));
    auto* menu = window->findChild<QMenu*>("menuRecent");
    QMetaObject::invokeMethod(menu, "aboutToShow");
    QStringList expected;
    for (int i = 8; i > 0; --i)
        expected << QString("&%1 Song %2").arg(9 - i).arg(i);
    EXPECT_EQ(actionTexts(menu).mid(0, 8), expected);
    EXPECT_EQ(Settings::instance().value("recent_songs").split('\n').size(), 8);
    QFile stored(Settings::filePath());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_TRUE(stored.readAll().contains("Song 8.zub")) << "on disk at once, not only at exit";

    QFile::remove(file("Song 5.zub"));
    QMetaObject::invokeMethod(menu, "aboutToShow");
    EXPECT_EQ(actionTexts(menu).size(), 7 + 2);
    EXPECT_FALSE(actionTexts(menu).join('|').contains("Song 5"));
    EXPECT_TRUE(window->statusBar()->currentMessage().contains("Song 5.zub")) << "a note says what left";

    // Choosing one opens it, asking about unsaved work first.
    addIdea("Unsaved", 100, 0.1f);
    auto discard = answerNextBox(QMessageBox::Discard);
    menu->actions()[2]->trigger();
    EXPECT_TRUE(discard->shown);
    EXPECT_EQ(window->projectFileName(), file("Song 6.zub"));
    EXPECT_EQ(window->recentSongs().paths().first(), file("Song 6.zub"));

    // A song that went away after the menu was shown is reported and dropped.
    QMetaObject::invokeMethod(menu, "aboutToShow");
    QFile::remove(file("Song 8.zub"));
    auto ok = answerNextBox(QMessageBox::Ok);
    menu->actions()[1]->trigger();
    EXPECT_TRUE(ok->shown);
    EXPECT_EQ(window->projectFileName(), file("Song 6.zub"));
    EXPECT_FALSE(window->recentSongs().paths().contains(file("Song 8.zub")));
}

// Sends a drop of local files the way the window system does: to the
// widget under the point that takes drops, or the nearest parent that does.
void dropFiles(QWidget* window, const QStringList& paths)
{
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    mime->setUrls(urls);
    const QPoint at = window->rect().center();
    QWidget* target = window->childAt(at) ? window->childAt(at) : window;
    while (target && !target->acceptDrops())
        target = target->parentWidget();
    ASSERT_TRUE(target) << "nothing in the window takes drops";
    const QPointF local = target->mapFrom(window, at);
    QDragEnterEvent enter(local.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    ASSERT_TRUE(enter.isAccepted()) << target->metaObject()->className();
    QDropEvent drop(local, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    EXPECT_TRUE(drop.isAccepted());
    delete mime;
}

// A song dropped onto the window opens (asking first); WAV files become
// loops of the playing idea; anything else is refused with the reason.
TEST_F(ZubUITest, DroppedFilesOpenSongsAndBecomeLoops)
{
    loadRecorderPage();
    saveSong("Dropped.zub");
    addIdea("Current", 300, 0.1f);
    const QString wav = file("tone.wav");
    ASSERT_EQ(QProcess::execute("sox", { "-q", "-n", "-r", "48000", "-c", "1", "-b", "16", wav, "synth", "0.5",
                                           "sine", "440" }), 0);
    ASSERT_EQ(QProcess::execute("sox", { "-q", "-n", "-r", "44100", "-c", "4", "-b", "16", file("four.wav"),
                                           "synth", "0.1", "sine", "440" }), 0);
    write("notes.txt", "la la la");

    dropFiles(window.get(), { wav });
    ASSERT_TRUE(waitFor([&] { return ideas()[0]->loops().size() == 2; }));
    EXPECT_EQ(ideas()[0]->loops()[1]->numBeats(), 2);
    EXPECT_TRUE(waitFor([&] { return window->statusBar()->currentMessage().contains("converted from 48000 Hz mono"); }));
    ASSERT_TRUE(waitFor([&] { return !pageMessages("idea_collection").isEmpty(); }));
    EXPECT_EQ(pageMessages("idea_collection").last()["ideas"].toArray()[0].toObject()["loops"].toArray().size(), 2);

    struct Refusal { QString file, text; };
    const Refusal refusals[] = {
        { "notes.txt", "Motifo cannot use “notes.txt”." },
        { "four.wav", "“four.wav” could not be added as a loop: it has 4 channels; Motifo takes mono or stereo sound." },
    };
    for (const Refusal& r : refusals) {
        auto ok = answerNextBox(QMessageBox::Ok);
        dropFiles(window.get(), { file(r.file) });
        ASSERT_TRUE(waitFor([&] { return ok->shown; })) << r.file.toStdString();
        EXPECT_EQ(ok->text, r.text);
    }
    EXPECT_EQ(ideas()[0]->loops().size(), 2u);

    auto discard = answerNextBox(QMessageBox::Discard);
    dropFiles(window.get(), { file("Dropped.zub") });
    ASSERT_TRUE(waitFor([&] { return window->projectFileName() == file("Dropped.zub"); }));
    EXPECT_TRUE(discard->shown) << "the unsaved loops were asked about";
    ASSERT_EQ(ideas().size(), 1u);
    EXPECT_EQ(ideas()[0]->name(), "Old");
}

// The Edit menu names the step it takes back, and the page hears of the song
// and of the history after each.
TEST_F(ZubUITest, EditMenuUndoesAndRedoesTheNamedStep)
{
    loadRecorderPage();
    addIdea("Verse", 300, 0.1f);
    const int32 chorus = addIdea("Chorus", 300, 0.2f)->id();
    QAction* undo = window->action("actionUndo");
    QAction* redo = window->action("actionRedo");
    context.api()->handleMessage("{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : " + std::to_string(chorus)
                                 + ", \"_destroy\" : true } ] } }");
    ASSERT_EQ(ideas().size(), 1u);
    EXPECT_EQ(undo->text(), "Undo Delete Idea");
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_EQ(redo->text(), "Redo");
    EXPECT_FALSE(redo->isEnabled());

    undo->trigger();
    ASSERT_EQ(ideas().size(), 2u);
    EXPECT_EQ(ideas()[1]->id(), chorus);
    EXPECT_EQ(undo->text(), "Undo");
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_EQ(redo->text(), "Redo Delete Idea");
    ASSERT_TRUE(waitFor([&] { return !pageMessages("history").isEmpty(); }));
    EXPECT_EQ(pageMessages("history").last()["redo"].toString(), "Delete Idea");
    EXPECT_EQ(pageMessages("idea_collection").last()["ideas"].toArray().size(), 2);

    redo->trigger();
    EXPECT_EQ(ideas().size(), 1u);
    EXPECT_EQ(undo->text(), "Undo Delete Idea");
    context.engine()->clearProject();
    EXPECT_FALSE(undo->isEnabled());
}

TEST_F(ZubUITest, RenderToAnUnwritablePlaceIsReported)
{
    window->saveRender(); // cancelled: nothing happens
    write("not a folder", "x");
    chooser->answers << file("not a folder/mix.wav");
    auto ok = answerNextBox(QMessageBox::Ok);
    window->saveRender();
    EXPECT_TRUE(ok->shown);
    EXPECT_EQ(chooser->asked.value(1), QString("Export Idea as WAV...|%1|WAV audio (*.wav)").arg(window->documentsFolder()));
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
    EXPECT_EQ(QFileInfo(file("mix.wav")).size(), 44 + 4000) << "the extension is added";
    float* samples = nullptr;
    int n = 0;
    ASSERT_EQ(readWav(file("mix.wav").toStdString(), samples, n), 0);
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

// Clicks the button of the next message box whose text is `text`; remembers
// the box's question.
std::shared_ptr<QString> clickInNextBox(const QString& text)
{
    auto question = std::make_shared<QString>();
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        *question = box->text() + " " + box->informativeText();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == text)
                b->click();
    });
    timer->start(10);
    return question;
}

// The copy of unsaved work stays while the work is unsaved, and goes when
// it is saved, given up for a new song, or the program closes as asked.
TEST_F(ZubUITest, TheRecoveryCopyLastsOnlyWhileWorkIsUnsaved)
{
    const QString index = Autosave::defaultFolder() + "/recovery.json";
    window->offerRecovery(); // nothing to offer: the autosave starts
    const auto copied = [&] {
        window->autosave()->writeIfChanged();
        context.engine()->songFiles()->wait();
        QCoreApplication::processEvents();
        return QFileInfo::exists(index);
    };
    struct Case { const char* what; std::function<void()> act; };
    const Case cases[] = {
        { "a save", [&] { chooser->answers << file("Saved"); ASSERT_EQ(window->saveZub(), 0); } },
        { "a new song", [&] { auto a = answerNextBox(QMessageBox::Discard); window->newZub(); } },
        { "a clean exit", [&] { auto a = answerNextBox(QMessageBox::Discard); EXPECT_TRUE(window->close()); } },
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(copied()) << c.what << ": nothing unsaved, nothing copied";
        addIdea("Verse", 400, 0.25f);
        EXPECT_TRUE(copied()) << c.what;
        c.act();
        context.engine()->songFiles()->wait();
        EXPECT_FALSE(QFileInfo::exists(index)) << c.what;
    }
    addIdea("After the exit", 400, 0.25f);
    EXPECT_FALSE(copied()) << "no copy once the program closes";
}

// A copy left behind (the program ended without closing) is offered on the
// next start by the song's name; Recover brings the song back unsaved,
// Discard drops it.
TEST_F(ZubUITest, ACopyLeftBehindIsOfferedBackOnTheNextStart)
{
    for (const QString answer : { "&Recover", "&Discard" }) {
        window->offerRecovery();
        addIdea("Verse", 400, 0.25f);
        window->autosave()->writeIfChanged();
        context.engine()->songFiles()->wait();
        window.reset(); // as a crash leaves it, the copy stays
        context.engine()->clearProject();

        window = std::make_unique<ZubUI>(&context, nullptr, false);
        auto question = clickInNextBox(answer);
        window->offerRecovery();
        context.engine()->songFiles()->wait();
        EXPECT_TRUE(question->startsWith("Motifo did not close properly. Recover “Untitled”? A copy of it was kept at "))
            << question->toStdString();
        if (answer == "&Recover") {
            ASSERT_EQ(ideas().size(), 1u);
            EXPECT_EQ(ideas()[0]->name(), "Verse");
            EXPECT_EQ(ideas()[0]->loops()[0]->data()[0], 0.25f);
            EXPECT_TRUE(project()->isModified());
            EXPECT_TRUE(window->isWindowModified());
            EXPECT_TRUE(QFileInfo::exists(Autosave::defaultFolder() + "/recovery.json")) << "kept until saved";
            auto discard = answerNextBox(QMessageBox::Discard);
            window->newZub();
        } else {
            EXPECT_TRUE(ideas().empty());
            EXPECT_FALSE(QFileInfo::exists(Autosave::defaultFolder() + "/recovery.json"));
        }
        context.engine()->songFiles()->wait();
    }
}

// A signal while a copy is being written: that copy holds the song as it
// was when it began, and what changed since must not be lost with the exit.
TEST_F(ZubUITest, TheCopyTakenBeforeAnExitHoldsWhatChangedWhileOneWasWritten)
{
    window->offerRecovery();
    addIdea("Verse", 400, 0.25f);
    window->autosave()->writeIfChanged(); // its end is reported through the event loop, not run here
    addIdea("Chorus", 400, 0.5f);
    window->autosave()->writeBeforeExit();
    context.engine()->songFiles()->wait();
    window.reset(); // the program ends; the copy stays for the next start
    context.engine()->clearProject();

    window = std::make_unique<ZubUI>(&context, nullptr, false);
    auto question = clickInNextBox("&Recover");
    window->offerRecovery();
    context.engine()->songFiles()->wait();
    ASSERT_EQ(ideas().size(), 2u);
    EXPECT_EQ(ideas()[1]->name(), "Chorus");
    EXPECT_EQ(ideas()[1]->loops()[0]->data()[0], 0.5f);
    auto discard = answerNextBox(QMessageBox::Discard);
    window->newZub();
    context.engine()->songFiles()->wait();
}

} // namespace

#include "zubui_test.moc"
