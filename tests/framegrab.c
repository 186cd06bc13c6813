/* Stands in for glXSwapBuffers and eglSwapBuffers: counts each finished
 * frame and, where asked, reads its back buffer before the swap. Linked into
 * the suites that draw in their own process, it is asked through
 * framegrab.h; preloaded into ombrel-gl, through its environment: each frame
 * replaces $FRAMEGRAB_OUT whole (written beside it, then renamed) as a PPM,
 * and each start of a program image appends its PID to $FRAMEGRAB_STARTS (a
 * process that starts itself anew shows its PID twice). */
#define _GNU_SOURCE

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#define GL_BACK 0x0405
#define GL_VIEWPORT 0x0BA2
#define GL_READ_BUFFER 0x0C02
#define GL_PACK_ALIGNMENT 0x0D05
#define GL_PACK_ROW_LENGTH 0x0D02
#define GL_RGB 0x1907
#define GL_UNSIGNED_BYTE 0x1401
#define GL_READ_FRAMEBUFFER 0x8CA8
#define GL_READ_FRAMEBUFFER_BINDING 0x8CAA
#define GLX_WIDTH 0x801D
#define GLX_HEIGHT 0x801E
#define EGL_HEIGHT 0x3056
#define EGL_WIDTH 0x3057

static int frames;
static int keep;
static unsigned char *last;
static int lastWidth, lastHeight;

int framegrabFrames(void)
{
    return frames;
}

void framegrabKeep(int on)
{
    keep = on;
}

const unsigned char *framegrabLast(int *width, int *height)
{
    *width = lastWidth;
    *height = lastHeight;
    return last;
}

__attribute__((constructor)) static void noteStart(void)
{
    const char *path = getenv("FRAMEGRAB_STARTS");
    FILE *out = path ? fopen(path, "a") : NULL;
    if (out) {
        fprintf(out, "%ld\n", (long)getpid());
        fclose(out);
    }
}

static void *gl(const char *name)
{
    return dlsym(RTLD_DEFAULT, name);
}

/* The back buffer of the drawable, rows bottom up as OpenGL gives them; null
 * where it cannot be read. */
static unsigned char *readBack(int width, int height)
{
    void (*getIntegerv)(unsigned, int *) = (void (*)(unsigned, int *))gl("glGetIntegerv");
    void (*readBuffer)(unsigned) = (void (*)(unsigned))gl("glReadBuffer");
    void (*pixelStorei)(unsigned, int) = (void (*)(unsigned, int))gl("glPixelStorei");
    void (*readPixels)(int, int, int, int, unsigned, unsigned, void *) =
        (void (*)(int, int, int, int, unsigned, unsigned, void *))gl("glReadPixels");
    void (*bindFramebuffer)(unsigned, unsigned) = (void (*)(unsigned, unsigned))gl("glBindFramebuffer");
    int savedRead = 0, savedAlignment = 4, savedRowLength = 0, savedFramebuffer = 0;
    unsigned char *pixels;

    if (!getIntegerv || !readBuffer || !pixelStorei || !readPixels || width <= 0 || height <= 0)
        return NULL;
    pixels = malloc((size_t)width * (size_t)height * 3);
    if (!pixels)
        return NULL;
    /* The window's back buffer is read, whatever framebuffer and packing the
     * context holds, and everything is put back after. */
    getIntegerv(GL_READ_BUFFER, &savedRead);
    getIntegerv(GL_PACK_ALIGNMENT, &savedAlignment);
    getIntegerv(GL_PACK_ROW_LENGTH, &savedRowLength);
    if (bindFramebuffer) {
        getIntegerv(GL_READ_FRAMEBUFFER_BINDING, &savedFramebuffer);
        bindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    }
    readBuffer(GL_BACK);
    pixelStorei(GL_PACK_ALIGNMENT, 1);
    pixelStorei(GL_PACK_ROW_LENGTH, 0);
    readPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    readBuffer((unsigned)savedRead);
    pixelStorei(GL_PACK_ALIGNMENT, savedAlignment);
    pixelStorei(GL_PACK_ROW_LENGTH, savedRowLength);
    if (bindFramebuffer)
        bindFramebuffer(GL_READ_FRAMEBUFFER, (unsigned)savedFramebuffer);
    return pixels;
}

static void grab(int width, int height)
{
    const char *path = getenv("FRAMEGRAB_OUT");
    unsigned char *pixels;
    char temporary[4096];
    FILE *out;
    int y;

    ++frames;
    if (!path && !keep)
        return;
    pixels = readBack(width, height);
    if (!pixels)
        return;
    snprintf(temporary, sizeof temporary, "%s.part", path ? path : "");
    out = path ? fopen(temporary, "wb") : NULL;
    if (out) {
        fprintf(out, "P6\n# frame %d\n%d %d\n255\n", frames, width, height);
        for (y = height - 1; y >= 0; --y)
            fwrite(pixels + (size_t)y * (size_t)width * 3, 1, (size_t)width * 3, out);
        if (fclose(out) == 0)
            rename(temporary, path);
    }
    free(last);
    last = keep ? pixels : NULL;
    lastWidth = width;
    lastHeight = height;
    if (!keep)
        free(pixels);
}

void glXSwapBuffers(void *display, unsigned long drawable)
{
    static void (*swap)(void *, unsigned long);
    void (*query)(void *, unsigned long, int, unsigned *) =
        (void (*)(void *, unsigned long, int, unsigned *))gl("glXQueryDrawable");
    unsigned width = 0, height = 0;
    if (!swap)
        swap = (void (*)(void *, unsigned long))dlsym(RTLD_NEXT, "glXSwapBuffers");
    if (query) {
        query(display, drawable, GLX_WIDTH, &width);
        query(display, drawable, GLX_HEIGHT, &height);
    }
    grab((int)width, (int)height);
    swap(display, drawable);
}

unsigned eglSwapBuffers(void *display, void *surface)
{
    static unsigned (*swap)(void *, void *);
    unsigned (*query)(void *, void *, int, int *) = (unsigned (*)(void *, void *, int, int *))gl("eglQuerySurface");
    void (*getIntegerv)(unsigned, int *) = (void (*)(unsigned, int *))gl("glGetIntegerv");
    int width = 0, height = 0;
    int viewport[4] = {0, 0, 0, 0};
    if (!swap)
        swap = (unsigned (*)(void *, void *))dlsym(RTLD_NEXT, "eglSwapBuffers");
    if (query) {
        query(display, surface, EGL_WIDTH, &width);
        query(display, surface, EGL_HEIGHT, &height);
    }
    /* A Wayland window's size may reach the surface's answer only after
     * its next buffer; the frame just drawn fills the viewport. */
    if (getIntegerv)
        getIntegerv(GL_VIEWPORT, viewport);
    if (viewport[0] == 0 && viewport[1] == 0 && viewport[2] > 0 && viewport[3] > 0) {
        width = viewport[2];
        height = viewport[3];
    }
    grab(width, height);
    return swap(display, surface);
}
