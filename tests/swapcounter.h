#ifndef TESTS_SWAPCOUNTER_H
#define TESTS_SWAPCOUNTER_H

// Counts finished frames: the executable that links swapcounter.cpp (with
// its symbols exported) stands in for glXSwapBuffers and eglSwapBuffers,
// counts the call and hands it on to the real one.
int swapCount();

#endif
