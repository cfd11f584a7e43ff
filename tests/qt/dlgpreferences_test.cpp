#include "qt/audiodeviceenumerator.h"
#include "qt/devicecontrol.h"
#include "qt/dlgpreferences.h"
#include "qt/settings.h"

#include <QComboBox>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

// Records the order in which the dialog restarts the devices.
class RecordingDevices : public DeviceControl
{
public:
    AudioDeviceEnumerator* enumerator() const override { return const_cast<AudioDeviceEnumerator*>(&m_enumerator); }
    void openOutput() override { calls << "openOutput"; }
    void closeOutput() override { calls << "closeOutput"; }
    void createMidiThread() override { calls << "createMidiThread"; }
    void deleteMidiThread() override { calls << "deleteMidiThread"; }

    QStringList calls;

private:
    AudioDeviceEnumerator m_enumerator;
};

QStringList entries(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

TEST(DlgPreferences, ListsAndSelection)
{
    RecordingDevices devices;
    Settings::instance().setValue("AudioDeviceSampleRate", "48000");
    Settings::instance().setValue("MidiDevice", "None");
    DlgPreferences dlg(nullptr, &devices);
    EXPECT_EQ(dlg.windowTitle(), "Preferences");
    EXPECT_EQ(dlg.windowModality(), Qt::WindowModal);
    EXPECT_EQ(entries(dlg.sampleRateBox()), QStringList({ "44100" }));
    EXPECT_EQ(dlg.sampleRateBox()->currentText(), "44100"); // 48000 is not offered
    EXPECT_EQ(entries(dlg.midiDeviceBox()).last(), "None");
    EXPECT_EQ(dlg.midiDeviceBox()->currentText(), "None");
    EXPECT_EQ(entries(dlg.audioDeviceBox()), devices.enumerator()->deviceList(1));
    EXPECT_FALSE(entries(dlg.audioDeviceBox()).contains("System Default"));
    EXPECT_TRUE(devices.calls.isEmpty()) << "filling must not restart anything";
}

TEST(DlgPreferences, OkStoresAndRestartsOutputThenMidi)
{
    RecordingDevices devices;
    Settings::instance().setValue("AudioDeviceSampleRate", "48000");
    Settings::instance().setValue("MidiDevice", "");
    DlgPreferences dlg(nullptr, &devices);
    dlg.midiDeviceBox()->setCurrentIndex(dlg.midiDeviceBox()->count() - 1);
    dlg.accept();
    EXPECT_EQ(devices.calls, QStringList({ "closeOutput", "openOutput", "deleteMidiThread", "createMidiThread" }));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(Settings::instance().value("AudioDeviceSampleRate"), "44100");
    EXPECT_EQ(Settings::instance().value("MidiDevice"), "None");
    EXPECT_EQ(Settings::instance().value("AudioDevice"), dlg.audioDeviceBox()->currentText());
}

TEST(DlgPreferences, CancelChangesNothingAndRescanRestartsMidiOnly)
{
    RecordingDevices devices;
    Settings::instance().setValue("AudioDeviceSampleRate", "48000");
    Settings::instance().setValue("MidiDevice", "None");
    DlgPreferences dlg(nullptr, &devices);
    dlg.rescanButton()->click();
    EXPECT_EQ(devices.calls, QStringList({ "deleteMidiThread", "createMidiThread" }));
    EXPECT_EQ(dlg.midiDeviceBox()->currentText(), "None");
    dlg.reject();
    EXPECT_EQ(devices.calls.size(), 2);
    EXPECT_EQ(Settings::instance().value("AudioDeviceSampleRate"), "48000");
}

} // namespace
