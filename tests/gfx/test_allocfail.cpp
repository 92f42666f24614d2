// test_allocfail.cpp -- the display, images, assets and screenshots with the N-th allocation refused, for every N
#include "tests/kit/kit_gl.h"
#include "tests/kit/kit_images.h"

#include <GL/gl.h>

namespace {

// io_rawcalloc calls in this run, the one that fails (from 1; 0 = none), and the element count it asked for.
int32_t allocs, refused;
size_t refusedcount;
void* refusingcalloc(size_t count, size_t size)
{
    if (++allocs != refused)
        return calloc(count, size);
    refusedcount = count;
    return nullptr;
}

// A session as the program runs it (images, an asset with flags, frames and alpha, textures, a screenshot): each call works
// or gives its failure result, and nothing stays allocated. Returns whether the refused allocation was reached.
bool scenario(int32_t refuse)
{
    SCOPED_TRACE(testing::Message() << "allocation " << refuse << " refused");
    allocs = 0, refused = refuse, refusedcount = 0, gfx_shotnumber = 0;
    bool framesrefused = false;
    unlink("shot0000.tga"), unlink("shot0001.tga");
    const auto refusedsince = [](int32_t before) { return refused > before && refused <= allocs; };
    io_init();
    io_rawcalloc = refusingcalloc;
    EXPECT_EQ(kit_sdlinit(), 0) << SDL_GetError();
    gfx_starttimer(0, 10);
    const int started = gfx_init();
    EXPECT_EQ(started, refusedsince(0) ? 1 : 0) << "gfx_init";
    if (started == 0) {
        gfx_width = 320, gfx_height = 240, gfx_bpp = 32, gfx_videoflags = 0;
        EXPECT_EQ(gfx_initvideo(gfx_videoflags), 0) << "an icon without its mask is still set";

        gfx_image* made[2] = {};
        for (int listed = 1; listed >= 0; listed--) {
            const int32_t before = allocs;
            const int32_t count = gfx_numimages;
            made[listed] = gfx_createimage(listed ? "listed" : "loose", 8, 8, 24 + 8 * listed, listed);
            EXPECT_EQ(made[listed] == nullptr, refusedsince(before)) << "gfx_createimage, listed " << listed;
            EXPECT_EQ(gfx_numimages, count + (made[listed] && listed ? 1 : 0));
        }
        int32_t before = allocs;
        gfx_image* sheet = gfx_getasset("sheet.tga");
        EXPECT_EQ(sheet == nullptr, refusedsince(before)) << "gfx_getasset";
        framesrefused = !sheet && refusedcount == 2; // the table of the two frames
        if (!sheet)
            sheet = gfx_getasset("sheet.tga"); // a failed load is not remembered
        EXPECT_TRUE(sheet && sheet->bpp == 32 && sheet->flags == (GFX_NOMIP | GFX_REPEAT) && sheet->numframes == 2)
            << "the asset loads whole once allocations succeed";
        for (gfx_image* image : {made[0], made[1], sheet}) {
            gfx_bindimage(image);
            EXPECT_TRUE(!image || glIsTexture(image->texture));
        }

        glClear(GL_COLOR_BUFFER_BIT), SDL_GL_SwapBuffers();
        before = allocs;
        gfx_screenshot();
        EXPECT_EQ(access("shot0000.tga", F_OK) != 0, refusedsince(before)) << "gfx_screenshot";
        gfx_screenshot(); // the next request finds the name free, or passes the file written
        EXPECT_EQ(access("shot0000.tga", F_OK), 0);
        gfx_freeimage(made[0]), gfx_freeimage(made[1]);
    }
    gfx_deinit(), io_deinit(), SDL_Quit();
    io_rawcalloc = calloc;

    const std::string log = kit_readfile("log.txt");
    EXPECT_NE(log.find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("ERROR: gfx_loadasset: couldn't allocate frames for sheet.tga\n") != std::string::npos, framesrefused);
    return refuse > 0 && refuse <= allocs;
}

TEST(GfxAllocFail, EveryAllocationMayFailWithoutCrashOrLeak)
{
    kit_tempdir dir {true};
    ASSERT_TRUE(!dir.path.empty() && kit_writebmp("icon.bmp", kit_makepicture(32, 32, 1, 0)) &&
                kit_writetga("sheet.tga", kit_makepicture(4, 2, 3, 0), false) &&
                kit_writepng("mask.png", kit_makepicture(4, 2, 1, 9)) &&
                kit_writefile("sheet.ini", std::string("FLAG nomip repeat\nMASK mask.png\nFRAME 0 0 2 2\nFRAME 2 0 2 2\n")));
    int32_t points = 0;
    while (points < 1000 && scenario(points + 1))
        points++;
    EXPECT_EQ(allocs, points) << "the last run reached no refusal: a whole run allocated that often";
    EXPECT_EQ(points, 18);
}

} // namespace
