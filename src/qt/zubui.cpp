#include "qt/zubui.h"

#include "qt/zubwebview.h"

ZubUI::ZubUI(EngineContext* context, ZubApp* app, bool firstRun)
    : m_pContext(context)
    , m_pApp(app)
{
    setWindowTitle("Motifo");
    resize(1000, 674);
    m_pWebView = new ZubWebView(this, context, firstRun);
    setCentralWidget(m_pWebView);
}
