// libFuzzer target for the shader source line reader. On every input:
// no crash; the lines joined with "\n" give back the input less each CR
// that stood right before a LF (so a final newline shows as a last, empty
// line); no line holds a LF; and the shader stores exactly those lines.

#include "render/shader.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

std::string withoutCrBeforeLf(const std::string &input)
{
    std::string out;
    out.reserve(input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n')
            continue;
        out += input[i];
    }
    return out;
}

} // namespace

// The reader reports NUL bytes as debug messages; printing them would only
// slow the run down.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);

    std::istringstream in(input);
    std::vector<std::string> lines;
    std::string line;
    while (Shader::readLine(in, line))
        lines.push_back(line);

    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        check(lines[i].find('\n') == std::string::npos);
        if (i > 0)
            joined += '\n';
        joined += lines[i];
    }
    check(!lines.empty());
    check(joined == withoutCrBeforeLf(input));
    if (input.empty() || input.back() == '\n')
        check(lines.back().empty());

    std::istringstream again(input);
    Shader shader;
    check(shader.readLines(again));
    check(shader.sourceLineCount() == int(lines.size()));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // Stored as C strings: equal up to the first NUL, if any.
        check(std::strcmp(shader.sourceLine(int(i)), lines[i].c_str()) == 0);
    }
    return 0;
}
