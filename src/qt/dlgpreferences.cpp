#include "qt/dlgpreferences.h"

#include "qt/audiodeviceenumerator.h"
#include "qt/devicecontrol.h"
#include "qt/liveinput.h"
#include "qt/midiinputdevice.h"
#include "qt/settings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpacerItem>
#include <cmath>

namespace {

// Fills the box and selects `wanted`: the entry equal to it, else the one of
// the same name (the text after "N. ": numbers move when devices come and
// go), else the first.
void fill(QComboBox* box, const QStringList& entries, const QString& wanted)
{
    box->clear();
    box->addItems(entries);
    int found = int(entries.indexOf(wanted));
    const QString name = wanted.section(". ", 1);
    for (int i = 0; found < 0 && !name.isEmpty() && i < entries.size(); ++i)
        if (entries[i].section(". ", 1) == name)
            found = i;
    box->setCurrentIndex(std::max(0, found));
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
    fillAudioInputs();
    showProblem(QStringList({ m_pApp->outputProblem(), m_pApp->midiProblem() }).filter(QRegularExpression(".")).join("\n"));
    // Connected after filling, so filling does not count as a change.
    connect(m_pPushButtonRescanMidi, &QPushButton::clicked, this, &DlgPreferences::rescanMidiDevices);
    connect(m_pPushButtonMeasure, &QPushButton::clicked, this, &DlgPreferences::measureLatency);
    connect(m_pComboBoxAudioDevice, &QComboBox::currentIndexChanged, this, &DlgPreferences::updateAudioDeviceProperties);
    connect(m_pComboBoxAudioInput, &QComboBox::currentIndexChanged, this, &DlgPreferences::showInputCorrection);
}

void DlgPreferences::buildForm()
{
    setObjectName("DlgPreferences");
    setWindowTitle(tr("Preferences"));
    setWindowModality(Qt::WindowModal);
    resize(420, 300);
    auto* grid = new QGridLayout(this);
    grid->setObjectName("gridLayout");
    auto addRow = [&](int row, const char* labelName, const QString& text, QWidget* field) {
        auto* label = new QLabel(text, this);
        label->setObjectName(labelName);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
    };
    auto comboBox = [this](const char* name) {
        auto* box = new QComboBox(this);
        box->setObjectName(name);
        return box;
    };
    m_pComboBoxAudioDevice = comboBox("comboBoxAudioDevice");
    m_pComboBoxSampleRate = comboBox("comboBoxSampleRate");
    m_pComboBoxMidiDevice = comboBox("comboBoxMidiDevice");
    m_pComboBoxAudioInput = comboBox("comboBoxAudioInput");
    addRow(0, "labelAudioDevice", tr("Audio Device:"), m_pComboBoxAudioDevice);
    addRow(1, "labelSampleRate", tr("Sample Rate:"), m_pComboBoxSampleRate);
    addRow(2, "labelMidiDevice", tr("MIDI Device (Keyboard):"), m_pComboBoxMidiDevice);
    m_pPushButtonRescanMidi = new QPushButton(tr("Rescan MIDI Devices"), this);
    m_pPushButtonRescanMidi->setObjectName("pushButtonRescanMidi");
    grid->addWidget(m_pPushButtonRescanMidi, 3, 1);
    addRow(4, "labelAudioInput", tr("Live Input:"), m_pComboBoxAudioInput);

    // Milliseconds the input's round trip takes beyond what the devices report.
    m_pSpinBoxLatency = new QDoubleSpinBox(this);
    m_pSpinBoxLatency->setObjectName("spinBoxLatencyCorrection");
    m_pSpinBoxLatency->setRange(-500.0, 500.0);
    m_pSpinBoxLatency->setDecimals(1);
    m_pSpinBoxLatency->setSuffix(tr(" ms"));
    m_pPushButtonMeasure = new QPushButton(tr("Measure latency"), this);
    m_pPushButtonMeasure->setObjectName("pushButtonMeasureLatency");
    auto* latencyRow = new QWidget(this);
    auto* latencyLayout = new QHBoxLayout(latencyRow);
    latencyLayout->setContentsMargins(0, 0, 0, 0);
    latencyLayout->addWidget(m_pSpinBoxLatency, 1);
    latencyLayout->addWidget(m_pPushButtonMeasure);
    addRow(5, "labelLatencyCorrection", tr("Latency Correction:"), latencyRow);

    m_pLabelProblem = new QLabel(this);
    m_pLabelProblem->setObjectName("labelProblem");
    m_pLabelProblem->setWordWrap(true);
    m_pLabelProblem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(m_pLabelProblem, 6, 0, 1, 2);
    grid->addItem(new QSpacerItem(20, 20, QSizePolicy::Minimum, QSizePolicy::Expanding), 7, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttons->setObjectName("buttonBox");
    grid->addWidget(buttons, 8, 0, 1, 2);
    connect(buttons, &QDialogButtonBox::accepted, this, &DlgPreferences::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DlgPreferences::reject);
}

void DlgPreferences::fillMidiDevices()
{
    QStringList entries = MidiInputDevice::listInputDevices();
    const QString stored = Settings::instance().value("MidiDevice");
    const QString name = MidiInputDevice::deviceName(stored);
    // A keyboard that is away stays chosen, to be found again when it is back.
    bool present = stored.isEmpty() || stored == "None" || name.isEmpty();
    for (const QString& entry : entries)
        present = present || MidiInputDevice::deviceName(entry) == name;
    if (!present)
        entries << stored;
    fill(m_pComboBoxMidiDevice, entries << "None", stored);
}

void DlgPreferences::fillAudioDevices()
{
    AudioDeviceEnumerator* devices = m_pApp->enumerator();
    fill(m_pComboBoxAudioDevice, devices->deviceList(1), devices->currentOutputEntry());
}

void DlgPreferences::fillAudioInputs()
{
    fill(m_pComboBoxAudioInput, m_pApp->enumerator()->inputDeviceEntries(), Settings::instance().value("AudioInputDevice"));
    showInputCorrection(m_pComboBoxAudioInput->currentIndex());
}

void DlgPreferences::updateAudioDeviceProperties(int)
{
    QStringList rates;
    for (int rate : m_pApp->enumerator()->sampleRatesForDevice(m_pComboBoxAudioDevice->currentText()))
        rates << QString::number(rate);
    fill(m_pComboBoxSampleRate, rates, Settings::instance().value("AudioDeviceSampleRate"));
}

void DlgPreferences::showInputCorrection(int)
{
    m_pSpinBoxLatency->setValue(LiveInput::correctionMs(m_pComboBoxAudioInput->currentText()));
}

void DlgPreferences::showProblem(const QString& text)
{
    m_pLabelProblem->setText(text);
    m_pLabelProblem->setVisible(!text.isEmpty());
}

void DlgPreferences::rescanMidiDevices()
{
    // A new MIDI thread re-initialises PortMidi, which lists new devices.
    m_pApp->deleteMidiThread();
    m_pApp->createMidiThread();
    fillMidiDevices();
    showProblem(m_pApp->midiProblem());
}

void DlgPreferences::measureLatency()
{
    const QString input = m_pComboBoxAudioInput->currentText();
    if (input.isEmpty()) {
        showProblem(tr("There is no audio input to listen on."));
        return;
    }
    showProblem(tr("Listening for a click on %1…").arg(input));
    setCursor(Qt::BusyCursor);
    double seconds = 0.0;
    QString why;
    const bool measured = m_pApp->measureLatency(input, seconds, why);
    unsetCursor();
    if (!measured) {
        showProblem(why);
        return;
    }
    const double ms = std::round(seconds * 10000.0) / 10.0;
    LiveInput::setCorrectionMs(input, ms);
    m_pApp->applyLatencyCorrections();
    m_pSpinBoxLatency->setValue(ms);
    showProblem(tr("The click came back %1 ms later than %2 reports; that is its correction now.").arg(ms).arg(input));
}

void DlgPreferences::accept()
{
    Settings& settings = Settings::instance();
    const QStringList keys = { "AudioDevice", "MidiDevice", "AudioDeviceSampleRate" };
    QStringList previous;
    for (const QString& key : keys)
        previous << settings.value(key);
    settings.setValue("AudioDevice", m_pComboBoxAudioDevice->currentText());
    settings.setValue("MidiDevice", m_pComboBoxMidiDevice->currentText());
    settings.setValue("AudioDeviceSampleRate", m_pComboBoxSampleRate->currentText());
    m_pApp->closeOutput();
    if (!m_pApp->openOutput()) {
        const QString problem = m_pApp->outputProblem();
        settings.setValue("AudioDevice", previous[0]);
        settings.setValue("AudioDeviceSampleRate", previous[2]);
        m_pApp->closeOutput();
        m_pApp->openOutput();
        showProblem(tr("%1\nThe previous output plays again.").arg(problem));
        return;
    }
    m_pApp->deleteMidiThread();
    m_pApp->createMidiThread();
    if (!m_pApp->midiProblem().isEmpty()) {
        const QString problem = m_pApp->midiProblem();
        settings.setValue("MidiDevice", previous[1]);
        m_pApp->deleteMidiThread();
        m_pApp->createMidiThread();
        showProblem(tr("%1\nThe previous MIDI choice is kept.").arg(problem));
        return;
    }
    const QString input = m_pComboBoxAudioInput->currentText();
    if (!input.isEmpty()) {
        settings.setValue("AudioInputDevice", input);
        LiveInput::setCorrectionMs(input, m_pSpinBoxLatency->value());
        m_pApp->applyLatencyCorrections();
    }
    QDialog::accept();
}
