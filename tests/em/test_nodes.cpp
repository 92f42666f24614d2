// test_nodes.cpp -- the node tree, its handle table and the public handle calls
#include <atomic>
#include <chrono>
#include <thread>

#include "em_harness.h"

namespace {

using Nodes = emtest_engine;

TEST_F(Nodes, RootHasHandleOneAndNoRelatives)
{
    EXPECT_EQ(em_getroot(), 1);
    EXPECT_EQ(em_isnode(1), 1);
    EXPECT_EQ(em_getparent(1), 0);
    EXPECT_EQ(em_getnext(1), 0);
    EXPECT_EQ(em_getprev(1), 0);
    EXPECT_EQ(em_getchild(1), 0);
}

TEST_F(Nodes, NewChildGoesToTheFront)
{
    em_node* a = em_createnode(emstate.root);
    em_node* b = em_createnode(emstate.root);
    em_node* c = em_createnode(nullptr);
    em_attachnode(c, emstate.root);
    EXPECT_EQ(em_getchild(1), c->handle);
    EXPECT_EQ(em_getnext(c->handle), b->handle);
    EXPECT_EQ(em_getnext(b->handle), a->handle);
    EXPECT_EQ(em_getnext(a->handle), 0);
    EXPECT_EQ(em_getprev(a->handle), b->handle);
    EXPECT_EQ(em_getprev(c->handle), 0);
    EXPECT_EQ(em_getparent(b->handle), 1);

    em_detachnode(b);   // from the middle
    EXPECT_EQ(em_getnext(c->handle), a->handle);
    EXPECT_EQ(em_getprev(a->handle), c->handle);
    EXPECT_EQ(em_getparent(b->handle), 0);
    em_detachnode(c);   // the first child
    EXPECT_EQ(em_getchild(1), a->handle);
    EXPECT_EQ(em_getprev(a->handle), 0);

    em_attachnode(b, a);    // moving under another parent
    em_attachnode(b, emstate.root);
    EXPECT_EQ(em_getchild(a->handle), 0);
    EXPECT_EQ(em_getchild(1), b->handle);
    EXPECT_EQ(em_isnode(c->handle), 1);  // detached nodes keep their handle
}

TEST_F(Nodes, AttachRefusesCycles)
{
    em_node* a = em_createnode(emstate.root);
    em_node* b = em_createnode(a);
    EXPECT_EQ(em_attachnode(a, b), -1);
    EXPECT_EQ(em_attachnode(a, a), -1);
    EXPECT_EQ(em_getparent(a->handle), 1);
    EXPECT_EQ(em_getparent(b->handle), a->handle);
}

TEST_F(Nodes, DestroyFreesTheHandleForTheLowestReuse)
{
    em_node* a = em_createnode(emstate.root);
    em_node* b = em_createnode(emstate.root);
    em_node* c = em_createnode(emstate.root);
    ASSERT_EQ(a->handle, 2);
    ASSERT_EQ(c->handle, 4);
    const int bh = b->handle;
    em_destroynode(b);
    EXPECT_EQ(em_isnode(bh), 0);
    EXPECT_EQ(em_getnext(c->handle), a->handle);
    EXPECT_EQ(em_createnode(nullptr)->handle, bh);
    EXPECT_EQ(em_createnode(nullptr)->handle, 5);
}

TEST_F(Nodes, HandleTableHolds511Nodes)
{
    EXPECT_EQ(sizeof(em_node*) * EM_MAXHANDLES, static_cast<size_t>(eminout.allocs[1].size));
    std::vector<em_node*> nodes;
    for (int i = 2; i < EM_MAXHANDLES; i++) {
        em_node* node = em_createnode(emstate.root);
        ASSERT_NE(node, nullptr);
        ASSERT_EQ(node->handle, i);
        nodes.push_back(node);
    }
    const int32_t bytes = emio_getbytes();
    const int32_t peak = emio_getmaxbytes();
    EXPECT_EQ(em_createnode(emstate.root), nullptr);
    EXPECT_EQ(em_findfreehandle(), 0);
    EXPECT_EQ(emio_getbytes(), bytes);
    EXPECT_EQ(emio_getmaxbytes(), peak);
    em_destroynode(nodes[300]);
    em_node* again = em_createnode(emstate.root);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->handle, 302);
}

