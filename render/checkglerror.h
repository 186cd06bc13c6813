#ifndef CHECKGLERROR_H
#define CHECKGLERROR_H

// Drains the OpenGL error queue, one debug message per error code:
// "glError in <file>:<line> : <text>". Callers pass their own bare file name.
void checkGLError(const char *file, int line);

#endif
