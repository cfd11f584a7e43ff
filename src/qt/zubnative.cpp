#include "qt/zubnative.h"

#include "qt/zubwebview.h"

ZubNative::ZubNative(ZubWebView* view)
    : QObject(view)
    , m_pView(view)
{
}

QString ZubNative::handleMessage(const QString& message) { return m_pView->handleMessage(message); }
void ZubNative::installJavaScriptObjects() { m_pView->installJavaScriptObjects(); }
bool ZubNative::render() { return m_pView->render(); }
bool ZubNative::save() { return m_pView->save(); }
bool ZubNative::saveAs() { return m_pView->saveAs(); }
bool ZubNative::open() { return m_pView->open(); }
bool ZubNative::share() { return m_pView->share(); }
bool ZubNative::firstRun() const { return m_pView->firstRun(); }
void ZubNative::command(const QString& name) { m_pView->requestCommand(name); }
QString ZubNative::midiInput() const { return m_pView->midiInputName(); }
