#pragma once

#include <QMainWindow>
#include <QStringList>

class DeviceProblems;
class EngineContext;
class FileChooser;
class QAction;
class QMenu;
class QSignalMapper;
class ZubApp;
class ZubWebView;

// The main window: the page fills it; a small menu bar carries the document
// commands, Instant Export and the preferences.
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

public slots:
    void saveRender();
    void openZub();
    void newZub();
    int saveZub(QString projectFileName);
    int saveZub();
    void showPreferences();
    void showMidiExportDialog(int midiExportApp);
    void projectModified(bool modified);
    void projectCleared();
    bool discardChangesConfirmation();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void slotSaveZub();
    void slotSaveZubAs();
    void slotShareZub();

private:
    QAction* addAction(QMenu* menu, const char* objectName, const char* text);
    void buildForm();
    void buildExportMenu();
    void registerFonts();
    bool confirmDiscard();
    // One MIDI file per idea with loops; the ideas' file names.
    QStringList writeMidiExport(const QString& folder);
    void registerProjectNotifications(bool registered);
    void reportFailure(const QString& text);

    EngineContext* m_pContext;
    ZubApp* m_pApp;
    ZubWebView* m_pWebView = nullptr;
    DeviceProblems* m_pDeviceProblems = nullptr;
    FileChooser* m_pFileChooser;
    QSignalMapper* m_pExportMapper = nullptr;
    QMenu* m_pMenuFile = nullptr;
    QMenu* m_pMenuExport = nullptr;
    QMenu* m_pMenuOptions = nullptr;
    QString m_projectFileName;
    QString m_documentsFolder;
};
