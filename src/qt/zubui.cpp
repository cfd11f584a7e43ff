#include "qt/zubui.h"

#include "core/resourcedir.h"
#include "engine/enginecontext.h"
#include "engine/project.h"
#include "engine/projectfile.h"
#include "engine/zubengine.h"
#include "qt/applicationfinder.h"
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
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMenuBar>
#include <QMessageBox>
#include <QSaveFile>
#include <QSignalMapper>
#include <QStandardPaths>
#include <QStatusBar>
#include <cstdio>
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

} // namespace

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
    if (firstRun) {
        QDir().mkpath(m_documentsFolder);
        Settings::instance().setValue("last_zub_load_path", m_documentsFolder);
    }

    m_pWebView = new ZubWebView(this, context, firstRun);
    setCentralWidget(m_pWebView);
    connect(m_pWebView, &ZubWebView::renderRequested, this, &ZubUI::saveRender);
    connect(m_pWebView, &ZubWebView::saveRequested, this, &ZubUI::slotSaveZub);
    connect(m_pWebView, &ZubWebView::shareRequested, this, &ZubUI::slotShareZub);
    m_pDeviceProblems = new DeviceProblems(statusBar(), m_pWebView);
    show();
}

ZubUI::~ZubUI()
{
    // The engine outlives the window.
    registerProjectNotifications(false);
    delete m_pFileChooser;
}

void ZubUI::registerProjectNotifications(bool registered)
{
    Project* project = m_pContext->engine()->project();
    project->setModifiedNotification(registered ? [this](bool modified) { projectModified(modified); }
                                                : Project::ModifiedNotification());
    project->setClearedNotification(registered ? [this] { projectCleared(); } : Project::ClearedNotification());
    project->setConfirmDiscardQuery(registered ? [this] { return discardChangesConfirmation(); }
                                               : Project::ConfirmDiscardQuery());
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
    setWindowTitle(QCoreApplication::applicationName());
    setWindowIcon(QIcon(ZubIcon::pixmap(256)));
    resize(1000, 674);
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
    m_pMenuFile->addSeparator();
    QAction* save = addAction(m_pMenuFile, "actionSaveZub", "Save");
    save->setShortcut(QKeySequence(translate("Ctrl+S")));
    connect(save, &QAction::triggered, this, &ZubUI::slotSaveZub);
    connect(addAction(m_pMenuFile, "actionSaveAs", "Save As..."), &QAction::triggered, this, &ZubUI::slotSaveZubAs);
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
        QFontDatabase::addApplicationFont(QString(ZUB_RESOURCE_DIR) + font);
}

bool ZubUI::confirmDiscard()
{
    // Asks only when something changed.
    return m_pContext->engine()->project()->confirmDiscard();
}

void ZubUI::newZub()
{
    if (!confirmDiscard())
        return;
    // Resetting the project notifies projectCleared().
    m_pContext->engine()->clearProject();
    for (const char* statement : kNewZubStatements)
        m_pWebView->evaluateStatement(statement);
}

void ZubUI::saveRender()
{
    const QString path = m_pFileChooser->saveFileName(this, tr("Save Render As..."), "", "*.wav");
    if (path.isEmpty())
        return;
    // Written beside the chosen file and renamed over it when complete, so a
    // render that fails leaves neither an empty file nor a half-overwritten one.
    QSaveFile target(path);
    std::FILE* file = target.open(QIODevice::WriteOnly) ? fdopen(dup(target.handle()), "wb") : nullptr;
    if (!file) {
        reportFailure(tr("The render could not be written to %1.").arg(QDir::toNativeSeparators(path)));
        return;
    }
    const int rendered = m_pContext->engine()->renderToFile(file);
    const bool closed = std::fclose(file) == 0;
    if (rendered != 0 || !closed || !target.commit()) {
        target.cancelWriting();
        reportFailure(rendered != 0 ? tr("There is nothing to render yet: record a loop in an idea first.")
                                    : tr("The render could not be written to %1.").arg(QDir::toNativeSeparators(path)));
    }
}

void ZubUI::openZub()
{
    const QString startFolder = Settings::instance().value("last_zub_load_path");
    const QString path = m_pFileChooser->openFileName(this, tr("Open Existing Zub..."), startFolder, "*.zub");
    if (path.isEmpty())
        return;
    // Clears the project (which notifies projectCleared()), reads the tempo and
    // the ideas and tells the page "just_loaded".
    ProjectFile(m_pContext->engine()).open(localPath(path), localPath(m_documentsFolder));
    m_projectFileName = path;
    setWindowFilePath(path);
    setWindowModified(false);
    Settings::instance().setValue("last_zub_load_path", QFileInfo(path).absolutePath());
}

int ZubUI::saveZub()
{
    return saveZub(QString());
}

int ZubUI::saveZub(QString projectFileName)
{
    if (projectFileName.isEmpty()) {
        QString folder = Settings::instance().value("last_zub_load_path");
        if (folder.isEmpty())
            folder = m_documentsFolder;
        projectFileName = m_pFileChooser->saveFileName(this, tr("Save Zub As..."), folder, "*.zub");
        if (projectFileName.isEmpty())
            return 1;
        if (!projectFileName.endsWith(".zub", Qt::CaseInsensitive))
            projectFileName += ".zub";
    }
    if (ProjectFile(m_pContext->engine()).save(localPath(projectFileName)) != 0) {
        reportFailure(tr("Your song could not be saved to %1.").arg(QDir::toNativeSeparators(projectFileName)));
        return 1;
    }
    m_projectFileName = projectFileName;
    setWindowFilePath(projectFileName);
    setWindowModified(false);
    return 0;
}

void ZubUI::slotSaveZub()
{
    qDebug() << "Save Zub" << m_projectFileName;
    saveZub(m_projectFileName);
}

void ZubUI::slotSaveZubAs()
{
    saveZub(QString());
}

void ZubUI::slotShareZub()
{
    qDebug() << "Share is not offered on this platform";
}

void ZubUI::reportFailure(const QString& text)
{
    qDebug() << text;
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text, QMessageBox::Ok, this);
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

void ZubUI::showPreferences()
{
    if (!m_pApp)
        return;
    DlgPreferences dialog(this, m_pApp);
    dialog.exec();
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
    if (!modified)
        return;
    qCDebug(motifoDebug) << "project modified in Qt land!";
    setWindowModified(true);
    action("actionSaveZub")->setEnabled(true);
}

void ZubUI::projectCleared()
{
    setWindowModified(false);
    action("actionSaveZub")->setEnabled(true);
    setWindowFilePath(QString());
    setWindowTitle(QCoreApplication::applicationName());
    m_projectFileName.clear();
}

bool ZubUI::discardChangesConfirmation()
{
    QMessageBox box(this);
    box.setWindowModality(Qt::WindowModal);
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setText(tr("Do you want to save your changes to your song?"));
    box.setInformativeText(tr("Your changes will be lost if you don't save them."));
    box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        return saveZub(QString()) == 0;
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void ZubUI::closeEvent(QCloseEvent* event)
{
    if (confirmDiscard())
        event->accept();
    else
        event->ignore();
}
