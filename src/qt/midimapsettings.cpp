#include "qt/midimapsettings.h"

#include "engine/midimap.h"
#include "qt/settings.h"

#include <QMetaObject>
#include <QPointer>

void MidiMapSettings::attach(MidiMap& map, QObject* context)
{
    map.fromSettings(Settings::instance().value(KEY).toStdString());
    QPointer<QObject> guard(context);
    // A binding learnt on the MIDI thread is stored on the GUI thread.
    map.setOnChange([&map, guard] {
        if (!guard)
            return;
        QMetaObject::invokeMethod(
            guard.data(),
            [&map] {
                Settings::instance().setValue(KEY, QString::fromStdString(map.toSettings()));
                Settings::instance().save();
            },
            Qt::QueuedConnection);
    });
}

void MidiMapSettings::detach(MidiMap& map)
{
    map.setOnChange({});
}
