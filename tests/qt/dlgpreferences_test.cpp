#include "qt/audiodeviceenumerator.h"
#include "qt/devicecontrol.h"
#include "qt/dlgpreferences.h"
#include "qt/liveinput.h"
#include "qt/settings.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

// Records the order in which the dialog restarts the devices; the output
// and the MIDI input fail while their problem texts are set, and a
// measurement answers what `measured` holds.
class RecordingDevices : public DeviceControl
{
public:
    AudioDeviceEnumerator* enumerator() const override { return const_cast<AudioDeviceEnumerator*>(&m_enumerator); }
    bool openOutput() override
    {
        calls << "openOutput:" + Settings::instance().value("AudioDevice");
        m_outputProblem = failingOutput == Settings::instance().value("AudioDevice") ? "No audio output: it is gone" : "";
        return m_outputProblem.isEmpty();
    }
    void closeOutput() override { calls << "closeOutput"; }
    QString outputProblem() const override { return m_outputProblem; }
    void createMidiThread() override
    {
        calls << "createMidiThread:" + Settings::instance().value("MidiDevice");
        m_midiProblem = failingMidi == Settings::instance().value("MidiDevice") ? "No MIDI keyboard: it is gone" : "";
    }
    void deleteMidiThread() override { calls << "deleteMidiThread"; }
    QString midiProblem() const override { return m_midiProblem; }
    bool measureLatency(const QString& input, double& seconds, QString& why) override
    {
        calls << "measureLatency:" + input;
        seconds = measured;
        why = "nothing came back";
        return measured > -1.0;
    }
    void applyLatencyCorrections() override { calls << "applyLatencyCorrections"; }

    QStringList calls;
    QString failingOutput = "never";
    QString failingMidi = "never";
    double measured = -2.0;

private:
    AudioDeviceEnumerator m_enumerator;
    QString m_outputProblem;
    QString m_midiProblem;
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
    const QString output = dlg.audioDeviceBox()->currentText();
    EXPECT_EQ(devices.calls, QStringList({ "closeOutput", "openOutput:" + output, "deleteMidiThread", "createMidiThread:None" }));
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
    EXPECT_EQ(devices.calls, QStringList({ "deleteMidiThread", "createMidiThread:None" }));
    EXPECT_EQ(dlg.midiDeviceBox()->currentText(), "None");
    dlg.reject();
    EXPECT_EQ(devices.calls.size(), 2);
    EXPECT_EQ(Settings::instance().value("AudioDeviceSampleRate"), "48000");
}

// A device that will not start keeps the dialog open with the reason; the
// previous choice plays again and stays stored.
TEST(DlgPreferences, FailedOkStaysOpenWithTheReasonAndTheOldDevicePlaying)
{
    struct Case {
        const char* what;
        bool outputFails;
        QStringList restarts;
        QString reason;
    };
    const Case cases[] = {
        { "output", true, { "closeOutput", "openOutput:gone", "closeOutput", "openOutput:before" }, "No audio output: it is gone" },
        { "MIDI", false,
            { "closeOutput", "openOutput:gone", "deleteMidiThread", "createMidiThread:2. Gone Keys", "deleteMidiThread",
                "createMidiThread:None" },
            "No MIDI keyboard: it is gone" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingDevices devices;
        devices.failingOutput = c.outputFails ? "gone" : "never";
        devices.failingMidi = "2. Gone Keys";
        Settings::instance().setValue("AudioDevice", "before");
        Settings::instance().setValue("MidiDevice", "None");
        DlgPreferences dlg(nullptr, &devices);
        dlg.audioDeviceBox()->addItem("gone");
        dlg.audioDeviceBox()->setCurrentText("gone");
        dlg.midiDeviceBox()->addItem("2. Gone Keys");
        dlg.midiDeviceBox()->setCurrentText("2. Gone Keys");
        dlg.show();
        dlg.accept();
        EXPECT_EQ(devices.calls, c.restarts);
        EXPECT_TRUE(dlg.isVisible()) << "the dialog closed as if the change worked";
        EXPECT_TRUE(dlg.problemLabel()->isVisible());
        EXPECT_TRUE(dlg.problemLabel()->text().contains(c.reason)) << dlg.problemLabel()->text().toStdString();
        EXPECT_EQ(Settings::instance().value(c.outputFails ? "AudioDevice" : "MidiDevice"), c.outputFails ? "before" : "None");
        dlg.reject();
    }
}

// A keyboard that is away stays the choice (found again by name when it is
// back); one that is there under another number is chosen by its name.
TEST(DlgPreferences, MidiKeyboardIsPreselectedByName)
{
    RecordingDevices devices;
    Settings::instance().setValue("MidiDevice", "7. Keys Nobody Has");
    DlgPreferences dlg(nullptr, &devices);
    EXPECT_EQ(dlg.midiDeviceBox()->currentText(), "7. Keys Nobody Has");
    EXPECT_EQ(entries(dlg.midiDeviceBox()).last(), "None");
}

TEST(DlgPreferences, MeasuredLatencyBecomesTheInputsCorrection)
{
    RecordingDevices devices;
    DlgPreferences dlg(nullptr, &devices);
    dlg.audioInputBox()->clear();
    dlg.audioInputBox()->addItems({ "mic (ALSA)", "interface (JACK Audio Connection Kit)" });
    dlg.audioInputBox()->setCurrentIndex(1);

    devices.measured = 0.01234;
    dlg.measureButton()->click();
    EXPECT_EQ(devices.calls, QStringList({ "measureLatency:interface (JACK Audio Connection Kit)", "applyLatencyCorrections" }));
    EXPECT_DOUBLE_EQ(dlg.latencyBox()->value(), 12.3);
    EXPECT_DOUBLE_EQ(LiveInput::correctionMs("interface (JACK Audio Connection Kit)"), 12.3);
    EXPECT_DOUBLE_EQ(LiveInput::correctionMs("mic (ALSA)"), 0.0);

    // Each input shows its own; a failed measurement changes nothing and says why.
    dlg.audioInputBox()->setCurrentIndex(0);
    EXPECT_DOUBLE_EQ(dlg.latencyBox()->value(), 0.0);
    devices.measured = -2.0;
    dlg.measureButton()->click();
    EXPECT_EQ(dlg.problemLabel()->text(), "nothing came back");
    EXPECT_DOUBLE_EQ(LiveInput::correctionMs("mic (ALSA)"), 0.0);

    // A correction typed by hand is stored on OK.
    dlg.latencyBox()->setValue(-3.5);
    dlg.accept();
    EXPECT_DOUBLE_EQ(LiveInput::correctionMs("mic (ALSA)"), -3.5);
    EXPECT_EQ(Settings::instance().value("AudioInputDevice"), "mic (ALSA)");
}

} // namespace
