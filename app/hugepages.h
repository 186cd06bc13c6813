#ifndef HUGEPAGES_H
#define HUGEPAGES_H

#include <string>

// Large images spend most of their start-up in page faults on the first
// touch of fresh buffers: the decoded image and the driver's texture
// storage. Where transparent huge pages are
// given on request ("madvise", most desktops), the C library asks for them
// for its large allocations when the tunable glibc.malloc.hugetlb=1 is set,
// which it reads only at start. So the program starts itself once more with
// it set, before anything else happens.

// GLIBC_TUNABLES (null when unset) with glibc.malloc.hugetlb=1 added; empty
// when the value already says anything of hugetlb, which is then kept.
std::string tunablesWithHugePages(const char *tunables);

// True when the text of /sys/kernel/mm/transparent_hugepage/enabled has
// "madvise" selected: huge pages only for memory that asks for them.
bool hugePagesOnRequest(const std::string &enabled);

// Starts the program anew with the tunable added (same arguments, same
// environment otherwise) when huge pages come on request and the tunable is
// not there yet; returns when that is not so or the start failed.
void restartWithHugePages(char **argv);

#endif
