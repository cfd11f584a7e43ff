#pragma once

#include <QDialog>

class DeviceControl;
class QComboBox;
class QPushButton;

// "Preferences": the audio output, its sample rate and the MIDI keyboard.
// OK stores the choices and restarts the output and the MIDI input.
class DlgPreferences : public QDialog
{
    Q_OBJECT
public:
    DlgPreferences(QWidget* parent, DeviceControl* app);

    QComboBox* audioDeviceBox() const { return m_pComboBoxAudioDevice; }
    QComboBox* sampleRateBox() const { return m_pComboBoxSampleRate; }
    QComboBox* midiDeviceBox() const { return m_pComboBoxMidiDevice; }
    QPushButton* rescanButton() const { return m_pPushButtonRescanMidi; }

public slots:
    void rescanMidiDevices();
    void accept() override;

private slots:
    void updateAudioDeviceProperties(int index);

private:
    void buildForm();
    void fillMidiDevices();
    void fillAudioDevices();

    DeviceControl* m_pApp;
    QComboBox* m_pComboBoxAudioDevice = nullptr;
    QComboBox* m_pComboBoxSampleRate = nullptr;
    QComboBox* m_pComboBoxMidiDevice = nullptr;
    QPushButton* m_pPushButtonRescanMidi = nullptr;
};
