// No GL headers here: epoxy renames glXSwapBuffers, and this file must
// define the real symbol so that the toolkit's own call lands in it.
#include "swapcounter.h"

#include <dlfcn.h>

namespace {
int swaps = 0;
}

int swapCount()
{
    return swaps;
}

extern "C" void glXSwapBuffers(void *display, unsigned long drawable)
{
    using Swap = void (*)(void *, unsigned long);
    static Swap next = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
    ++swaps;
    if (next)
        next(display, drawable);
}

// Qt's Wayland platform swaps through EGL.
extern "C" unsigned eglSwapBuffers(void *display, void *surface)
{
    using Swap = unsigned (*)(void *, void *);
    static Swap next = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "eglSwapBuffers"));
    ++swaps;
    return next ? next(display, surface) : 0;
}
