/* Preloaded into sanitized test runs only. Mesa unloads its GLX and DRI
 * driver libraries at exit, before LeakSanitizer looks; their allocations
 * then show with no module name and no suppression can match them. Keeping
 * the libraries loaded leaves each report its module. */
#include <dlfcn.h>

__attribute__((constructor)) static void keepDrivers(void)
{
    dlopen("libGLX_mesa.so.0", RTLD_NOW | RTLD_NODELETE);
    dlopen(SWRAST_DRI, RTLD_NOW | RTLD_NODELETE);
}