// Records the order in which destroy callbacks run.
std::vector<int> emtest_destroyed;
void emtest_recorddestroy(em_node* node) { emtest_destroyed.push_back(node->handle); }

TEST(NodesLife, DeinitDestroysDetachedSubtreesChildrenFirst)
{
    ASSERT_EQ(emtest_startpaused(), 0);
    emtest_destroyed.clear();
    em_node* attached = em_createnode(emstate.root);    // 2
    em_node* loose = em_createnode(nullptr);            // 3
    em_node* leaf = em_createnode(loose);               // 4
    em_node* deeper = em_createnode(leaf);              // 5
    for (em_node* node : {attached, loose, leaf, deeper})
        node->destroy = emtest_recorddestroy;
    emtest_capture cap;
    em_deinit();
    EXPECT_EQ(emtest_destroyed, (std::vector<int>{2, 5, 4, 3}));
    EXPECT_NE(cap.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos);
    EXPECT_EQ(cap.err(), "");
}

TEST_F(Nodes, PublicCallsRefuseHandlesThatNameNoNode)
{
    em_node* freed = em_createnode(emstate.root);
    const int freehandle = freed->handle;
    em_destroynode(freed);
    float v[3] = {7, 7, 7};
    float x = 7, y = 7, z = 7;
    char block[4] = {};
    for (const int h : {0, freehandle, 512, -1, 100000}) {
        SCOPED_TRACE(h);
        EXPECT_EQ(em_isnode(h), 0);
        EXPECT_EQ(em_getparent(h), 0);
        EXPECT_EQ(em_getchild(h), 0);
        EXPECT_EQ(em_getnext(h), 0);
        EXPECT_EQ(em_getprev(h), 0);
        EXPECT_EQ(em_setparam(h, EMP_VOLUME, 1), -1);
        EXPECT_EQ(em_getparam(h, EMP_VOLUME), -1);
        EXPECT_EQ(em_setparamf(h, EMP_3DSCALE, 1.0f), -1);
        EXPECT_EQ(em_getparamf(h, EMP_3DSCALE), -1.0f);
        EXPECT_EQ(em_setparamv(h, EMP_POSITION3D, v), -1);
        EXPECT_EQ(em_getparamv(h, EMP_POSITION3D, v), -1);
        EXPECT_EQ(em_setparam3f(h, EMP_POSITION3D, 1, 2, 3), -1);
        EXPECT_EQ(em_getparam3f(h, EMP_POSITION3D, &x, &y, &z), -1);
        EXPECT_EQ(em_setparamp(h, EMP_PATTERN, block), -1);
        EXPECT_EQ(em_getparamp(h, EMP_PATTERN, block), -1);
    }
    EXPECT_EQ(v[0], 7.0f);
    EXPECT_EQ(x, 7.0f);
}

TEST(NodesLife, PublicCallsAnswerDownWhileTheEngineIsDown)
{
    float v[3] = {};
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ(em_getroot(), 0);
        EXPECT_EQ(em_isnode(1), 0);
        EXPECT_EQ(em_getchild(1), 0);
        EXPECT_EQ(em_setparam(1, EMP_VOLUME, 1), -1);
        EXPECT_EQ(em_getparam(1, EMP_VOLUME), -1);
        EXPECT_EQ(em_getparamf(1, EMP_3DSCALE), -1.0f);
        EXPECT_EQ(em_getparamv(1, EMP_POSITION3D, v), -1);
        EXPECT_EQ(em_getnode(1), nullptr);
        // the second round asks after a run
        ASSERT_EQ(em_init(), 0);
        emtest_capture quiet;
        em_deinit();
    }
}

// A type that answers only EMP_VOLUME and one vector id.
int emtest_set(em_node* node, int id, int32_t value)
{
    if (id != EMP_VOLUME)
        return -1;
    node->volume = value;
    return 0;
}
int emtest_get(em_node* node, int id) { return id == EMP_VOLUME ? node->volume : -1; }
float emtest_vec[3];
int emtest_getv(em_node*, int id, float* v)
{
    if (id != EMP_POSITION3D)
        return -1;
    std::copy(emtest_vec, emtest_vec + 3, v);
    return 0;
}

