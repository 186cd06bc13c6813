#ifndef TESTS_FRAMEGRAB_H
#define TESTS_FRAMEGRAB_H

/* The swap interposer (framegrab.c), linked into the suites that draw in
 * their own process and preloaded into ombrel-gl by those that run it. */
#ifdef __cplusplus
extern "C" {
#endif

/* Finished frames so far: every glXSwapBuffers and eglSwapBuffers. */
int framegrabFrames(void);
/* From now on, whether each frame is read back before its swap. */
void framegrabKeep(int keep);
/* The last frame read back, RGB rows from the top; null before the first. */
const unsigned char *framegrabLast(int *width, int *height);

#ifdef __cplusplus
}
#endif

#endif
