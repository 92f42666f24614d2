// em_node.cpp -- the node tree: node types and their creation, linking,
// destruction, the handle table and the public calls that reach nodes by handle
#include "em/em_local.h"

em_node** emnodes;

enum {
    EMTAG_NODE = 901,      // one em_node record
    EMTAG_NODETABLE = 990, // the handle table
    EMTAG_CTLTABLE = 991   // the node controls, by handle
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

em_node* em_createnode(em_node* parent)
{
    const int h = em_findfreehandle();
    if (h == 0)
        return nullptr;
    em_node* node = static_cast<em_node*>(emio_calloc(1, sizeof(em_node), EMTAG_NODE));
    if (!node)
        return nullptr;
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
    node->handle = h;
    emnodes[h] = node;
    return node;
}

em_node* em_makenode(const em_nodetype* type, em_node* parent)
{
    em_node* node = em_createnode(nullptr);
    if (!node) {
        if (type->nodefail)
            emio_error("%s", type->nodefail);
        return nullptr;
    }
    if (type->install)
        type->install(node);
    if (type->mixtag) {
        node->mixbuf =
            static_cast<int32_t*>(emio_calloc(static_cast<uint32_t>(emstate.samples) * 2, sizeof(int32_t), type->mixtag));
        if (!node->mixbuf) {
            if (type->mixfail)
                emio_error("%s", type->mixfail);
            em_destroynode(node);
            return nullptr;
        }
    }
    if (type->datatag) {
        node->data = emio_calloc(1, type->datasize, type->datatag);
        if (!node->data) {
            if (type->datafail)
                emio_error("%s", type->datafail);
            em_destroynode(node);
            return nullptr;
        }
    }
    if (parent)
        em_attachnode(node, parent);
    return node;
}

int em_isnodetype(const em_node* node, const em_nodetype* type)
{
    if (!node || !type->install)
        return 0;
    // The type's own setparam tells its nodes: what it installs in a blank record.
    em_node blank = {};
    type->install(&blank);
    return node->setparam == blank.setparam && (node->data || !type->datatag) ? 1 : 0;
}

void em_freenodedata(em_node* node)
{
    if (node->data)
        emio_free(node->data);
    node->data = nullptr;
}

// Takes node out of its parent's child list.
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
    if (node && node->parent)
        em_unlink(node);
}

int em_attachnode(em_node* node, em_node* parent)
{
    if (!node)
        return -1;
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
    em_dropsends(node);
    if (node->destroy)
        node->destroy(node);
    if (emnodes && node->handle > 0 && node->handle < EM_MAXHANDLES && emnodes[node->handle] == node) {
        emnodes[node->handle] = nullptr;
        if (emctl)
            emctl[node->handle] = em_nodectl {};
    }
    if (node->mixbuf)
        emio_free(node->mixbuf);
    emio_free(node);
}

int em_initnodes()
{
    emnodes = static_cast<em_node**>(emio_calloc(EM_MAXHANDLES, sizeof(em_node*), EMTAG_NODETABLE));
    emctl = static_cast<em_nodectl*>(emio_calloc(EM_MAXHANDLES, sizeof(em_nodectl), EMTAG_CTLTABLE));
    if (emnodes && emctl && em_createroot())
        return 0;
    if (emctl)
        emio_free(emctl);
    if (emnodes)
        emio_free(emnodes);
    emnodes = nullptr;
    emctl = nullptr;
    return -1;
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
    if (emctl)
        emio_free(emctl);
    emctl = nullptr;
    em_freesends();
    em_freevoicescratch();
}

// ---------------------------------------------------------------------------
// Public calls by handle, each through em_onnode
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
    return em_onnode(handle, 0, [](em_node*) { return 1; });
}

int em_getparent(int handle)
{
    return em_onnode(handle, 0, [](em_node* n) { return em_handleof(n->parent); });
}

int em_getchild(int handle)
{
    return em_onnode(handle, 0, [](em_node* n) { return em_handleof(n->child); });
}

int em_getnext(int handle)
{
    return em_onnode(handle, 0, [](em_node* n) { return em_handleof(n->next); });
}

int em_getprev(int handle)
{
    return em_onnode(handle, 0, [](em_node* n) { return em_handleof(n->prev); });
}

int em_canfree(const em_node* node)
{
    return node != emstate.root && !em_isseqchannel(node) ? 1 : 0;
}

int em_freenode(int handle)
{
    return em_onnode(handle, -1, [](em_node* n) {
        if (!em_canfree(n))
            return -1;
        em_destroynode(n);
        return 0;
    });
}

// EMP_PAUSED is every node's, as em_pause; a volume set ends a fade.
int em_setparam(int handle, int id, int32_t value)
{
    if (id == EMP_PAUSED)
        return em_pause(handle, value);
    return em_onnode(handle, -1, [&](em_node* n) {
        const int result = n->setparam(n, id, value);
        if (result == 0 && id == EMP_VOLUME)
            em_endfade(n);
        return result;
    });
}

int em_getparam(int handle, int id)
{
    return em_onnode(handle, -1, [&](em_node* n) {
        const em_nodectl* c = em_ctlof(n);
        return id == EMP_PAUSED && c ? c->paused : n->getparam(n, id);
    });
}

int em_setparamf(int handle, int id, float value)
{
    return em_onnode(handle, -1, [&](em_node* n) { return n->setparamf(n, id, value); });
}

float em_getparamf(int handle, int id)
{
    return em_onnode(handle, -1.0f, [&](em_node* n) { return n->getparamf(n, id); });
}

int em_setparamv(int handle, int id, const float* v)
{
    return v ? em_onnode(handle, -1, [&](em_node* n) { return n->setparamv(n, id, v); }) : -1;
}

int em_getparamv(int handle, int id, float* v)
{
    return v ? em_onnode(handle, -1, [&](em_node* n) { return n->getparamv(n, id, v); }) : -1;
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
    return block ? em_onnode(handle, -1, [&](em_node* n) { return n->setparamp(n, id, block); }) : -1;
}

int em_getparamp(int handle, int id, void* block)
{
    return block ? em_onnode(handle, -1, [&](em_node* n) { return n->getparamp(n, id, block); }) : -1;
}
