// bench_linereader [--quick] FOLDER
// The shader source line reader over generated files, beside std::getline
// reading the same file into one string. Prints, per file,
//   linereader <label> <lines> <bytes> <median ms> <reference median ms>
//              <MB/s> <reference MB/s> <throughput ratio>

#include "render/shader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string makeFile(const std::string &folder, const std::string &label, long lines, long lineBytes)
{
    const std::string path = folder + "/" + label + ".frag";
    std::ofstream out(path, std::ios::binary);
    if (lineBytes > 0) {
        std::string line(std::size_t(lineBytes), 'x');
        out << "// " << line << '\n';
        return path;
    }
    for (long i = 0; i < lines; ++i)
        out << "    gl_FragColor = vec4(0.25, 0.5, 0.75, 1.0); // " << i << '\n';
    return path;
}

double oursMs(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    Shader shader;
    const auto start = Clock::now();
    shader.readLines(in);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double referenceMs(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::string all, line;
    const auto start = Clock::now();
    while (std::getline(in, line)) {
        all += line;
        all += '\n';
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int folderArg = quick ? 2 : 1;
    if (argc <= folderArg) {
        std::fprintf(stderr, "usage: bench_linereader [--quick] FOLDER\n");
        return 2;
    }
    const std::string folder = argv[folderArg];
    struct Case {
        const char *label;
        long lines;
        long lineBytes;
    };
    std::vector<Case> cases = {{"lines-1000", 1000, 0}, {"lines-10000", 10000, 0}, {"lines-100000", 100000, 0},
                               {"lines-1000000", 1000000, 0}, {"one-line-100MB", 1, 100L << 20}};
    if (quick)
        cases = {{"lines-1000", 1000, 0}, {"one-line-1MB", 1, 1L << 20}};

    for (const Case &c : cases) {
        const std::string path = makeFile(folder, c.label, c.lines, c.lineBytes);
        std::ifstream sized(path, std::ios::binary | std::ios::ate);
        const double bytes = double(sized.tellg());
        // Enough repeats for a stable median, fewer for the large files.
        const int repeats = quick ? 3 : std::max(7, int(2e7 / std::max(bytes, 1.0)));
        std::vector<double> ours, reference;
        for (int i = 0; i < repeats; ++i) {
            ours.push_back(oursMs(path));
            reference.push_back(referenceMs(path));
        }
        const double a = median(ours), b = median(reference);
        const double rateA = bytes / 1e6 / (a / 1e3), rateB = bytes / 1e6 / (b / 1e3);
        std::printf("linereader\t%s\t%ld\t%.0f\t%.3f\t%.3f\t%.1f\t%.1f\t%.3f\n", c.label, c.lines, bytes, a, b, rateA,
                    rateB, rateA / rateB);
        std::fflush(stdout);
        std::remove(path.c_str());
    }
    return 0;
}
