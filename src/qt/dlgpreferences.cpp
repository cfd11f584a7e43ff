#include "qt/dlgpreferences.h"

#include "qt/audiodeviceenumerator.h"
#include "qt/devicecontrol.h"
#include "qt/midiinputdevice.h"
#include "qt/settings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>

namespace {

// Selects the entry equal to the stored value, or the first.
void fill(QComboBox* box, const QStringList& entries, const QString& key)
{
    box->clear();
    box->addItems(entries);
    box->setCurrentIndex(std::max(0, int(entries.indexOf(Settings::instance().value(key)))));
}

} // namespace

DlgPreferences::DlgPreferences(QWidget* parent, DeviceControl* app)
    : QDialog(parent, Qt::Sheet)
    , m_pApp(app)
{
    buildForm();
    fillMidiDevices();
    fillAudioDevices();
    updateAudioDeviceProperties(m_pComboBoxAudioDevice->currentIndex());
    // Connected after filling, so filling does not count as a change.
    connect(m_pPushButtonRescanMidi, &QPushButton::clicked, this, &DlgPreferences::rescanMidiDevices);
    connect(m_pComboBoxAudioDevice, &QComboBox::currentIndexChanged, this, &DlgPreferences::updateAudioDeviceProperties);
}

void DlgPreferences::buildForm()
{
    setObjectName("DlgPreferences");
    setWindowTitle(tr("Preferences"));
    setWindowModality(Qt::WindowModal);
    resize(364, 222);
    auto* grid = new QGridLayout(this);
    grid->setObjectName("gridLayout");
    auto addRow = [&](int row, const char* labelName, const QString& text, QComboBox*& box, const char* boxName) {
        auto* label = new QLabel(text, this);
        label->setObjectName(labelName);
        box = new QComboBox(this);
        box->setObjectName(boxName);
        grid->addWidget(label, row, 0);
        grid->addWidget(box, row, 1);
    };
    addRow(0, "labelAudioDevice", tr("Audio Device:"), m_pComboBoxAudioDevice, "comboBoxAudioDevice");
    addRow(1, "labelSampleRate", tr("Sample Rate:"), m_pComboBoxSampleRate, "comboBoxSampleRate");
    addRow(2, "labelMidiDevice", tr("MIDI Device (Keyboard):"), m_pComboBoxMidiDevice, "comboBoxMidiDevice");
    m_pPushButtonRescanMidi = new QPushButton(tr("Rescan MIDI Devices"), this);
    m_pPushButtonRescanMidi->setObjectName("pushButtonRescanMidi");
    grid->addWidget(m_pPushButtonRescanMidi, 3, 1);
    grid->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding), 4, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttons->setObjectName("buttonBox");
    grid->addWidget(buttons, 5, 0, 1, 2);
    connect(buttons, &QDialogButtonBox::accepted, this, &DlgPreferences::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DlgPreferences::reject);
}

void DlgPreferences::fillMidiDevices()
{
    fill(m_pComboBoxMidiDevice, MidiInputDevice::listInputDevices() << "None", "MidiDevice");
}

void DlgPreferences::fillAudioDevices()
{
    fill(m_pComboBoxAudioDevice, m_pApp->enumerator()->deviceList(1), "AudioDevice");
}

void DlgPreferences::updateAudioDeviceProperties(int)
{
    QStringList rates;
    for (int rate : m_pApp->enumerator()->sampleRatesForDevice(m_pComboBoxAudioDevice->currentText()))
        rates << QString::number(rate);
    fill(m_pComboBoxSampleRate, rates, "AudioDeviceSampleRate");
}

void DlgPreferences::rescanMidiDevices()
{
    // A new MIDI thread re-initialises PortMidi, which lists new devices.
    m_pApp->deleteMidiThread();
    m_pApp->createMidiThread();
    fillMidiDevices();
}

void DlgPreferences::accept()
{
    Settings& settings = Settings::instance();
    settings.setValue("AudioDevice", m_pComboBoxAudioDevice->currentText());
    settings.setValue("MidiDevice", m_pComboBoxMidiDevice->currentText());
    settings.setValue("AudioDeviceSampleRate", m_pComboBoxSampleRate->currentText());
    m_pApp->closeOutput();
    m_pApp->openOutput();
    m_pApp->deleteMidiThread();
    m_pApp->createMidiThread();
    QDialog::accept();
}
