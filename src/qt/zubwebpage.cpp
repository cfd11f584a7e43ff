#include "qt/zubwebpage.h"

#include <QDebug>

namespace {

// A page that exists only to catch the address of a window the page opens.
class LinkCatcherPage : public QWebEnginePage
{
public:
    explicit LinkCatcherPage(ZubWebPage* owner)
        : QWebEnginePage(owner)
        , m_pOwner(owner)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        emit m_pOwner->linkClicked(url);
        deleteLater();
        return false;
    }

private:
    ZubWebPage* m_pOwner;
};

} // namespace

ZubWebPage::ZubWebPage(QObject* parent)
    : QWebEnginePage(parent)
{
}

void ZubWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int lineNumber,
    const QString& sourceID)
{
    qDebug().noquote() << "js:" << sourceID << lineNumber << message;
}

bool ZubWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    if (type == NavigationTypeLinkClicked && url.scheme() != "file" && url.scheme() != "qrc") {
        emit linkClicked(url);
        return false;
    }
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

QWebEnginePage* ZubWebPage::createWindow(WebWindowType)
{
    return new LinkCatcherPage(this);
}
