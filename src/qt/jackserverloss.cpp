#include "qt/jackserverloss.h"

#include <cstddef>

namespace {

// The front of PortAudio's own stream and host API records (pa_stream.h and
// pa_hostapi.h), the same for every host API since version 19.
struct StreamInterface
{
    PaError (*close)(PaStream*);
    PaError (*start)(PaStream*);
    PaError (*stop)(PaStream*);
    PaError (*abort)(PaStream*);
    PaError (*isStopped)(PaStream*);
    PaError (*isActive)(PaStream*);
    PaTime (*getTime)(PaStream*);
    double (*getCpuLoad)(PaStream*);
    PaError (*read)(PaStream*, void*, unsigned long);
    PaError (*write)(PaStream*, const void*, unsigned long);
    signed long (*getReadAvailable)(PaStream*);
    signed long (*getWriteAvailable)(PaStream*);
};

struct StreamRecord
{
    unsigned long magic;
    StreamRecord* nextOpenStream;
    StreamInterface* streamInterface;
};

constexpr unsigned long STREAM_MAGIC = 0x18273645;

struct HostApiRecord
{
    unsigned long baseDeviceIndex;
    PaHostApiInfo info;
    PaDeviceInfo** deviceInfos;
    void (*terminate)(HostApiRecord*);
};

PaError stopped(PaStream*)
{
    return 1;
}

PaError closedWithoutJack(PaStream*)
{
    return paNoError;
}

void terminatedWithoutJack(HostApiRecord*)
{
}

// Shared by every released stream; PortAudio only reads it.
StreamInterface releasedInterface()
{
    StreamInterface i {};
    i.close = closedWithoutJack;
    i.isStopped = stopped;
    return i;
}

} // namespace

bool JackServerLoss::s_bClientLost = false;

bool JackServerLoss::releaseStream(PaStream* stream)
{
    static StreamInterface released = releasedInterface();
    auto* record = static_cast<StreamRecord*>(stream);
    if (!record || record->magic != STREAM_MAGIC)
        return false;
    record->streamInterface = &released;
    s_bClientLost = true;
    return true;
}

bool JackServerLoss::releaseHostApi()
{
    s_bClientLost = false;
    const PaHostApiIndex index = Pa_HostApiTypeIdToHostApiIndex(paJACK);
    const PaHostApiInfo* info = index >= 0 ? Pa_GetHostApiInfo(index) : nullptr;
    if (!info)
        return false;
    // Pa_GetHostApiInfo() hands out the info member of the host API's record.
    auto* record = reinterpret_cast<HostApiRecord*>(
        const_cast<char*>(reinterpret_cast<const char*>(info)) - offsetof(HostApiRecord, info));
    record->terminate = terminatedWithoutJack;
    return true;
}
