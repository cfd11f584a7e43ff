#pragma once

#include <QObject>
#include <QString>

class ZubWebView;

// What the page sees as `nativeZub`: only these members, nothing of the
// widget behind them.
class ZubNative : public QObject
{
    Q_OBJECT
public:
    explicit ZubNative(ZubWebView* view);

public slots:
    QString handleMessage(const QString& message);
    void installJavaScriptObjects();
    bool render();
    bool save();
    bool saveAs();
    bool open();
    bool share();
    bool firstRun() const;
    QString nativeBackendId() const { return "Qt4"; }
    // A window command by name ("new", "open", "save", "saveAs", "exportIdea",
    // "exportSong"); it runs after the call has returned.
    void command(const QString& name);
    // The MIDI input that is open, empty when none is.
    QString midiInput() const;

private:
    ZubWebView* m_pView;
};
