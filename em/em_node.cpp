// em_node.cpp -- the node tree: creation, linking, destruction, the handle
// table and the public calls that reach nodes by handle
#include "em/em_local.h"

em_node** emnodes;

enum {
    EMTAG_NODE = 901,     // one em_node record
    EMTAG_ROOTMIX = 902,  // the root's mix buffer
    EMTAG_NODETABLE = 990 // the handle table
};

// Holds the audio lock for a scope. The public handle calls run under it so
// that a voice destroying itself in the callback cannot free a node between
// its lookup and its use.
struct em_audiolock {
    em_audiolock() { SDL_LockAudio(); }
    ~em_audiolock() { SDL_UnlockAudio(); }
    em_audiolock(const em_audiolock&) = delete;
    em_audiolock& operator=(const em_audiolock&) = delete;
};

// Default parameter callbacks: take nothing, answer 0.
static int em_defsetparam(em_node*, int, int32_t)
{
    return 0;
}
static int em_defgetparam(em_node*, int)
{
    return 0;
}
static int em_defsetparamf(em_node*, int, float)
{
    return 0;
}
static float em_defgetparamf(em_node*, int)
{
    return 0.0f;
}
static int em_defsetparamv(em_node*, int, const float*)
{
    return 0;
}
static int em_defgetparamv(em_node*, int, float*)
{
    return 0;
}
static int em_defsetparamp(em_node*, int, const void*)
{
    return 0;
}
static int em_defgetparamp(em_node*, int, void*)
{
    return 0;
}

int em_findfreehandle()
{
    if (!emnodes)
        return 0;
    for (int h = 1; h < EM_MAXHANDLES; h++)
        if (!emnodes[h])
            return h;
    return 0;
}

em_node* em_getnode(int handle)
{
    if (emstate.inited != 1 || !emnodes || handle <= 0 || handle >= EM_MAXHANDLES)
        return nullptr;
    return emnodes[handle];
}

em_node* em_createmixnode(int32_t tag, const char* nodefail, const char* mixfail)
{
    em_node* node = em_createnode(nullptr);
    if (!node) {
        emio_error("%s", nodefail);
        return nullptr;
    }
    node->mixbuf = static_cast<int32_t*>(emio_calloc(static_cast<uint32_t>(emstate.samples) * 2, sizeof(int32_t), tag));
    if (!node->mixbuf) {
        emio_error("%s", mixfail);
        em_destroynode(node);
        return nullptr;
    }
    return node;
}

void em_freenodedata(em_node* node)
{
    if (node->data)
        emio_free(node->data);
    node->data = nullptr;
}

em_node* em_createnode(em_node* parent)
{
    em_node* node;
    {
        // The callback clears the slots of voices that end: claim a slot
        // under the audio lock so the scan never races with that.
        em_audiolock lock;
        const int h = em_findfreehandle();
        if (h == 0)
            return nullptr;
        node = static_cast<em_node*>(emio_calloc(1, sizeof(em_node), EMTAG_NODE));
        if (!node)
            return nullptr;
        node->handle = h;
        emnodes[h] = node;
    }
    node->volume = 256;
    node->setparam = em_defsetparam;
    node->getparam = em_defgetparam;
    node->setparamf = em_defsetparamf;
    node->getparamf = em_defgetparamf;
    node->setparamv = em_defsetparamv;
    node->getparamv = em_defgetparamv;
    node->setparamp = em_defsetparamp;
    node->getparamp = em_defgetparamp;
    if (parent)
        em_attachnode(node, parent);
    return node;
}

// Takes node out of its parent's child list; the caller holds the audio lock
// or knows that no callback runs.
static void em_unlink(em_node* node)
{
    em_node* parent = node->parent;
    if (parent->child == node)
        parent->child = node->next;
    if (node->prev)
        node->prev->next = node->next;
    if (node->next)
        node->next->prev = node->prev;
    node->prev = nullptr;
    node->next = nullptr;
    node->parent = nullptr;
}

void em_detachnode(em_node* node)
{
    if (!node || !node->parent)
        return;
    em_audiolock lock;
    em_unlink(node);
}

int em_attachnode(em_node* node, em_node* parent)
{
    if (!node)
        return -1;
    em_audiolock lock;
    // A node under itself would make the tree walk endless.
    for (const em_node* up = parent; up; up = up->parent)
        if (up == node)
            return -1;
    em_detachnode(node);
    if (!parent)
        return 0;
    node->parent = parent;
    if (parent->child) {
        parent->child->prev = node;
        node->next = parent->child;
    }
    parent->child = node;
    return 0;
}

