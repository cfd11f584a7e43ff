#pragma once

#include <QDialog>

class DeviceControl;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

// "Preferences": the audio output, its sample rate, the MIDI keyboard, and
// the live input's latency correction with its measurement. OK stores the
// choices and restarts the output and the MIDI input; a device that fails to
// start keeps the dialog open with the reason, the previous one playing again.
class DlgPreferences : public QDialog
{
    Q_OBJECT
public:
    DlgPreferences(QWidget* parent, DeviceControl* app);

    QComboBox* audioDeviceBox() const { return m_pComboBoxAudioDevice; }
    QComboBox* sampleRateBox() const { return m_pComboBoxSampleRate; }
    QComboBox* midiDeviceBox() const { return m_pComboBoxMidiDevice; }
    QComboBox* audioInputBox() const { return m_pComboBoxAudioInput; }
    QDoubleSpinBox* latencyBox() const { return m_pSpinBoxLatency; }
    QPushButton* rescanButton() const { return m_pPushButtonRescanMidi; }
    QPushButton* measureButton() const { return m_pPushButtonMeasure; }
    // Why the last OK or measurement did not work; empty when it did.
    QLabel* problemLabel() const { return m_pLabelProblem; }

public slots:
    void rescanMidiDevices();
    void measureLatency();
    void accept() override;

private slots:
    void updateAudioDeviceProperties(int index);
    void showInputCorrection(int index);

private:
    void buildForm();
    void fillMidiDevices();
    void fillAudioDevices();
    void fillAudioInputs();
    void showProblem(const QString& text);

    DeviceControl* m_pApp;
    QComboBox* m_pComboBoxAudioDevice = nullptr;
    QComboBox* m_pComboBoxSampleRate = nullptr;
    QComboBox* m_pComboBoxMidiDevice = nullptr;
    QComboBox* m_pComboBoxAudioInput = nullptr;
    QDoubleSpinBox* m_pSpinBoxLatency = nullptr;
    QPushButton* m_pPushButtonRescanMidi = nullptr;
    QPushButton* m_pPushButtonMeasure = nullptr;
    QLabel* m_pLabelProblem = nullptr;
};
