/* Preloaded into SooperLooper for the comparison on machines without an ALSA
 * sequencer (/dev/snd/seq): it polls the sequencer it failed to open, which
 * alsa-lib answers with an assertion. With no sequencer there is nothing to
 * poll. */
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <errno.h>

int snd_seq_poll_descriptors_count(snd_seq_t* seq, short events)
{
    static int (*real)(snd_seq_t*, short);
    if (!seq)
        return 0;
    if (!real)
        real = (int (*)(snd_seq_t*, short))dlsym(RTLD_NEXT, "snd_seq_poll_descriptors_count");
    return real(seq, events);
}

int snd_seq_poll_descriptors(snd_seq_t* seq, struct pollfd* pfds, unsigned int space, short events)
{
    static int (*real)(snd_seq_t*, struct pollfd*, unsigned int, short);
    if (!seq)
        return 0;
    if (!real)
        real = (int (*)(snd_seq_t*, struct pollfd*, unsigned int, short))dlsym(RTLD_NEXT, "snd_seq_poll_descriptors");
    return real(seq, pfds, space, events);
}

int snd_seq_event_input(snd_seq_t* seq, snd_seq_event_t** ev)
{
    static int (*real)(snd_seq_t*, snd_seq_event_t**);
    if (!seq)
        return -EAGAIN;
    if (!real)
        real = (int (*)(snd_seq_t*, snd_seq_event_t**))dlsym(RTLD_NEXT, "snd_seq_event_input");
    return real(seq, ev);
}

int snd_seq_event_input_pending(snd_seq_t* seq, int fetch)
{
    static int (*real)(snd_seq_t*, int);
    if (!seq)
        return 0;
    if (!real)
        real = (int (*)(snd_seq_t*, int))dlsym(RTLD_NEXT, "snd_seq_event_input_pending");
    return real(seq, fetch);
}
