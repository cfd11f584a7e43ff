#include "qt/zubwebview.h"

#include "core/resourcedir.h"
#include "engine/enginecontext.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "qt/installlayout.h"
#include "qt/jsmessageevent.h"
#include "qt/jsstatement.h"
#include "qt/zubnative.h"
#include "qt/zubwebpage.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QShowEvent>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWindow>

#include <utility>

namespace {

// Runs at document creation: brings up the channel, offers `nativeZub` with
// promise-returning methods, and asks the host to install the page's side
// once both the channel and the page's own scripts are ready.
const char* kBootstrap = R"JS(
(function () {
  function whenLoaded(cb) {
    if (document.readyState === 'complete') cb();
    else window.addEventListener('load', cb, { once: true });
  }
  new QWebChannel(qt.webChannelTransport, function (channel) {
    var raw = channel.objects.nativeZub;
    function call(name) {
      return function () {
        var args = Array.prototype.slice.call(arguments);
        return new Promise(function (resolve) { args.push(resolve); raw[name].apply(raw, args); });
      };
    }
    window.nativeZub = {};
    ['handleMessage', 'render', 'save', 'saveAs', 'open', 'share', 'firstRun', 'nativeBackendId',
     'installJavaScriptObjects', 'command', 'midiInput']
      .forEach(function (n) { window.nativeZub[n] = call(n); });
    whenLoaded(function () { raw.installJavaScriptObjects(); });
  });
})();
)JS";

} // namespace

ZubWebView::ZubWebView(QWidget* parent, EngineContext* context, bool firstRun)
    : QWebEngineView(parent)
    , m_bFirstRun(firstRun)
    , m_pContext(context)
    , m_pChannel(new QWebChannel(this))
{
    if (m_pContext)
        m_pContext->engine()->setJsBridge(this);
    setContextMenuPolicy(Qt::PreventContextMenu);

    auto* page = new ZubWebPage(this);
    connect(page, &ZubWebPage::linkClicked, this, &ZubWebView::openBrowser);
    page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    // Whatever is dropped, the page stays.
    page->settings()->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    setPage(page);
    m_pChannel->registerObject("nativeZub", new ZubNative(this));
    page->setWebChannel(m_pChannel);
    installChannelScript();
    connect(this, &QWebEngineView::loadFinished, this, &ZubWebView::onLoadFinished);

    loadPage(InstallLayout::forThisProgram().pageDirectory() + "/zub.html");
}

ZubWebView::~ZubWebView()
{
    // The engine outlives the window; nothing may post to a deleted view.
    if (m_pContext)
        m_pContext->engine()->setJsBridge(nullptr);
}

void ZubWebView::loadPage(const QString& pagePath)
{
    m_bPageReady = false;
    qDebug() << "Loading" << pagePath;
    // Chromium shows its own error page for a missing file and may report
    // that as a success; check first.
    if (!QFileInfo(pagePath).isReadable()) {
        m_bLoadFailed = true;
        setHtml("<p>Error loading page.</p>");
        qDebug() << "Error loading page.";
        return;
    }
    m_bLoadFailed = false;
    load(QUrl::fromLocalFile(pagePath));
}

void ZubWebView::installChannelScript()
{
    QFile lib(":/qtwebchannel/qwebchannel.js");
    if (!lib.open(QIODevice::ReadOnly)) {
        qDebug() << "qwebchannel.js not found; the page cannot reach the engine";
        return;
    }
    QWebEngineScript script;
    script.setName("motifo-bridge");
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QString::fromUtf8(lib.readAll()) + kBootstrap);
    page()->scripts().insert(script);
}

QString ZubWebView::handleMessage(const QString& message)
{
    if (!m_pContext)
        return QString();
    const std::string reply = m_pContext->api()->handleMessage(message.toStdString());
    deliverMessage(reply);
    return QString::fromStdString(reply);
}

void ZubWebView::installJavaScriptObjects()
{
    if (m_bLoadFailed)
        return;
    // Where the content is, wherever this copy is installed, and the version.
    const QString contentUrl = QUrl::fromLocalFile(QDir::current().absoluteFilePath(ZUB_RESOURCE_DIR)).toString() + "/";
    evaluateStatement("window.native_res_url = '" + JsStatement::escapeForSingleQuotedLiteral(contentUrl) + "'");
    evaluateStatement("window.native_version = '" MOTIFO_VERSION "'");
    evaluateStatement("window.loaded_native = true;");
    // What came while the page loaded, in order, before it asks for every state.
    for (const std::string& message : std::exchange(m_pending, {}))
        page()->runJavaScript(JsStatement::handleMsgCall(QString::fromStdString(message)));
    evaluateStatement("checkInit()");
    m_bPageReady = true;
    emit pageReady();
}

