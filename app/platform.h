#ifndef PLATFORM_H
#define PLATFORM_H

// The view is a native child window. On a Wayland session that becomes a
// subsurface whose parents never get a buffer, so it never shows; through
// XWayland it does. These steer the toolkit there unless the person chose.
// The Qt 6 build draws on Wayland itself; there the last two do nothing.

// True when the environment value of QT_QPA_PLATFORM (null when unset) or
// a -platform argument already names the platform.
bool platformChosen(const char *environment, int argc, const char *const *argv);

// Before the application object exists: asks for X11 first and Wayland
// second when nothing chose the platform. The arguments are left alone.
void preferX11(int argc, char **argv);

// After the application object exists: one debug message when it runs on
// Wayland all the same, saying what to do.
void reportWaylandView();

#endif
