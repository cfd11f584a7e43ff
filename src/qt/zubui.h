#pragma once

#include <QMainWindow>

class EngineContext;
class ZubApp;
class ZubWebView;

// The main window: the page fills it.
class ZubUI : public QMainWindow
{
    Q_OBJECT
public:
    ZubUI(EngineContext* context, ZubApp* app, bool firstRun);

    ZubWebView* webView() const { return m_pWebView; }

private:
    EngineContext* m_pContext;
    ZubApp* m_pApp;
    ZubWebView* m_pWebView;
};
