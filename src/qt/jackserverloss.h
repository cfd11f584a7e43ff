#pragma once

#include <portaudio.h>

// What PortAudio's JACK host API cannot do once its server is gone: stopping
// or closing a stream waits for the server's process thread to acknowledge,
// which never comes; freeing its ports or ending the host API fails an
// assertion on the dead client. These calls make PortAudio drop the
// stream or the host API without touching JACK; what they held is leaked,
// a few kilobytes per lost server.
class JackServerLoss
{
public:
    // Closing `stream`, whose JACK client is gone, afterwards takes it off
    // PortAudio's list and returns at once. False where the stream is not
    // laid out as expected (it is then left as it was).
    static bool releaseStream(PaStream* stream);
    // True after a stream was released: the host API's one client is gone.
    static bool clientLost() { return s_bClientLost; }
    // Pa_Terminate() then leaves the JACK host API alone.
    static bool releaseHostApi();

private:
    static bool s_bClientLost;
};