TEST_F(Nodes, ParameterCallsReachTheTypeOrItsDefaults)
{
    em_node* node = em_createnode(emstate.root);
    const int h = node->handle;
    float v[3] = {1, 1, 1};
    // the defaults take nothing and answer 0
    EXPECT_EQ(em_setparam(h, EMP_VOLUME, 99), 0);
    EXPECT_EQ(node->volume, 256);
    EXPECT_EQ(em_getparam(h, EMP_VOLUME), 0);
    EXPECT_EQ(em_getparamf(h, EMP_3DSCALE), 0.0f);
    EXPECT_EQ(em_getparamv(h, EMP_POSITION3D, v), 0);

    node->setparam = emtest_set;
    node->getparam = emtest_get;
    node->getparamv = emtest_getv;
    EXPECT_EQ(em_setparam(h, EMP_VOLUME, 99), 0);
    EXPECT_EQ(em_getparam(h, EMP_VOLUME), 99);
    EXPECT_EQ(em_setparam(h, EMP_PAN, 1), -1);
    EXPECT_EQ(em_getparam(h, EMP_PAN), -1);
    emtest_vec[0] = 1.5f;
    emtest_vec[1] = -2.0f;
    emtest_vec[2] = 8.0f;
    float x = 0, y = 0, z = 0;
    EXPECT_EQ(em_getparam3f(h, EMP_POSITION3D, &x, &y, &z), 0);
    EXPECT_EQ(x, 1.5f);
    EXPECT_EQ(y, -2.0f);
    EXPECT_EQ(z, 8.0f);
}

// A source that destroys itself in its first buffer after adding its value.
int32_t emtest_selfvalue;
void emtest_selfdestroy(em_node* node)
{
    for (int32_t i = 0; node->parent->mixbuf && i < emstate.samples * 2; i++)
        node->parent->mixbuf[i] += emtest_selfvalue;
    em_destroynode(node);
}

TEST_F(Nodes, ChildDestroyingItselfDoesNotBreakTheWalk)
{
    std::vector<int32_t> ones(static_cast<size_t>(emstate.samples) * 2, 1);
    std::vector<int32_t> tens(ones.size(), 10);
    emtest_addsource(emstate.root, ones.data());    // last child
    em_node* self = em_createnode(emstate.root);     // middle child
    self->process = emtest_selfdestroy;
    emtest_addsource(emstate.root, tens.data());    // first child
    emtest_selfvalue = 100;
    const int selfhandle = self->handle;
    const std::vector<int16_t> first = emtest_render();
    EXPECT_EQ(first[0], 111);
    EXPECT_EQ(first.back(), 111);
    EXPECT_EQ(em_isnode(selfhandle), 0);
    EXPECT_EQ(emtest_render()[5], 11);
}

// Nodes created, moved and destroyed by the main thread while the real
// callback walks the tree and voices destroy themselves in it.
TEST(NodesLife, TreeChangesRaceFreeWithTheRunningCallback)
{
    ASSERT_EQ(em_init(), 0);
    std::vector<int32_t> values(1024 * 2, 3);
    emtest_selfvalue = 1;
    em_node* groups[2] = {em_createnode(emstate.root), em_createnode(emstate.root)};
    groups[0]->mixbuf = static_cast<int32_t*>(emio_calloc(2048, 4, 930));
    groups[0]->process = em_mixtoparent;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    int rounds = 0;
    while (std::chrono::steady_clock::now() < end) {
        em_node* source = emtest_addsource(groups[rounds & 1], values.data());
        em_node* voice = em_createnode(nullptr);
        ASSERT_TRUE(source && voice);
        voice->process = emtest_selfdestroy;
        em_attachnode(voice, groups[0]);
        em_attachnode(source, groups[(rounds + 1) & 1]);
        EXPECT_NE(em_getparent(source->handle), 0);
        em_detachnode(source);
        em_attachnode(source, emstate.root);
        SDL_LockAudio();
        em_destroynode(source);
        SDL_UnlockAudio();
        if (++rounds % 8 == 0)
            SDL_Delay(1);
    }
    EXPECT_GT(rounds, 100);
    emtest_capture cap;
    em_deinit();
    EXPECT_NE(cap.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos);
    EXPECT_EQ(cap.err(), "");
}

}  // namespace
