// gfx_video.cpp -- display state, mode list, GL video mode with icon and driver
// report, extension test and the 2-D projection
#include "gfx/gfx_local.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstring>

#include "io/io.h"

int32_t gfx_width;
int32_t gfx_height;
int32_t gfx_bpp;
uint32_t gfx_videoflags;
uint32_t gfx_caps;
gfx_mode gfx_modes[GFX_MAXMODES];
int32_t gfx_nummodes;
int32_t gfx_desktopw;
int32_t gfx_desktoph;
uint32_t gfx_shotrequest;
int32_t gfx_videoset;
SDL_Surface* (*gfx_rawsetvideomode)(int width, int height, int bpp, uint32_t flags) = SDL_SetVideoMode;

static const char GFX_CAPTION[] = "Quorrel project";
static const char GFX_ICONFILE[] = "icon.bmp";

int32_t gfx_listmodes(SDL_Rect* const* modes)
{
    gfx_nummodes = 0;
    // SDL answers null for "no modes" and -1 for "any size will do"; neither
    // is a list of sizes, so neither gives mode lines.
    if (!modes || modes == reinterpret_cast<SDL_Rect* const*>(-1))
        return gfx_nummodes;
    for (int i = 0; i < GFX_MAXMODES && modes[i]; i++) {
        const int32_t w = modes[i]->w;
        const int32_t h = modes[i]->h;
        if (w < 800 && h < 600)
            continue;
        gfx_modes[gfx_nummodes].width = w;
        gfx_modes[gfx_nummodes].height = h;
        gfx_nummodes++;
        io_log("%d %d\n", w, h);
    }
    io_log("Detected %d acceptable videomodes\n", gfx_nummodes);
    return gfx_nummodes;
}

int gfx_init()
{
    gfx_shotrequest = 0;
    gfx_numimages = 0;
    gfx_images = static_cast<gfx_image**>(io_calloc(GFX_MAXIMAGES, sizeof(gfx_image*), GFX_TAG_IMAGELIST));
    if (!gfx_images)
        return 1;

    gfx_listmodes(SDL_ListModes(nullptr, SDL_FULLSCREEN | SDL_HWSURFACE));

    const SDL_VideoInfo* info = SDL_GetVideoInfo();
    gfx_desktopw = info ? info->current_w : 0;
    gfx_desktoph = info ? info->current_h : 0;
    io_log("Desktop resolution %d*%d\n", gfx_desktopw, gfx_desktoph);
    return 0;
}

// An icon the mask can be read from: one byte per pixel and rows that hold
// them (a surface of fewer bits a pixel also has one byte a pixel in SDL's
// format, but rows of fewer bytes than pixels).
static bool gfx_iconreadable(const SDL_Surface* icon)
{
    return icon && icon->format && icon->format->BitsPerPixel == 8 && icon->format->BytesPerPixel == 1 && icon->pixels &&
           icon->w >= 0 && icon->h >= 0 && icon->pitch >= icon->w;
}

