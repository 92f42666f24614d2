// em_send.cpp -- sends: a node's output mixed also into an effect node, and the
// tree walk that runs every effect after all of its senders in the same buffer
#include <cstring>

#include "em/em_local.h"

enum {
    EMTAG_SENDTABLE = 973 // the send table with its walk marks and scratch buffer
};

// One send: what the node sender gives its parent goes also into the node
// effect at level / 256. A free entry has effect 0.
struct em_send {
    int32_t sender; // handle
    int32_t effect; // handle of an effect node, 0 for a free entry
    int32_t level;  // 256 = unity, 1..EM_MAXSENDLEVEL
};

// Taken with the first effect node, kept until the engine stops.
struct em_sendtable {
    em_send sends[EM_MAXSENDS];
    int32_t count;                    // entries in use
    uint8_t outgoing[EM_MAXHANDLES];  // sends of each node
    uint16_t incoming[EM_MAXHANDLES]; // sends into each node
    uint32_t pass;                    // buffers walked with sends, from 1
    uint32_t entered[EM_MAXHANDLES];  // the pass in which the walk last entered each node
    uint32_t cleared[EM_MAXHANDLES];  // the pass in which each node's buffer was last cleared
    int32_t* before;                  // scratch: a parent's buffer before a sender mixed into it
};

enum { EM_MAXSENDLEVEL = 1024 };

static em_sendtable* emsends;

int em_reservesends()
{
    if (emsends)
        return 0;
    const uint32_t bytes = sizeof(em_sendtable) + sizeof(int32_t) * 2 * static_cast<uint32_t>(emstate.samples);
    emsends = static_cast<em_sendtable*>(emio_calloc(1, bytes, EMTAG_SENDTABLE));
    if (!emsends)
        return -1;
    emsends->before = reinterpret_cast<int32_t*>(emsends + 1);
    return 0;
}

void em_freesends()
{
    if (emsends)
        emio_free(emsends);
    emsends = nullptr;
}

int em_sendsinuse()
{
    return emsends && emsends->count > 0 ? 1 : 0;
}

static void em_removesend(em_send* s)
{
    emsends->outgoing[s->sender]--;
    emsends->incoming[s->effect]--;
    emsends->count--;
    *s = {0, 0, 0};
}

void em_dropsends(const em_node* node)
{
    const int32_t h = node->handle;
    if (!emsends || (emsends->outgoing[h] == 0 && emsends->incoming[h] == 0))
        return;
    for (em_send& s : emsends->sends)
        if (s.effect && (s.sender == h || s.effect == h))
            em_removesend(&s);
}

// ---------------------------------------------------------------------------
// The walk. Each node is entered once a buffer. A node's buffer is cleared the
// first time anything reaches it in the buffer, so a node run ahead of its
// parent mixes into a cleared buffer that stays as it is when the walk comes to
// the parent. An effect first runs each of its senders (with their subtrees),
// then its children, then itself: it hears all of them in the same buffer.
// em_setsend refuses every send that would make this order circular.
// ---------------------------------------------------------------------------

static void em_clearonce(em_node* node)
{
    if (!node || !node->mixbuf || emsends->cleared[node->handle] == emsends->pass)
        return;
    emsends->cleared[node->handle] = emsends->pass;
    memset(node->mixbuf, 0, sizeof(int32_t) * 2 * static_cast<size_t>(emstate.samples));
}

// Adds (after - before) x level / 256 into the effect's buffer: what the sender
// added to its parent's buffer, as the mixing adds wrap exactly.
static void em_mixsend(em_node* effect, const int32_t* after, const int32_t* before, int32_t level)
{
    em_clearonce(effect);
    int32_t* out = effect->mixbuf;
    const int32_t count = emstate.samples * 2;
    if (level == 256) { // the same values without the multiply
        for (int32_t i = 0; i < count; i++)
            out[i] = em_add32(out[i], em_sub32(after[i], before[i]));
        return;
    }
    for (int32_t i = 0; i < count; i++)
        out[i] = em_add32(out[i], em_mul32(em_sub32(after[i], before[i]), level) / 256);
}

