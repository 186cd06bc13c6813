/* Preloaded into ombrel-gl by the whole-process tests: before each buffer
 * swap, GLX or EGL, it reads the back buffer and writes it to $FRAMEGRAB_OUT
 * as a binary PPM, top row first, whose comment line counts the frames
 * ("# frame N"). The file is replaced whole (written beside it, then
 * renamed), so a reader never sees half a frame. Each start of a program
 * image also appends its PID to $FRAMEGRAB_STARTS: a process that starts
 * itself anew (exec) shows its PID twice. The program itself knows nothing
 * of it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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
#define GL_PIXEL_PACK_BUFFER 0x88EB
#define GL_PIXEL_PACK_BUFFER_BINDING 0x88ED
#define GLX_WIDTH 0x801D
#define GLX_HEIGHT 0x801E
#define EGL_HEIGHT 0x3056
#define EGL_WIDTH 0x3057

static long frames;

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

static void grab(int width, int height)
{
    void (*getIntegerv)(unsigned, int *) = (void (*)(unsigned, int *))gl("glGetIntegerv");
    void (*readBuffer)(unsigned) = (void (*)(unsigned))gl("glReadBuffer");
    void (*pixelStorei)(unsigned, int) = (void (*)(unsigned, int))gl("glPixelStorei");
    void (*readPixels)(int, int, int, int, unsigned, unsigned, void *) =
        (void (*)(int, int, int, int, unsigned, unsigned, void *))gl("glReadPixels");
    void (*bindFramebuffer)(unsigned, unsigned) = (void (*)(unsigned, unsigned))gl("glBindFramebuffer");
    void (*bindBuffer)(unsigned, unsigned) = (void (*)(unsigned, unsigned))gl("glBindBuffer");
    const char *path = getenv("FRAMEGRAB_OUT");
    int savedRead = 0, savedAlignment = 4, savedRowLength = 0, savedFramebuffer = 0, savedPack = 0;
    unsigned char *pixels;
    char temporary[4096];
    FILE *out;
    int y;

    ++frames;
    if (!path || !getIntegerv || !readBuffer || !pixelStorei || !readPixels || width <= 0 || height <= 0)
        return;
    pixels = malloc((size_t)width * (size_t)height * 3);
    if (!pixels)
        return;
    /* The toolkit may have its own framebuffer or pack state bound; the
     * window's back buffer is read, and everything is put back after. */
    getIntegerv(GL_READ_BUFFER, &savedRead);
    getIntegerv(GL_PACK_ALIGNMENT, &savedAlignment);
    getIntegerv(GL_PACK_ROW_LENGTH, &savedRowLength);
    if (bindFramebuffer) {
        getIntegerv(GL_READ_FRAMEBUFFER_BINDING, &savedFramebuffer);
        bindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    }
    if (bindBuffer) {
        getIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &savedPack);
        bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
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
    if (bindBuffer)
        bindBuffer(GL_PIXEL_PACK_BUFFER, (unsigned)savedPack);

    snprintf(temporary, sizeof temporary, "%s.part", path);
    out = fopen(temporary, "wb");
    if (out) {
        fprintf(out, "P6\n# frame %ld\n%d %d\n255\n", frames, width, height);
        /* OpenGL's rows run bottom up. */
        for (y = height - 1; y >= 0; --y)
            fwrite(pixels + (size_t)y * (size_t)width * 3, 1, (size_t)width * 3, out);
        if (fclose(out) == 0)
            rename(temporary, path);
    }
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
    int width = 0, height = 0;
    if (!swap)
        swap = (unsigned (*)(void *, void *))dlsym(RTLD_NEXT, "eglSwapBuffers");
    void (*getIntegerv)(unsigned, int *) = (void (*)(unsigned, int *))gl("glGetIntegerv");
    int viewport[4] = {0, 0, 0, 0};
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