uint8_t* gfx_iconmask(const SDL_Surface* icon)
{
    if (!gfx_iconreadable(icon))
        return nullptr;
    // Rows of whole bytes; a width that is not a multiple of 8 pads its last byte.
    const uint32_t rowbytes = (static_cast<uint32_t>(icon->w) + 7) / 8;
    uint8_t* mask = static_cast<uint8_t*>(io_calloc(rowbytes * static_cast<uint32_t>(icon->h), 1, GFX_TAG_ICONMASK));
    if (!mask)
        return nullptr;
    const uint8_t* pixels = static_cast<const uint8_t*>(icon->pixels);
    for (int y = 0; y < icon->h; y++) {
        const uint8_t* row = pixels + y * icon->pitch;
        for (int x = 0; x < icon->w; x++)
            if (row[x] != 0)
                mask[y * rowbytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    return mask;
}

void gfx_seticon()
{
    SDL_RWops* stream = SDL_RWFromFile(GFX_ICONFILE, "rb");
    SDL_Surface* icon = stream ? SDL_LoadBMP_RW(stream, 1) : nullptr;
    if (!icon) {
        io_error("icon file not found!");
        return;
    }
    uint8_t* mask = nullptr;
    if (!gfx_iconreadable(icon))
        io_error("icon.bmp is not an 8-bit palette image: no transparency");
    else
        mask = gfx_iconmask(icon);
    // Without a mask SDL shows the icon fully opaque.
    SDL_WM_SetIcon(icon, mask);
    SDL_FreeSurface(icon);
    if (mask)
        io_free(mask);
}

double gfx_fieldofview(int32_t width, int32_t height)
{
    if (height > width || width <= 0)
        return 90.0;
    const double pi = 3.14159;
    return 2.0 * atan(tan(90.0 * pi / 360.0) * height / width) * 180.0 / pi;
}

// Colour sizes asked of SDL for a pixel depth.
static void gfx_coloursizes(int32_t bpp, int sizes[4])
{
    if (bpp == 8) {
        sizes[0] = 2;
        sizes[1] = 3;
        sizes[2] = 3;
        sizes[3] = 0;
    } else if (bpp == 15 || bpp == 16) {
        sizes[0] = 5;
        sizes[1] = 5;
        sizes[2] = 5;
        sizes[3] = 0;
    } else {
        sizes[0] = 8;
        sizes[1] = 8;
        sizes[2] = 8;
        sizes[3] = 8;
    }
}

static const char* gfx_glstring(GLenum name)
{
    const GLubyte* text = glGetString(name);
    return text ? reinterpret_cast<const char*>(text) : "";
}

static void gfx_reportdriver(const SDL_Surface* screen)
{
    io_log("Screen BPP: %d\n", screen->format->BitsPerPixel);
    io_log("\n");
    io_log("Vendor     : %s\n", gfx_glstring(GL_VENDOR));
    io_log("Renderer   : %s\n", gfx_glstring(GL_RENDERER));
    io_log("Version    : %s\n", gfx_glstring(GL_VERSION));
    io_log("Extensions : %s\n", gfx_glstring(GL_EXTENSIONS));
    io_log("\n");
}

static void gfx_reportattributes(const int colour[4], int depth, int stencil)
{
    struct attribute {
        SDL_GLattr attr;
        const char* name;
        int requested;
    };
    const attribute attributes[] = {
        {SDL_GL_STENCIL_SIZE, "SDL_GL_STENCIL_SIZE", stencil}, {SDL_GL_RED_SIZE, "SDL_GL_RED_SIZE", colour[0]},
        {SDL_GL_GREEN_SIZE, "SDL_GL_GREEN_SIZE", colour[1]},   {SDL_GL_BLUE_SIZE, "SDL_GL_BLUE_SIZE", colour[2]},
        {SDL_GL_ALPHA_SIZE, "SDL_GL_ALPHA_SIZE", colour[3]},   {SDL_GL_DEPTH_SIZE, "SDL_GL_DEPTH_SIZE", depth},
    };
    for (const attribute& a : attributes) {
        int got = 0;
        SDL_GL_GetAttribute(a.attr, &got);
        io_log("%s: requested %d, got %d\n", a.name, a.requested, got);
    }
    int doublebuffer = 0;
    SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &doublebuffer);
    io_log("SDL_GL_DOUBLEBUFFER: requested 1, got %d\n", doublebuffer);
}

static void gfx_setprojection()
{
    glViewport(0, 0, gfx_width, gfx_height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const double aspect = gfx_height > 0 ? static_cast<double>(gfx_width) / gfx_height : 1.0;
    gluPerspective(gfx_fieldofview(gfx_width, gfx_height), aspect, 2.0, 20000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

static void gfx_setdefaultstate()
{
    glEnable(GL_TEXTURE_2D);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glClearStencil(0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glDepthFunc(GL_LESS);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glPolygonMode(GL_FRONT, GL_FILL);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

int gfx_initvideo(uint32_t flags)
{
    gfx_seticon();
    flags |= SDL_OPENGL | SDL_HWSURFACE;
    io_log("Bpp: %d\n", gfx_bpp);

    int colour[4];
    gfx_coloursizes(gfx_bpp, colour);
    const int depth = 16;
    const int stencil = 0;
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, colour[0]);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, colour[1]);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, colour[2]);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, colour[3]);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    SDL_Surface* screen = gfx_rawsetvideomode(gfx_width, gfx_height, gfx_bpp, flags);
    if (!screen) {
        io_error("Couldn't set GL mode: %s\n", SDL_GetError());
        SDL_Quit();
        gfx_videoset = 0;
        return 1;
    }
    if (!(flags & SDL_FULLSCREEN))
        gfx_centerwindow();

    gfx_reportdriver(screen);
    gfx_reportattributes(colour, depth, stencil);
    SDL_WM_SetCaption(GFX_CAPTION, GFX_CAPTION);

    gfx_setprojection();
    gfx_setdefaultstate();

    SDL_ShowCursor(SDL_DISABLE);
    SDL_GL_SwapBuffers();

    gfx_caps = GFX_CAPS_BASE;
    if (gfx_hasextension("GL_EXT_texture_edge_clamp"))
        gfx_caps |= GFX_CAPS_EDGECLAMP;
    GLint stencilbits = 0;
    glGetIntegerv(GL_STENCIL_BITS, &stencilbits);
    if (stencilbits > 0) {
        io_log("Stencil bits %d\n", stencilbits);
        gfx_caps |= GFX_CAPS_STENCIL;
    }
    gfx_videoset = 1;
    return 0;
}

int gfx_restartvideo()
{
    // Only a mode that is set can be set again: after a failed set-up SDL is shut down.
    if (!gfx_videoset)
        return 1;
    gfx_releasealltextures();
    return gfx_initvideo(gfx_videoflags);
}

void gfx_deinit()
{
    gfx_freeallimages();
    if (gfx_images) {
        io_free(gfx_images);
        gfx_images = nullptr;
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    gfx_videoset = 0;
}

void gfx_videoquit()
{
    SDL_VideoQuit();
    gfx_videoset = 0;
}

int gfx_findextension(const char* list, const char* name)
{
    if (!list || !name || !*name || strchr(name, ' '))
        return 0;
    const size_t length = strlen(name);
    // A hit counts only as a whole word: at the start of the list or after a
    // blank, and followed by a blank or the end of the list.
    for (const char* hit = strstr(list, name); hit; hit = strstr(hit + length, name)) {
        const char after = hit[length];
        if ((hit == list || hit[-1] == ' ') && (after == ' ' || after == '\0'))
            return 1;
    }
    return 0;
}

int gfx_hasextension(const char* name)
{
    return gfx_findextension(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)), name);
}

void gfx_begin2d()
{
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, viewport[2], 0, viewport[3], -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

void gfx_end2d()
{
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}