void ZubWebView::onLoadFinished(bool ok)
{
    // On success the page's bootstrap calls installJavaScriptObjects() once
    // the channel is up.
    if (!ok && !m_bLoadFailed) {
        m_bLoadFailed = true;
        qDebug() << "Error loading page.";
    }
}

void ZubWebView::deliverMessage(std::string message)
{
    // A page still loading has no handler yet: the message waits for it.
    if (!m_bPageReady) {
        if (m_pending.size() < MAX_PENDING)
            m_pending.push_back(std::move(message));
        return;
    }
    page()->runJavaScript(JsStatement::handleMsgCall(QString::fromStdString(message)));
}

void ZubWebView::postMessage(std::string message)
{
    // Any thread: Qt's event queue carries the message to the GUI thread.
    QCoreApplication::postEvent(this, new JsMessageEvent(std::move(message)));
}

bool ZubWebView::event(QEvent* e)
{
    if (e->type() == JsMessageEvent::TYPE) {
        if (auto* m = dynamic_cast<JsMessageEvent*>(e)) {
            m->accept();
            deliverMessage(m->message);
            return true;
        }
    }
    return QWebEngineView::event(e);
}

void ZubWebView::showEvent(QShowEvent* e)
{
    QWebEngineView::showEvent(e);
    QWindow* shown = window()->windowHandle();
    if (shown && shown != m_pWatchedWindow) {
        if (m_pWatchedWindow)
            m_pWatchedWindow->removeEventFilter(this);
        m_pWatchedWindow = shown;
        shown->installEventFilter(this);
    }
    followExposure();
}

bool ZubWebView::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == m_pWatchedWindow && (e->type() == QEvent::Expose || e->type() == QEvent::Hide))
        followExposure();
    return QWebEngineView::eventFilter(watched, e);
}

void ZubWebView::followExposure()
{
    const bool exposed = m_pWatchedWindow && m_pWatchedWindow->isExposed() && isVisible();
    if (page()->isVisible() != exposed)
        page()->setVisible(exposed);
}

void ZubWebView::evaluateStatement(const QString& statement)
{
    page()->runJavaScript(statement + "; null");
}

void ZubWebView::requestCommand(const QString& name)
{
    qDebug() << "Page command" << name;
    // Queued: a command may open a dialog, and the page's call returns first.
    QMetaObject::invokeMethod(this, [this, name] { emit commandRequested(name); }, Qt::QueuedConnection);
}

bool ZubWebView::render()
{
    qDebug() << "ZubWebView::render()";
    emit renderRequested();
    return true;
}

bool ZubWebView::save()
{
    qDebug() << "ZubWebView::save()";
    emit saveRequested();
    return true;
}

bool ZubWebView::saveAs()
{
    qDebug() << "ZubWebView::saveAs()";
    emit saveAsRequested();
    return true;
}

bool ZubWebView::open()
{
    qDebug() << "ZubWebView::open()";
    emit openRequested();
    return true;
}

QStringList ZubWebView::localFiles(const QMimeData* mime)
{
    QStringList paths;
    for (const QUrl& url : mime ? mime->urls() : QList<QUrl>())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    return paths;
}

// Files go to the window's commands; other drags (text) reach the page.
bool ZubWebView::takesFiles(QDropEvent* e)
{
    if (localFiles(e->mimeData()).isEmpty())
        return false;
    e->acceptProposedAction();
    return true;
}

void ZubWebView::dragEnterEvent(QDragEnterEvent* e)
{
    if (!takesFiles(e))
        QWebEngineView::dragEnterEvent(e);
}

void ZubWebView::dragMoveEvent(QDragMoveEvent* e)
{
    if (!takesFiles(e))
        QWebEngineView::dragMoveEvent(e);
}

void ZubWebView::dropEvent(QDropEvent* e)
{
    if (takesFiles(e))
        emit filesDropped(localFiles(e->mimeData()));
    else
        QWebEngineView::dropEvent(e);
}

bool ZubWebView::share()
{
    qDebug() << "ZubWebView::share()";
    emit shareRequested();
    return true;
}

void ZubWebView::openBrowser(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}
