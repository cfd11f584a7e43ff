#pragma once

#include <QDialog>
#include <QStringList>

class MidiExportListWidget;
class QDialogButtonBox;
class QLabel;
class QPushButton;

// "MIDI Export to ...": offers to launch the chosen application if it was
// found, and shows one icon per idea to drag into it.
class DlgMidiExport : public QDialog
{
    Q_OBJECT
public:
    DlgMidiExport(QWidget* parent, const QStringList& ideaNames, int midiExportApp, const QString& exportDir);

    static QString applicationName(int midiExportApp);
    // What step 2 drops the ideas into.
    static QString dropTarget(int midiExportApp);

    QLabel* labelStep1() const { return m_pLabelStep1; }
    QLabel* labelStep2() const { return m_pLabelStep2; }
    QPushButton* launchButton() const { return m_pPushButtonLaunch; }
    MidiExportListWidget* listWidget() const { return m_pListWidget; }

public slots:
    void launch();

private:
    void buildForm();
    void fillIdeas(const QStringList& ideaNames);

    int m_iMidiExportApp;
    QLabel* m_pLabelStep1 = nullptr;
    QPushButton* m_pPushButtonLaunch = nullptr;
    QLabel* m_pLabelStep2 = nullptr;
    MidiExportListWidget* m_pListWidget = nullptr;
    QDialogButtonBox* m_pButtonBox = nullptr;
};
