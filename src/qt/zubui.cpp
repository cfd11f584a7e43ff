#include "qt/zubui.h"

#include "core/jsonfield.h"
#include "core/resourcedir.h"
#include "engine/enginecontext.h"
#include "engine/loopimport.h"
#include "engine/project.h"
#include "engine/projectfile.h"
#include "engine/recoverycopy.h"
#include "engine/songfiles.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "qt/applicationfinder.h"
#include "qt/autosave.h"
#include "qt/deviceproblems.h"
#include "qt/dlgmidiexport.h"
#include "qt/dlgpreferences.h"
#include "qt/filechooser.h"
#include "qt/qtloghandler.h"
#include "qt/settings.h"
#include "qt/zubapp.h"
#include "qt/zubicon.h"
#include "qt/zubwebview.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QElapsedTimer>
#include <QScreen>
#include <QDesktopServices>
#include <QDebug>
#include <QDir>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalMapper>
#include <QStandardPaths>
#include <QStatusBar>
#include <QThread>
#include <QUrl>
#include <cstdio>
#include <json/value.h>
#include <unistd.h>

namespace {

struct ExportEntry {
    const char* objectName;
    const char* text;
    int app;
};

const ExportEntry kExportEntries[] = {
    { "actionAbleton_Live", QT_TRANSLATE_NOOP("ZubMainWindow", "Ableton Live..."), ApplicationFinder::ABLETON_LIVE },
    { "actionFL_Studio", QT_TRANSLATE_NOOP("ZubMainWindow", "FL Studio..."), ApplicationFinder::FL_STUDIO },
    { "actionPro_Tools", QT_TRANSLATE_NOOP("ZubMainWindow", "Pro Tools..."), ApplicationFinder::PRO_TOOLS },
    { "actionGarageBand", QT_TRANSLATE_NOOP("ZubMainWindow", "GarageBand..."), ApplicationFinder::GARAGEBAND },
    { "actionLogic", QT_TRANSLATE_NOOP("ZubMainWindow", "Logic Pro..."), ApplicationFinder::LOGIC_PRO },
    { "actionCubase", QT_TRANSLATE_NOOP("ZubMainWindow", "Cubase..."), ApplicationFinder::CUBASE },
    { "actionStudio_One", QT_TRANSLATE_NOOP("ZubMainWindow", "Studio One..."), ApplicationFinder::STUDIO_ONE },
    { "actionReaper", QT_TRANSLATE_NOOP("ZubMainWindow", "REAPER..."), ApplicationFinder::REAPER },
    // Linux DAWs: listed only where they are installed.
    { "actionArdour", QT_TRANSLATE_NOOP("ZubMainWindow", "Ardour..."), ApplicationFinder::ARDOUR },
    { "actionBitwig_Studio", QT_TRANSLATE_NOOP("ZubMainWindow", "Bitwig Studio..."), ApplicationFinder::BITWIG_STUDIO },
};

const char* const kNewZubStatements[] = {
    "window.showIdeaSetup()",
    "window.hideFreestyleRecorder()",
    "window.hideCredits()",
    "window.hideHelp()",
    "window.hideFreestyleTempoScreen()",
    "window.hideBeatPickerPopup()",
    "window.hideInstrumentPicker()",
    "window.hideMainMenu()",
};

QString translate(const char* text)
{
    return QCoreApplication::translate("ZubMainWindow", text);
}

// File names travel to the engine in the local 8-bit encoding (UTF-8 here).
std::string localPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

bool isSong(const QString& path)
{
    return path.endsWith(".zub", Qt::CaseInsensitive);
}

bool isWav(const QString& path)
{
    return path.endsWith(".wav", Qt::CaseInsensitive) || path.endsWith(".wave", Qt::CaseInsensitive);
}

// How long a note stays in the status bar.
constexpr int kNoteMs = 10000;

} // namespace

ZubUI::Command::Command(ZubUI* window, const char* name)
    : m_pWindow(window)
    , m_bStarted(!window->m_bCommandRunning)
{
    if (m_bStarted)
        window->m_bCommandRunning = true;
    else
        qDebug() << name << "ignored: another document command is still waiting for an answer";
}

ZubUI::Command::~Command()
{
    if (m_bStarted)
        m_pWindow->m_bCommandRunning = false;
}

