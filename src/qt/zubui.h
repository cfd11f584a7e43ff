#pragma once

#include "qt/recentsongs.h"

#include <QMainWindow>
#include <QSize>
#include <QMessageBox>
#include <QStringList>

#include <functional>

class Autosave;
class DeviceProblems;
class EngineContext;
class FileChooser;
class Project;
class QAction;
class QMenu;
class QSignalMapper;
class ZubApp;
class ZubWebView;

// The main window: the page fills it; a small menu bar carries the document
// commands, Instant Export and the preferences. The title names the song and
// marks unsaved changes; the page is told the same.
class ZubUI : public QMainWindow
{
    Q_OBJECT
public:
    // The context is never null; app may be (no preferences then).
    ZubUI(EngineContext* context, ZubApp* app, bool firstRun);
    ~ZubUI() override;

    ZubWebView* webView() const { return m_pWebView; }
    DeviceProblems* deviceProblems() const { return m_pDeviceProblems; }
    QString projectFileName() const { return m_projectFileName; }
    QString documentsFolder() const { return m_documentsFolder; }
    // Takes ownership; tests answer the file dialogs through it.
    void setFileChooser(FileChooser* chooser);
    // Where the ideas are written for Instant Export.
    QString midiExportFolder() const;
    QAction* action(const QString& objectName) const;
    RecentSongs& recentSongs() { return m_recentSongs; }
    Autosave* autosave() const { return m_pAutosave; }

    // Below this the page no longer fits.
    static constexpr QSize MINIMUM_SIZE { 900, 600 };
    static constexpr QSize DEFAULT_SIZE { 1120, 720 };

public slots:
    void saveRender();
    // The active idea, or every idea in order, into a WAV file the user
    // chooses; progress and the result go to the page as "render" messages.
    void exportIdea();
    void exportSong();
    // A command the page asked for by name.
    void runPageCommand(const QString& name);
    void openZub();
    void newZub();
    int saveZub(QString projectFileName);
    int saveZub();
    void showPreferences();
    void showMidiExportDialog(int midiExportApp);
    void projectModified(bool modified);
    void projectCleared();
    bool discardChangesConfirmation();
    // Opens a song, asking about unsaved changes first; an unreadable one is
    // refused with its reason and the current song stays.
    void openDocument(const QString& path);
    // Files dropped onto the window: a song opens, WAV files become loops of
    // the active idea, anything else is refused with the reason.
    void openDroppedFiles(const QStringList& paths);
    // Help > "Open log folder": shows the folder that holds motifo.log.
    void openLogFolder();
    // Once the page is up: a recovery copy left by a crash is offered back,
    // naming the song and when it was copied; then the autosave starts.
    void offerRecovery();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private slots:
    void slotSaveZub();
    void slotSaveZubAs();
    void slotShareZub();
    void fillRecentMenu();

private:
    // One document command at a time: while one waits on a dialog, the page
    // may still ask for another, which is then refused.
    class Command
    {
    public:
        Command(ZubUI* window, const char* name);
        ~Command();
        explicit operator bool() const { return m_bStarted; }

    private:
        ZubUI* m_pWindow;
        bool m_bStarted;
    };

    QAction* addAction(QMenu* menu, const char* objectName, const char* text);
    void buildForm();
    void buildExportMenu();
    void registerFonts();
    Project* project() const;
    // Inside a command: asks only when something changed.
    bool confirmDiscard();
    void openChecked(const QString& path);
    // The one place a song is written and the one place it is read; on
    // failure why says what went wrong. Both work on the song files' thread
    // and are waited for in a local event loop, so the window and the page
    // stay responsive and the music plays on; a song read replaces the
    // current one only once it is whole. A save clears the unsaved mark only
    // when nothing changed while it was written.
    int writeDocument(const QString& path, QString& why);
    int readDocument(const QString& path, QString& why);
    // start hands a job to the song files' thread and calls `finished` from
    // there when it is done; returns once it was called.
    void waitForSongFiles(const std::function<void(std::function<void()> finished)>& start);
    QString askSaveName();
    void adoptDocument(const QString& path);
    void showDocumentState();
    void addDroppedWav(const QString& path);
    void recover(const QString& song);
    // One MIDI file per idea with loops; the ideas' file names.
    QStringList writeMidiExport(const QString& folder);
    void registerProjectNotifications(bool registered);
    QMessageBox::StandardButton ask(QMessageBox::Icon icon, const QString& text, const QString& informative,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);
    // Runs the question window-modal, with the question and the answer in the log.
    QMessageBox::StandardButton askWith(QMessageBox& box);
    void reportFailure(const QString& text, const QString& informative = QString());
    void exportWav(bool song);
    void failExport(const char* what, const QString& text, const QString& informative = QString());
    void tellPage(const char* what, const char* key, const QString& value);

    EngineContext* m_pContext;
    ZubApp* m_pApp;
    ZubWebView* m_pWebView = nullptr;
    DeviceProblems* m_pDeviceProblems = nullptr;
    FileChooser* m_pFileChooser;
    QSignalMapper* m_pExportMapper = nullptr;
    QMenu* m_pMenuFile = nullptr;
    QMenu* m_pMenuRecent = nullptr;
    QMenu* m_pMenuExport = nullptr;
    QMenu* m_pMenuOptions = nullptr;
    QString m_projectFileName;
    QString m_documentsFolder;
    RecentSongs m_recentSongs;
    Autosave* m_pAutosave = nullptr;
    bool m_bCommandRunning = false;
};
