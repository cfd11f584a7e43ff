#pragma once

#include "core/nativejsbridge.h"

#include <QString>
#include <QWebEngineView>

#include <functional>
#include <string>
#include <vector>

class EngineContext;
class QDropEvent;
class QMimeData;
class QWebChannel;
class QWindow;

// Shows the page and is the page's `nativeZub`: requests go to the JSON API,
// engine messages come back through handleMsgFromQt4 in posting order.
class ZubWebView : public QWebEngineView, public NativeJsBridge
{
    Q_OBJECT
public:
    ZubWebView(QWidget* parent, EngineContext* context, bool firstRun);
    ~ZubWebView();

    void deliverMessage(std::string message) override;
    void postMessage(std::string message) override;

    void evaluateStatement(const QString& statement);
    void loadPage(const QString& pagePath);
    bool isPageReady() const { return m_bPageReady; }

    // The local files a drag carries; empty for anything else.
    static QStringList localFiles(const QMimeData* mime);

    // The page's window commands reach the window after its call returned.
    void requestCommand(const QString& name);
    void setMidiInputName(std::function<QString()> name) { m_midiInputName = std::move(name); }
    QString midiInputName() const { return m_midiInputName ? m_midiInputName() : QString(); }

public slots:
    QString handleMessage(const QString& message);
    void installJavaScriptObjects();
    void onLoadFinished(bool ok);
    bool render();
    bool save();
    bool saveAs();
    bool open();
    bool share();
    void openBrowser(const QUrl& url);
    bool firstRun() const { return m_bFirstRun; }

signals:
    void renderRequested();
    void saveRequested();
    void saveAsRequested();
    void openRequested();
    void shareRequested();
    void commandRequested(const QString& name);
    // Local files dropped onto the page; they never reach the page itself.
    void filesDropped(const QStringList& paths);
    void pageReady();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void installChannelScript();
    // Accepts a drag of local files; false for anything else.
    static bool takesFiles(QDropEvent* e);
    // The page is visible while the window is on the screen: hidden or
    // minimised, it draws nothing.
    void followExposure();

    bool m_bFirstRun;
    EngineContext* m_pContext;
    QWebChannel* m_pChannel;
    bool m_bPageReady = false;
    bool m_bLoadFailed = false;
    // Messages that came before the page had its handler, oldest first.
    std::vector<std::string> m_pending;
    static constexpr std::size_t MAX_PENDING = 1000;
    std::function<QString()> m_midiInputName;
    QWindow* m_pWatchedWindow = nullptr;
};