ZubUI::ZubUI(EngineContext* context, ZubApp* app, bool firstRun)
    : m_pContext(context)
    , m_pApp(app)
    , m_pFileChooser(new FileChooser)
{
    buildForm();
    ApplicationFinder::dawExecutablePaths() = ApplicationFinder::forThisSystem().findInstalledDaws();
    buildExportMenu();
    registerProjectNotifications(true);
    registerFonts();

    m_documentsFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Motifo";
    m_pAutosave = new Autosave(context->engine(), Autosave::defaultFolder(), [this] {
        RecoveryCopy::Info info;
        info.song = (m_projectFileName.isEmpty() ? tr("Untitled") : QFileInfo(m_projectFileName).completeBaseName()).toStdString();
        info.document = localPath(m_projectFileName);
        return info;
    }, this);
    if (firstRun) {
        QDir().mkpath(m_documentsFolder);
        Settings::instance().setValue("last_zub_load_path", m_documentsFolder);
    }

    m_pWebView = new ZubWebView(this, context, firstRun);
    setCentralWidget(m_pWebView);
    // Queued: the page's call returns before a dialog opens.
    connect(m_pWebView, &ZubWebView::renderRequested, this, &ZubUI::saveRender, Qt::QueuedConnection);
    connect(m_pWebView, &ZubWebView::saveRequested, this, &ZubUI::slotSaveZub, Qt::QueuedConnection);
    connect(m_pWebView, &ZubWebView::saveAsRequested, this, &ZubUI::slotSaveZubAs, Qt::QueuedConnection);
    connect(m_pWebView, &ZubWebView::openRequested, this, &ZubUI::openZub, Qt::QueuedConnection);
    connect(m_pWebView, &ZubWebView::shareRequested, this, &ZubUI::slotShareZub, Qt::QueuedConnection);
    connect(m_pWebView, &ZubWebView::filesDropped, this, &ZubUI::openDroppedFiles, Qt::QueuedConnection);
    connect(m_pWebView, &ZubWebView::pageReady, this, &ZubUI::showDocumentState);
    // Queued: the page's own start-up finishes before the question.
    connect(m_pWebView, &ZubWebView::pageReady, this, &ZubUI::offerRecovery,
        Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    setAcceptDrops(true);
    showDocumentState();
    connect(m_pWebView, &ZubWebView::commandRequested, this, &ZubUI::runPageCommand);
    m_pWebView->setMidiInputName([this] { return m_pApp ? m_pApp->midiInputName() : QString(); });
    m_pDeviceProblems = new DeviceProblems(statusBar(), m_pWebView);
    show();
}

ZubUI::~ZubUI()
{
    // A save or open under way posts its news here: it ends first.
    m_pContext->engine()->songFiles()->wait();
    delete m_pAutosave;
    // The engine outlives the window.
    registerProjectNotifications(false);
    delete m_pFileChooser;
}

Project* ZubUI::project() const
{
    return m_pContext->engine()->project();
}

void ZubUI::registerProjectNotifications(bool registered)
{
    Project* p = project();
    if (!registered) {
        p->setModifiedNotification({});
        p->setClearedNotification({});
        p->setConfirmDiscardQuery({});
        return;
    }
    p->setModifiedNotification([this](bool modified) {
        // Widgets are touched on the GUI thread only.
        if (QThread::currentThread() == thread())
            projectModified(modified);
        else
            QMetaObject::invokeMethod(this, [this, modified] { projectModified(modified); }, Qt::QueuedConnection);
    });
    p->setClearedNotification([this] { projectCleared(); });
    // Asked by the page's own "New song".
    p->setConfirmDiscardQuery([this] {
        Command command(this, "The page's discard question");
        return command && discardChangesConfirmation();
    });
}

void ZubUI::setFileChooser(FileChooser* chooser)
{
    delete m_pFileChooser;
    m_pFileChooser = chooser;
}

QAction* ZubUI::action(const QString& objectName) const
{
    return findChild<QAction*>(objectName);
}

QAction* ZubUI::addAction(QMenu* menu, const char* objectName, const char* text)
{
    auto* a = new QAction(translate(text), this);
    a->setObjectName(objectName);
    a->setMenuRole(QAction::NoRole);
    menu->addAction(a);
    return a;
}

void ZubUI::buildForm()
{
    setObjectName("ZubMainWindow");
    setWindowIcon(QIcon(ZubIcon::pixmap(256)));
    setMinimumSize(MINIMUM_SIZE);
    // The default fits the screen's free area, never below the minimum.
    QSize size = DEFAULT_SIZE;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    resize(size.expandedTo(MINIMUM_SIZE));
    setUnifiedTitleAndToolBarOnMac(true);
    menuBar()->setObjectName("menubar");
    statusBar()->setObjectName("statusbar");

    m_pMenuFile = menuBar()->addMenu(translate("File"));
    m_pMenuFile->setObjectName("menuFile");
    m_pMenuOptions = menuBar()->addMenu(translate("Options"));
    m_pMenuOptions->setObjectName("menuOptions");

    connect(addAction(m_pMenuFile, "actionNewZub", "New Zub"), &QAction::triggered, this, &ZubUI::newZub);
    QAction* open = addAction(m_pMenuFile, "actionOpenZub", "Open Zub...");
    open->setShortcut(QKeySequence(translate("Ctrl+O")));
    connect(open, &QAction::triggered, this, &ZubUI::openZub);
    m_pMenuRecent = m_pMenuFile->addMenu(translate("Open Recent"));
    m_pMenuRecent->setObjectName("menuRecent");
    connect(m_pMenuRecent, &QMenu::aboutToShow, this, &ZubUI::fillRecentMenu);
    m_pMenuFile->addSeparator();
    QAction* save = addAction(m_pMenuFile, "actionSaveZub", "Save");
    save->setShortcut(QKeySequence(translate("Ctrl+S")));
    connect(save, &QAction::triggered, this, &ZubUI::slotSaveZub);
    connect(addAction(m_pMenuFile, "actionSaveAs", "Save As..."), &QAction::triggered, this, &ZubUI::slotSaveZubAs);
    m_pMenuFile->addSeparator();
    connect(addAction(m_pMenuFile, "actionExportIdea", "Export Idea as WAV..."), &QAction::triggered, this,
            &ZubUI::exportIdea);
    connect(addAction(m_pMenuFile, "actionExportSong", "Export Song as WAV..."), &QAction::triggered, this,
            &ZubUI::exportSong);
    m_pMenuFile->addSeparator();
    m_pMenuExport = m_pMenuFile->addMenu(translate("Instant Export"));
    m_pMenuExport->setObjectName("menuExport");
    m_pMenuFile->addSeparator();
    QAction* quit = addAction(m_pMenuFile, "actionQuit", "Quit");
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QAction* prefs = addAction(m_pMenuOptions, "actionPreferences", "Preferences...");
    prefs->setMenuRole(QAction::PreferencesRole);
    connect(prefs, &QAction::triggered, this, &ZubUI::showPreferences);

    QMenu* help = menuBar()->addMenu(translate("Help"));
    help->setObjectName("menuHelp");
    connect(addAction(help, "actionOpenLogFolder", "Open log folder"), &QAction::triggered, this, &ZubUI::openLogFolder);
}

void ZubUI::buildExportMenu()
{
    m_pExportMapper = new QSignalMapper(this);
    for (const ExportEntry& e : kExportEntries) {
        if (e.app > ApplicationFinder::REAPER && ApplicationFinder::dawExecutablePaths().value(e.app).isEmpty())
            continue;
        QAction* a = addAction(m_pMenuExport, e.objectName, e.text);
        connect(a, &QAction::triggered, m_pExportMapper, qOverload<>(&QSignalMapper::map));
        m_pExportMapper->setMapping(a, e.app);
    }
    connect(m_pExportMapper, &QSignalMapper::mappedInt, this, &ZubUI::showMidiExportDialog);
    action("actionGarageBand")->setEnabled(false);
    action("actionLogic")->setEnabled(false);
}

void ZubUI::registerFonts()
{
    for (const char* font : { "/fonts/Muli-Regular.ttf", "/fonts/Muli-Italic.ttf", "/fonts/Muli-Light.ttf",
             "/fonts/Muli-LightItalic.ttf" })
        QFontDatabase::addApplicationFont(QString("res") + font);
}

// Songs whose document is gone leave the list, with a note.
void ZubUI::fillRecentMenu()
{
    QStringList missing;
    for (const QString& song : m_recentSongs.dropMissing()) {
        qDebug() << "Removed from Open Recent, the song is gone:" << song;
        missing << fileName(song);
    }
    if (!missing.isEmpty())
        statusBar()->showMessage(tr("Removed from Open Recent, no longer found: %1").arg(missing.join(", ")), kNoteMs);
    m_pMenuRecent->clear();
    const QStringList songs = m_recentSongs.paths();
    for (int i = 0; i < songs.size(); ++i) {
        const QString song = songs[i];
        QAction* a = m_pMenuRecent->addAction(QString("&%1 %2").arg(i + 1).arg(QFileInfo(song).completeBaseName()));
        a->setToolTip(QDir::toNativeSeparators(song));
        a->setStatusTip(QDir::toNativeSeparators(song));
        connect(a, &QAction::triggered, this, [this, song] { openDocument(song); });
    }
    if (songs.isEmpty())
        m_pMenuRecent->addAction(tr("No recent songs"))->setEnabled(false);
    m_pMenuRecent->addSeparator();
    QAction* clear = m_pMenuRecent->addAction(tr("Clear Menu"));
    clear->setEnabled(!songs.isEmpty());
    connect(clear, &QAction::triggered, this, [this] { m_recentSongs.clear(); });
}

bool ZubUI::confirmDiscard()
{
    return !project()->isModified() || discardChangesConfirmation();
}

void ZubUI::newZub()
{
    Command command(this, "New");
    if (!command || !confirmDiscard())
        return;
    // Resetting the project notifies projectCleared().
    m_pContext->engine()->clearProject();
    for (const char* statement : kNewZubStatements)
        m_pWebView->evaluateStatement(statement);
}

void ZubUI::saveRender()
{
    exportWav(false);
}

void ZubUI::exportIdea()
{
    exportWav(false);
}

void ZubUI::exportSong()
{
    exportWav(true);
}

void ZubUI::tellPage(const char* what, const char* key, const QString& value)
{
    Json::Value root;
    Json::Value& render = root["render"];
    render["what"] = what;
    render[key] = value.toStdString();
    m_pWebView->deliverMessage(JsonField::styled(root));
}

void ZubUI::exportWav(bool song)
{
    Command command(this, song ? "Export song" : "Export idea");
    if (!command)
        return;
    const char* what = song ? "song" : "idea";
    QString path = m_pFileChooser->saveFileName(this, song ? tr("Export Song as WAV...") : tr("Export Idea as WAV..."),
                                                m_documentsFolder, tr("WAV audio (*.wav)"));
    if (path.isEmpty()) {
        tellPage(what, "cancelled", "");
        return;
    }
    // The dialog checked the name as typed; the extension added here needs its own check.
    if (!path.endsWith(".wav", Qt::CaseInsensitive)) {
        path += ".wav";
        if (QFileInfo::exists(path)
            && QMessageBox::question(this, QCoreApplication::applicationName(),
                                     tr("%1 already exists. Do you want to replace it?")
                                         .arg(QFileInfo(path).fileName()))
                != QMessageBox::Yes) {
            tellPage(what, "cancelled", "");
            return;
        }
    }
    tellPage(what, "started", path);
    QSaveFile target(path);
    std::FILE* file = target.open(QIODevice::WriteOnly) ? fdopen(dup(target.handle()), "wb") : nullptr;
    if (!file) {
        failExport(what, tr("%1 could not be written.").arg(QDir::toNativeSeparators(path)), target.errorString());
        return;
    }
    // The page shows the progress: it gets a turn of the event loop now and
    // then, without user input, while the render holds the GUI thread.
    QElapsedTimer shown;
    shown.start();
    const auto progress = [&](int64 done, int64 total) {
        if (shown.elapsed() < 100 || total <= 0)
            return;
        shown.restart();
        tellPage(what, "progress", QString::number(double(done) / double(total), 'f', 3));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    ZubEngine* engine = m_pContext->engine();
    const int rendered = song ? engine->renderSongToFile(file, progress) : engine->renderToFile(file, progress);
    const bool closed = std::fclose(file) == 0;
    if (rendered != 0 || !closed || !target.commit()) {
        target.cancelWriting();
        failExport(what, rendered != 0 ? tr("There is nothing to render yet: keep a loop in an idea first.")
                                       : tr("%1 could not be written.").arg(QDir::toNativeSeparators(path)));
        return;
    }
    qDebug() << "Exported" << what << "to" << path;
    tellPage(what, "file", path);
}

void ZubUI::failExport(const char* what, const QString& text, const QString& informative)
{
    tellPage(what, "error", text);
    reportFailure(text, informative);
}

void ZubUI::runPageCommand(const QString& name)
{
    static const QHash<QString, QString> actions {
        { "new", "actionNewZub" },     { "open", "actionOpenZub" },         { "save", "actionSaveZub" },
        { "saveAs", "actionSaveAs" }, { "exportIdea", "actionExportIdea" }, { "exportSong", "actionExportSong" },
    };
    QAction* a = action(actions.value(name));
    if (!a) {
        qDebug() << "No window command" << name;
        return;
    }
    a->trigger();
}

void ZubUI::openZub()
{
    Command command(this, "Open");
    if (!command)
        return;
    const QString startFolder = Settings::instance().value("last_zub_load_path");
    const QString path = m_pFileChooser->openFileName(this, tr("Open Existing Zub..."), startFolder, "*.zub");
    if (!path.isEmpty())
        openChecked(path);
}

void ZubUI::openDocument(const QString& path)
{
    Command command(this, "Open");
    if (command)
        openChecked(path);
}

// The document is checked before anything is asked or dropped.
void ZubUI::openChecked(const QString& path)
{
    Json::Value root;
    bool damaged = false;
    const QString problem = QString::fromStdString(ProjectFile::readDocument(localPath(path), root, &damaged));
    if (!problem.isEmpty()) {
        if (!damaged || !ProjectFile::audioFolderHoldsIdeas(localPath(path))) {
            if (!QFileInfo::exists(path))
                m_recentSongs.remove(path);
            reportFailure(tr("“%1” could not be opened: %2.").arg(fileName(path), problem),
                tr("Your current song is still open and unchanged."));
            return;
        }
        if (ask(QMessageBox::Warning, tr("“%1” could not be read: %2.").arg(fileName(path), problem),
                tr("Its audio folder still holds ideas. Open those, at 120 bpm?"),
                QMessageBox::Open | QMessageBox::Cancel, QMessageBox::Cancel)
            != QMessageBox::Open)
            return;
    }
    if (!confirmDiscard())
        return;
    QString why;
    if (readDocument(path, why) != 0) {
        reportFailure(tr("“%1” could not be opened: %2.").arg(fileName(path), why),
            tr("Your current song is still open and unchanged."));
        return;
    }
    adoptDocument(path);
}

void ZubUI::waitForSongFiles(const std::function<void(std::function<void()> finished)>& start)
{
    // Touched only on this thread: the worker posts the news here.
    struct Waiting {
        bool done = false;
        QEventLoop* loop = nullptr;
    };
    auto waiting = std::make_shared<Waiting>();
    QEventLoop loop;
    waiting->loop = &loop;
    start([this, waiting] {
        QMetaObject::invokeMethod(this, [waiting] {
            waiting->done = true;
            if (waiting->loop)
                waiting->loop->quit();
        }, Qt::QueuedConnection);
    });
    while (!waiting->done && loop.exec() == 0) {
    }
    waiting->loop = nullptr;
    if (!waiting->done) {
        // The application is quitting: no event loop runs any more.
        m_pContext->engine()->songFiles()->wait();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}

int ZubUI::readDocument(const QString& path, QString& why)
{
    ZubEngine* engine = m_pContext->engine();
    auto song = std::make_shared<std::shared_ptr<ProjectFile::LoadedSong>>();
    waitForSongFiles([&](std::function<void()> finished) {
        engine->songFiles()->open(localPath(path), localPath(m_documentsFolder),
            [song, finished](std::shared_ptr<ProjectFile::LoadedSong> read) {
                *song = std::move(read);
                finished();
            });
    });
    if (!*song)
        *song = std::make_shared<ProjectFile::LoadedSong>();
    // Clears the project (which notifies projectCleared()), takes the tempo
    // and the ideas in and tells the page "just_loaded".
    ProjectFile file(engine);
    const int result = file.adopt(**song);
    why = QString::fromStdString(file.failure());
    engine->songFiles()->report(result == 0 ? "opened" : "open_failed", localPath(path));
    return result;
}

int ZubUI::writeDocument(const QString& path, QString& why)
{
    ZubEngine* engine = m_pContext->engine();
    struct Saved {
        int result = 1;
        uint64_t changeCount = 0;
        std::string failure = "the save did not finish";
    };
    auto saved = std::make_shared<Saved>();
    waitForSongFiles([&](std::function<void()> finished) {
        engine->songFiles()->save(localPath(path),
            [saved, finished](int result, uint64_t changeCount, const std::string& failure) {
                *saved = { result, changeCount, failure };
                finished();
            });
    });
    if (saved->result == 0)
        engine->project()->savedAt(saved->changeCount);
    why = QString::fromStdString(saved->failure);
    return saved->result;
}

void ZubUI::adoptDocument(const QString& path)
{
    m_projectFileName = QFileInfo(path).absoluteFilePath();
    setWindowFilePath(m_projectFileName);
    m_recentSongs.add(m_projectFileName);
    Settings::instance().setValue("last_zub_load_path", QFileInfo(path).absolutePath());
    showDocumentState();
}

void ZubUI::openLogFolder()
{
    const QString folder = ZubApp::logFolder();
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

int ZubUI::saveZub()
{
    return saveZub(QString());
}

int ZubUI::saveZub(QString projectFileName)
{
    if (projectFileName.isEmpty()) {
        projectFileName = askSaveName();
        if (projectFileName.isEmpty())
            return 1;
    }
    QString why;
    if (writeDocument(projectFileName, why) != 0) {
        reportFailure(tr("Your song could not be saved to %1.").arg(QDir::toNativeSeparators(projectFileName)),
            tr("%1. Your song is still open, and what was saved there before is kept.").arg(why));
        return 1;
    }
    adoptDocument(projectFileName);
    // Saved as it stands: nothing is left to recover.
    if (!project()->isModified())
        m_pAutosave->discard();
    return 0;
}

// The name with its ".zub", checked against what is already there: another
// song and its audio folder are only replaced when the user says so.
QString ZubUI::askSaveName()
{
    QString folder = Settings::instance().value("last_zub_load_path");
    if (folder.isEmpty())
        folder = m_documentsFolder;
    QString name = m_pFileChooser->saveFileName(this, tr("Save Zub As..."), folder, "*.zub",
        QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty())
        return {};
    if (!isSong(name))
        name += ".zub";
    name = QFileInfo(name).absoluteFilePath();
    const QString audioFolder = QString::fromStdString(ProjectFile::audioFolder(localPath(name), 0, ""));
    const bool taken = QFileInfo::exists(name) || QFileInfo::exists(audioFolder);
    if (!taken || name == m_projectFileName)
        return name;
    const QMessageBox::StandardButton answer = ask(QMessageBox::Warning,
        tr("“%1” already exists. Do you want to replace it?").arg(fileName(name)),
        tr("The song saved there, with its loops in “%1”, will be replaced by this one.").arg(fileName(audioFolder)),
        QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel);
    return answer == QMessageBox::Yes ? name : QString();
}

void ZubUI::slotSaveZub()
{
    Command command(this, "Save");
    if (!command)
        return;
    qDebug() << "Save Zub" << m_projectFileName;
    saveZub(m_projectFileName);
}

void ZubUI::slotSaveZubAs()
{
    Command command(this, "Save As");
    if (command)
        saveZub(QString());
}

void ZubUI::slotShareZub()
{
    qDebug() << "Share is not offered on this platform";
}

QMessageBox::StandardButton ZubUI::ask(QMessageBox::Icon icon, const QString& text, const QString& informative,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, QCoreApplication::applicationName(), text, buttons, this);
    box.setInformativeText(informative);
    box.setDefaultButton(defaultButton);
    if (QAbstractButton* yes = box.button(QMessageBox::Yes))
        yes->setText(tr("&Replace"));
    return askWith(box);
}

QMessageBox::StandardButton ZubUI::askWith(QMessageBox& box)
{
    qDebug().noquote() << "Asking:" << box.text() << box.informativeText();
    box.setWindowModality(Qt::WindowModal);
    const auto answer = QMessageBox::StandardButton(box.exec());
    qDebug().noquote() << "Answer:" << (box.clickedButton() ? box.clickedButton()->text().remove('&') : "none");
    return answer;
}

void ZubUI::reportFailure(const QString& text, const QString& informative)
{
    qDebug().noquote() << text << informative;
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text, QMessageBox::Ok, this);
    box.setInformativeText(informative);
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

void ZubUI::showPreferences()
{
    if (!m_pApp)
        return;
    DlgPreferences dialog(this, m_pApp);
    dialog.exec();
    // The page shows which MIDI input is open.
    Json::Value root;
    root["midi_input"]["name"] = m_pApp->midiInputName().toStdString();
    m_pWebView->deliverMessage(JsonField::styled(root));
}

QString ZubUI::midiExportFolder() const
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/MIDI Export";
}

QStringList ZubUI::writeMidiExport(const QString& folder)
{
    ProjectFile file(m_pContext->engine());
    file.saveMidi(localPath(folder));
    // The files are named like the saved ideas; the dialog finds them by name.
    QStringList names;
    for (const std::string& name : file.ideaFileNames())
        names << QFile::decodeName(name.c_str());
    return names;
}

void ZubUI::showMidiExportDialog(int midiExportApp)
{
    // Files from an earlier export would be offered for ideas that are gone.
    QDir folder(midiExportFolder());
    folder.removeRecursively();
    QDir().mkpath(folder.absolutePath());
    const QStringList names = writeMidiExport(folder.absolutePath());
    DlgMidiExport dialog(this, names, midiExportApp, folder.absolutePath());
    dialog.exec();
}

void ZubUI::projectModified(bool modified)
{
    if (modified) {
        qCDebug(motifoDebug) << "project modified in Qt land!";
        action("actionSaveZub")->setEnabled(true);
    } else {
        m_pAutosave->discard();
    }
    showDocumentState();
}

void ZubUI::projectCleared()
{
    // A new or opened song: what was unsaved was saved or given up.
    m_pAutosave->discard();
    action("actionSaveZub")->setEnabled(true);
    setWindowFilePath(QString());
    m_projectFileName.clear();
    showDocumentState();
}

// The song's name and its unsaved mark, in the title and on the page.
void ZubUI::showDocumentState()
{
    const bool modified = project()->isModified();
    const QString name = m_projectFileName.isEmpty() ? tr("Untitled") : QFileInfo(m_projectFileName).completeBaseName();
    // "[*]" in a name would be read as the mark's place; doubled it is text.
    QString title = name;
    title.replace("[*]", "[*][*]");
    setWindowTitle(tr("%1[*] — %2").arg(title, QCoreApplication::applicationName()));
    setWindowModified(modified);
    const QJsonObject state { { "name", name }, { "file", m_projectFileName }, { "modified", modified } };
    const QByteArray message = QJsonDocument(QJsonObject { { "document", state } }).toJson(QJsonDocument::Compact);
    if (m_pWebView)
        m_pWebView->deliverMessage(message.toStdString());
}

bool ZubUI::discardChangesConfirmation()
{
    QMessageBox box(this);
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setText(tr("Do you want to save your changes to your song?"));
    box.setInformativeText(tr("Your changes will be lost if you don't save them."));
    box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Save);
    // Reachable from the keyboard.
    box.button(QMessageBox::Save)->setText(tr("&Save"));
    box.button(QMessageBox::Discard)->setText(tr("&Discard"));
    switch (askWith(box)) {
    case QMessageBox::Save:
        return saveZub(m_projectFileName) == 0;
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void ZubUI::closeEvent(QCloseEvent* event)
{
    Command command(this, "Close");
    if (command && confirmDiscard()) {
        event->accept();
        m_pAutosave->finish();
    } else {
        event->ignore();
    }
}

void ZubUI::dragEnterEvent(QDragEnterEvent* event)
{
    if (!ZubWebView::localFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ZubUI::dropEvent(QDropEvent* event)
{
    const QStringList paths = ZubWebView::localFiles(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    // After the drop has finished: a dialog may follow.
    QMetaObject::invokeMethod(this, [this, paths] { openDroppedFiles(paths); }, Qt::QueuedConnection);
}

void ZubUI::openDroppedFiles(const QStringList& paths)
{
    QStringList songs, wavs, others;
    for (const QString& path : paths)
        (isSong(path) ? songs : isWav(path) ? wavs : others) << path;
    if (!others.isEmpty()) {
        reportFailure(tr("Motifo cannot use “%1”.").arg(fileName(others.first())),
            tr("Drop a song (.zub) to open it, or WAV files to add them as loops to the playing idea."));
        return;
    }
    if (!songs.isEmpty()) {
        if (songs.size() > 1 || !wavs.isEmpty())
            statusBar()->showMessage(tr("One song at a time: opening “%1” only.").arg(fileName(songs.first())), kNoteMs);
        openDocument(songs.first());
        return;
    }
    for (const QString& wav : wavs)
        addDroppedWav(wav);
}

void ZubUI::addDroppedWav(const QString& path)
{
    Command command(this, "Adding a loop");
    if (!command)
        return;
    std::string why;
    if (LoopImport(m_pContext->engine()).addToActiveIdea(localPath(path), why) != 0) {
        reportFailure(tr("“%1” could not be added as a loop: %2.").arg(fileName(path), QString::fromStdString(why)),
            tr("Your song is unchanged."));
        return;
    }
    if (!why.empty())
        statusBar()->showMessage(tr("“%1”: %2.").arg(fileName(path), QString::fromStdString(why)), kNoteMs);
    // The page shows the idea with its new loop.
    m_pWebView->deliverMessage(m_pContext->api()->handleMessage("getIdeaCollection"));
}

void ZubUI::offerRecovery()
{
    RecoveryCopy::Info info;
    bool keep = false;
    if (m_pAutosave->find(info)) {
        Command command(this, "Recover");
        keep = !command; // asked again on the next start
        if (command) {
            const QString song = QString::fromStdString(info.song);
            const QDateTime when = QDateTime::fromSecsSinceEpoch(info.writtenAt);
            QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(),
                tr("Motifo did not close properly. Recover “%1”?").arg(song), QMessageBox::NoButton, this);
            box.setInformativeText(tr("A copy of it was kept at %1 on %2, with every loop and the loop recorder's take.")
                    .arg(QLocale().toString(when.time(), QLocale::ShortFormat),
                        QLocale().toString(when.date(), QLocale::LongFormat)));
            QPushButton* recoverButton = box.addButton(tr("&Recover"), QMessageBox::AcceptRole);
            QPushButton* discardButton = box.addButton(tr("&Discard"), QMessageBox::DestructiveRole);
            box.setDefaultButton(recoverButton);
            askWith(box);
            if (box.clickedButton() == recoverButton)
                recover(song);
            else if (box.clickedButton() == discardButton)
                qDebug() << "The recovery copy of" << song << "was discarded";
            else
                keep = true; // no answer: asked again on the next start, unless new work is copied first
        }
    }
    m_pAutosave->start();
    // A recovered song keeps its copy until it is copied anew or saved.
    if (!keep && !project()->isModified())
        m_pAutosave->discard();
}

// The copy stays on disk until the recovered song is saved or copied anew.
void ZubUI::recover(const QString& song)
{
    struct Read {
        int result = 1;
        std::shared_ptr<RecoveryCopy::Recovered> recovered;
        std::string failure = "it could not be read";
    };
    auto read = std::make_shared<Read>();
    waitForSongFiles([&](std::function<void()> finished) {
        m_pAutosave->read([read, finished](int result, std::shared_ptr<RecoveryCopy::Recovered> recovered,
                              std::string failure) {
            *read = { result, std::move(recovered), std::move(failure) };
            finished();
        });
    });
    if (read->result != 0) {
        reportFailure(tr("“%1” could not be recovered: %2.").arg(song, QString::fromStdString(read->failure)),
            tr("Motifo starts with a new song."));
        return;
    }
    const QString document = QString::fromStdString(read->recovered->info.document);
    RecoveryCopy::restore(*m_pContext->engine(), *read->recovered);
    // Save writes it where it came from, when that is still there.
    if (!document.isEmpty() && QFileInfo::exists(document)) {
        m_projectFileName = QFileInfo(document).absoluteFilePath();
        setWindowFilePath(m_projectFileName);
    }
    showDocumentState();
    qDebug() << "Recovered" << song;
}