void em_destroynode(em_node* node)
{
    if (!node)
        return;
    em_node* child = node->child;
    while (child) {
        em_node* next = child->next;
        em_destroynode(child);
        child = next;
    }
    if (node->parent)
        em_unlink(node);
    if (node->destroy)
        node->destroy(node);
    if (emnodes && node->handle > 0 && node->handle < EM_MAXHANDLES && emnodes[node->handle] == node)
        emnodes[node->handle] = nullptr;
    if (node->mixbuf)
        emio_free(node->mixbuf);
    emio_free(node);
}

em_node* em_createroot()
{
    em_node* node = em_createnode(nullptr);
    if (!node)
        return nullptr;
    node->mixbuf = static_cast<int32_t*>(emio_calloc(static_cast<uint32_t>(emstate.samples) * 2, sizeof(int32_t), EMTAG_ROOTMIX));
    if (!node->mixbuf) {
        em_destroynode(node);
        return nullptr;
    }
    emstate.root = node;
    return node;
}

int em_initnodes()
{
    emnodes = static_cast<em_node**>(emio_calloc(EM_MAXHANDLES, sizeof(em_node*), EMTAG_NODETABLE));
    if (!emnodes)
        return -1;
    if (!em_createroot()) {
        emio_free(emnodes);
        emnodes = nullptr;
        return -2;
    }
    return 0;
}

void em_deinitnodes()
{
    if (emstate.root)
        em_destroynode(emstate.root);
    emstate.root = nullptr;
    if (emnodes) {
        for (int h = 0; h < EM_MAXHANDLES; h++)
            if (emnodes[h])
                em_destroynode(emnodes[h]);
        emio_free(emnodes);
    }
    emnodes = nullptr;
}

// ---------------------------------------------------------------------------
// Public calls by handle
// ---------------------------------------------------------------------------

static int em_handleof(const em_node* node)
{
    return node ? node->handle : 0;
}

int em_getroot()
{
    if (emstate.inited != 1 || !emstate.root)
        return 0;
    return emstate.root->handle;
}

int em_isnode(int handle)
{
    em_audiolock lock;
    return em_getnode(handle) ? 1 : 0;
}

// The handle of the node one of a node's links points at; 0 for no node.
static int em_linkhandle(int handle, em_node* em_node::*link)
{
    em_audiolock lock;
    const em_node* node = em_getnode(handle);
    return node ? em_handleof(node->*link) : 0;
}

int em_getparent(int handle)
{
    return em_linkhandle(handle, &em_node::parent);
}

int em_getchild(int handle)
{
    return em_linkhandle(handle, &em_node::child);
}

int em_getnext(int handle)
{
    return em_linkhandle(handle, &em_node::next);
}

int em_getprev(int handle)
{
    return em_linkhandle(handle, &em_node::prev);
}

int em_setparam(int handle, int id, int32_t value)
{
    em_audiolock lock;
    em_node* node = em_getnode(handle);
    return node ? node->setparam(node, id, value) : -1;
}

int em_getparam(int handle, int id)
{
    em_audiolock lock;
    em_node* node = em_getnode(handle);
    return node ? node->getparam(node, id) : -1;
}

int em_setparamf(int handle, int id, float value)
{
    em_audiolock lock;
    em_node* node = em_getnode(handle);
    return node ? node->setparamf(node, id, value) : -1;
}

float em_getparamf(int handle, int id)
{
    em_audiolock lock;
    em_node* node = em_getnode(handle);
    return node ? node->getparamf(node, id) : -1.0f;
}

int em_setparamv(int handle, int id, const float* v)
{
    em_audiolock lock;
    em_node* node = em_getnode(handle);
    return node && v ? node->setparamv(node, id, v) : -1;
}

int em_getparamv(int handle, int id, float* v)
{
    em_audiolock lock;
    em_node* node = em_getnode(handle);
    return node && v ? node->getparamv(node, id, v) : -1;
}

int em_setparam3f(int handle, int id, float x, float y, float z)
{
    const float v[3] = {x, y, z};
    return em_setparamv(handle, id, v);
}

int em_getparam3f(int handle, int id, float* x, float* y, float* z)
{
    float v[3] = {0.0f, 0.0f, 0.0f};
    const int result = em_getparamv(handle, id, v);
    if (result == -1)
        return -1;
    if (x)
        *x = v[0];
    if (y)
        *y = v[1];
    if (z)
        *z = v[2];
    return result;
}

int em_setparamp(int handle, int id, const void* block)
{
    em_audiolock lock;
    em_node* node = em_getnode(handle);
    return node && block ? node->setparamp(node, id, block) : -1;
}

int em_getparamp(int handle, int id, void* block)
{
    em_audiolock lock;
    em_node* node = em_getnode(handle);
    return node && block ? node->getparamp(node, id, block) : -1;
}