// The node's own process, its sends fed with what it gave its parent. The sends
// are read first: a voice may free its node (and its sends) as it ends.
static void em_runwithsends(em_node* node)
{
    const int32_t n = emsends->outgoing[node->handle];
    int32_t* parentmix = node->parent ? node->parent->mixbuf : nullptr;
    if (n == 0 || !parentmix) {
        em_runprocess(node);
        return;
    }
    em_send mine[EM_MAXNODESENDS];
    int32_t found = 0;
    for (int32_t i = 0; i < EM_MAXSENDS && found < n; i++)
        if (emsends->sends[i].effect && emsends->sends[i].sender == node->handle)
            mine[found++] = emsends->sends[i];
    memcpy(emsends->before, parentmix, sizeof(int32_t) * 2 * static_cast<size_t>(emstate.samples));
    em_runprocess(node);
    for (int32_t k = 0; k < found; k++) {
        em_node* effect = emnodes[mine[k].effect];
        if (effect)
            em_mixsend(effect, parentmix, emsends->before, mine[k].level);
    }
}

static void em_walk(em_node* node)
{
    const int32_t h = node->handle;
    if (emsends->entered[h] == emsends->pass)
        return;
    emsends->entered[h] = emsends->pass;
    em_clearonce(node);
    em_clearonce(node->parent);
    if (em_holds(node))
        return;
    // Entries are taken from the front: the scan stops at the last sender.
    for (int32_t i = 0, left = emsends->incoming[h]; i < EM_MAXSENDS && left > 0; i++) {
        const em_send s = emsends->sends[i];
        if (s.effect != h)
            continue;
        left--;
        if (emnodes[s.sender])
            em_walk(emnodes[s.sender]);
    }
    for (em_node* child = node->child; child;) {
        // The child, or a sender run from inside it, may free a sibling as it
        // ends: go on from the first child when the next one is gone.
        em_node* next = child->next;
        const int32_t nexthandle = next ? next->handle : 0;
        em_walk(child);
        child = !next || emnodes[nexthandle] == next ? next : node->child;
    }
    em_runwithsends(node);
}

void em_walksends(em_node* root)
{
    emsends->pass++;
    em_walk(root);
}

// ---------------------------------------------------------------------------
// Setting a send
// ---------------------------------------------------------------------------

// 1 when running node needs target run first: target is node, in its subtree,
// or a sender of an effect that needs it. seen marks the nodes looked at.
static int em_needs(const em_node* node, const em_node* target, uint8_t* seen)
{
    if (node == target)
        return 1;
    if (seen[node->handle])
        return 0;
    seen[node->handle] = 1;
    for (const em_node* child = node->child; child; child = child->next)
        if (em_needs(child, target, seen))
            return 1;
    if (emsends->incoming[node->handle] > 0)
        for (const em_send& s : emsends->sends)
            if (s.effect == node->handle && em_needs(emnodes[s.sender], target, seen))
                return 1;
    return 0;
}

static em_send* em_findsend(int32_t sender, int32_t effect)
{
    for (em_send& s : emsends->sends)
        if (s.effect == effect && s.sender == sender)
            return &s;
    return nullptr;
}

static int em_setsendon(em_node* node, int effect, int32_t level)
{
    em_node* fx = em_getnode(effect);
    if (!fx || !em_iseffect(fx) || node == emstate.root || level < 0 || level > EM_MAXSENDLEVEL || !emsends)
        return -1;
    em_send* s = em_findsend(node->handle, effect);
    if (s) {
        if (level == 0)
            em_removesend(s);
        else
            s->level = level;
        return 0;
    }
    if (level == 0)
        return 0;
    // The effect must not need the sender's own output to run: the sender would
    // then hear itself.
    uint8_t seen[EM_MAXHANDLES] = {};
    if (em_needs(node, fx, seen) || emsends->outgoing[node->handle] >= EM_MAXNODESENDS)
        return -1;
    s = em_findsend(0, 0);
    if (!s)
        return -1;
    *s = {node->handle, effect, level};
    emsends->outgoing[node->handle]++;
    emsends->incoming[effect]++;
    emsends->count++;
    return 0;
}

int em_setsend(int handle, int effect, int32_t level)
{
    return em_onnode(handle, -1, [&](em_node* n) { return em_setsendon(n, effect, level); });
}
