// bench_startup [--runs N] FOLDER PROGRAM...
// Starts each PROGRAM in FOLDER N times with firstframe preloaded and
// prints, per program, the median time from process start to first
// finished frame, the median peak resident memory up to then, and the
// slowest run (how steady the start-up is):
//   startup <program> <runs> <median ms> <median peak KiB> <slowest ms>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

long long nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

template <typename T>
T median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 7;
    int arg = 1;
    if (arg + 1 < argc && std::strcmp(argv[arg], "--runs") == 0) {
        runs = std::atoi(argv[arg + 1]);
        arg += 2;
    }
    if (argc - arg < 2 || runs < 1) {
        std::fprintf(stderr, "usage: bench_startup [--runs N] FOLDER PROGRAM...\n");
        return 2;
    }
    const std::string folder = argv[arg++];
    // The result goes beside nothing of the folder's: it may be read-only.
    const std::string result = "/tmp/ombrel-firstframe-" + std::to_string(getpid()) + ".out";
    const char *preload = std::getenv("FIRSTFRAME_LIB");
    if (!preload) {
        std::fprintf(stderr, "bench_startup: FIRSTFRAME_LIB must name the firstframe library\n");
        return 2;
    }
    if (chdir(folder.c_str()) != 0) {
        std::perror(folder.c_str());
        return 2;
    }
    setenv("FIRSTFRAME_OUT", result.c_str(), 1);
    setenv("LD_PRELOAD", preload, 1);

    // Runs alternate between the programs so that drift on a shared
    // machine falls on all of them alike, and the order turns by one each
    // round: a program started right after one that freed gigabytes finds
    // memory that this virtual machine has handed back to its host (free
    // page reporting), and faults it in again at the host, up to a sixth
    // slower at 8192 x 8192. Each program follows each other in turn.
    const int first = arg;
    const int count = argc - first;
    std::vector<std::vector<double>> times(count);
    std::vector<std::vector<long>> peaks(count);
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < count; ++turn) {
            const int p = (run + turn) % count;
            char *program = argv[first + p];
            std::remove(result.c_str());
            char *const child[] = {program, nullptr};
            pid_t pid = 0;
            const long long start = nowNs();
            if (posix_spawn(&pid, program, nullptr, nullptr, child, environ) != 0) {
                std::perror(program);
                return 1;
            }
            int wstatus = 0;
            waitpid(pid, &wstatus, 0);
            long long frame = 0;
            long peak = 0;
            std::ifstream in(result);
            if (!(in >> frame >> peak)) {
                std::fprintf(stderr, "bench_startup: %s ended without a frame\n", program);
                return 1;
            }
            times[p].push_back((frame - start) / 1e6);
            peaks[p].push_back(peak);
        }
    }
    for (int p = 0; p < count; ++p)
        std::printf("startup\t%s\t%zu\t%.1f\t%ld\t%.1f\n", argv[first + p], times[p].size(), median(times[p]),
                    median(peaks[p]), *std::max_element(times[p].begin(), times[p].end()));
    const int status = 0;
    std::remove(result.c_str());
    return status;
}
