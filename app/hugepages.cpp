#include "app/hugepages.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace {

const char *const hugetlb = "glibc.malloc.hugetlb";

} // namespace

std::string tunablesWithHugePages(const char *tunables)
{
    const std::string setting = std::string(hugetlb) + "=1";
    if (!tunables || !*tunables)
        return setting;
    if (std::strstr(tunables, hugetlb))
        return std::string();
    return std::string(tunables) + ':' + setting;
}

bool hugePagesOnRequest(const std::string &enabled)
{
    return enabled.find("[madvise]") != std::string::npos;
}

void restartWithHugePages(char **argv)
{
    const char *own = std::getenv("GLIBC_TUNABLES");
    const std::string previous = own ? own : "";
    const std::string tunables = tunablesWithHugePages(own);
    if (tunables.empty())
        return;
    // "always" gives huge pages without asking, "never" not at all: then a
    // second start would only cost time.
    std::string enabled;
    {
        // Closed before the exec: the new start must not inherit it.
        std::ifstream file("/sys/kernel/mm/transparent_hugepage/enabled");
        enabled.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    if (!hugePagesOnRequest(enabled))
        return;
    // The tunable in the environment also keeps the new start from
    // starting again. If the start fails, this one goes on as it was.
    if (setenv("GLIBC_TUNABLES", tunables.c_str(), 1) != 0)
        return;
    execv("/proc/self/exe", argv);
    if (own)
        setenv("GLIBC_TUNABLES", previous.c_str(), 1);
    else
        unsetenv("GLIBC_TUNABLES");
}
