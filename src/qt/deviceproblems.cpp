#include "qt/deviceproblems.h"

#include "qt/zubwebview.h"

#include <QLabel>
#include <QStatusBar>
#include <json/value.h>
#include <json/writer.h>

DeviceProblems::DeviceProblems(QStatusBar* statusBar, ZubWebView* page)
    : QObject(statusBar)
    , m_pLabel(new QLabel(statusBar))
    , m_pPage(page)
{
    m_pLabel->setObjectName("labelDeviceProblems");
    m_pLabel->setWordWrap(true);
    m_pLabel->hide();
    statusBar->addWidget(m_pLabel, 1);
    // A page loaded later learns of what is wrong; it assumes all is well.
    if (m_pPage)
        connect(m_pPage, &ZubWebView::pageReady, this, [this] {
            if (!text().isEmpty())
                show();
        });
}

void DeviceProblems::set(Kind kind, const QString& problem)
{
    if (m_problems[kind] == problem)
        return;
    m_problems[kind] = problem;
    show();
}

QString DeviceProblems::text() const
{
    QStringList lines;
    for (const QString& p : m_problems)
        if (!p.isEmpty())
            lines << p;
    return lines.join("  ·  ");
}

std::string DeviceProblems::stateMessage() const
{
    Json::Value root;
    Json::Value& devices = root["devices"];
    devices["audio_output"] = m_problems[AudioOutput].isEmpty();
    devices["problems"] = Json::Value(Json::arrayValue);
    for (const QString& p : m_problems)
        if (!p.isEmpty())
            devices["problems"].append(p.toStdString());
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return Json::writeString(writer, root);
}

void DeviceProblems::show()
{
    m_pLabel->setText(text());
    m_pLabel->setVisible(!text().isEmpty());
    if (m_pPage)
        m_pPage->postMessage(stateMessage());
}
