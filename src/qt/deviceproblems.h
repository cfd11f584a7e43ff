#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <string>

class QLabel;
class QStatusBar;
class ZubWebView;

// Says which device failed and why, where the musician looks: a line in the
// window's status bar and a "devices" state for the page, sent again
// whenever the page (re)loads. A device that works again clears its line.
class DeviceProblems : public QObject
{
    Q_OBJECT
public:
    enum Kind { AudioOutput = 0, AudioInput = 1, MidiInput = 2 };

    DeviceProblems(QStatusBar* statusBar, ZubWebView* page);

    // An empty text means the device works.
    void set(Kind kind, const QString& problem);
    QString problem(Kind kind) const { return m_problems[kind]; }
    // What the status bar shows: every problem, one after the other.
    QString text() const;
    // { "devices" : { "audio_output" : <bool>, "problems" : [ ... ] } }
    std::string stateMessage() const;

private:
    void show();

    std::array<QString, 3> m_problems;
    QLabel* m_pLabel;
    ZubWebView* m_pPage;
};
