#pragma once

#include <QWebEnginePage>

// The page's console goes to the debug log; links that leave the page open
// in the system's browser.
class ZubWebPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit ZubWebPage(QObject* parent = nullptr);

signals:
    void linkClicked(const QUrl& url);

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
        const QString& sourceID) override;
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
};
