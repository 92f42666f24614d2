// em_event.cpp -- the end events: a fixed ring the mixer writes without lock
// or allocation and the program's thread reads
#include "em/em_local.h"

enum { EMTAG_EVENTS = 990 }; // the event ring

em_events emevents;

int em_initevents()
{
    emevents.ring = static_cast<em_event*>(emio_calloc(EM_EVENTRING, sizeof(em_event), EMTAG_EVENTS));
    em_store(&emevents.head, 0u);
    em_store(&emevents.tail, 0u);
    em_store(&emevents.lost, 0);
    return emevents.ring ? 0 : -1;
}

void em_deinitevents()
{
    if (emevents.ring)
        emio_free(emevents.ring);
    emevents.ring = nullptr;
}

uint32_t em_frameclock(int32_t frame)
{
    return em_load(&emstate.samplepos) + static_cast<uint32_t>(frame);
}

void em_postevent(int32_t type, int32_t handle, int32_t sample, uint32_t clock)
{
    if (!emevents.ring)
        return;
    // Only writers holding the audio lock come here, one at a time: head is ours.
    const uint32_t head = em_load(&emevents.head);
    if (head - __atomic_load_n(&emevents.tail, __ATOMIC_ACQUIRE) >= EM_EVENTRING) {
        __atomic_add_fetch(&emevents.lost, 1, __ATOMIC_RELAXED);
        return;
    }
    emevents.ring[head % EM_EVENTRING] = em_event {type, handle, sample, clock};
    __atomic_store_n(&emevents.head, head + 1, __ATOMIC_RELEASE);
}

int em_pollevent(em_event* ev)
{
    if (!ev || emstate.inited != 1 || !emevents.ring)
        return 0;
    const uint32_t tail = em_load(&emevents.tail);
    if (tail == __atomic_load_n(&emevents.head, __ATOMIC_ACQUIRE))
        return 0;
    *ev = emevents.ring[tail % EM_EVENTRING];
    __atomic_store_n(&emevents.tail, tail + 1, __ATOMIC_RELEASE);
    return 1;
}

int32_t em_lostevents()
{
    return emstate.inited == 1 ? em_load(&emevents.lost) : 0;
}
