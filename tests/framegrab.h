#ifndef TESTS_FRAMEGRAB_H
#define TESTS_FRAMEGRAB_H

// The swap interposer (framegrab.c), linked into the suites that draw in
// their own process and preloaded into ombrel-gl by those that run it.

// Finished frames so far: every glXSwapBuffers and eglSwapBuffers.
extern "C" int framegrabFrames();
// From now on, whether each frame is read back before its swap.
extern "C" void framegrabKeep(int keep);
// The last frame kept, RGB rows from the bottom; null before the first.
extern "C" const unsigned char *framegrabLast(int *width, int *height);

#endif
