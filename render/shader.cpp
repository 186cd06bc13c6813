#include <epoxy/gl.h>

#include "render/shader.h"
#include "render/checkglerror.h"

#include <QDebug>
#include <QDir>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <vector>

namespace {

const GLsizei logSize = 17042;

// Drivers give the log as text ending in its own newline; the stream's one
// space follows it, and nospace() keeps the stream from trimming that space.
void printLog(const GLchar *log)
{
    if (log[0] != '\0')
        qDebug().nospace() << log << ' ';
}

} // namespace

Shader::Shader()
    : lines(nullptr), lineCount(0), shaderId(0), programId(0)
{
}

Shader::~Shader()
{
    // A shader that never loaded may have no context to talk to at all, and
    // deleting name 0 would be a no-op anyway.
    if (shaderId != 0)
        glDeleteShader(shaderId);
    for (int i = 0; i < lineCount; ++i)
        std::free(lines[i]);
    std::free(lines);
}

void Shader::load(const char *path)
{
    programId = glCreateProgram();
    checkGLError("shader.cpp", __LINE__);
    shaderId = glCreateShader(GL_FRAGMENT_SHADER);
    checkGLError("shader.cpp", __LINE__);

    // A directory opens like a file and then reads as an empty one, so it
    // is refused here like any other path that cannot be read.
    std::error_code ec;
    std::ifstream file;
    if (!std::filesystem::is_directory(path, ec))
        file.open(path, std::ios::in | std::ios::binary);
    else
        file.setstate(std::ios::failbit);
    if (!file.is_open()) {
        qDebug().noquote() << QString("Cannot read the shader source \"%1\" in %2: the shader is compiled from an empty source")
                                  .arg(QString::fromLocal8Bit(path), QDir::currentPath());
    }
    readLines(file);

    compileAndLink();
    checkGLError("shader.cpp", __LINE__);
    file.close();
}

void Shader::compileAndLink()
{
    // The compiler gets the file's own lines back, newline between them, so
    // that #version, // comments and preprocessor lines keep their meaning
    // and the log's line numbers point into the file.
    std::vector<const GLchar *> parts;
    parts.reserve(lineCount > 0 ? 2 * std::size_t(lineCount) - 1 : 1);
    for (int i = 0; i < lineCount; ++i) {
        if (i > 0)
            parts.push_back("\n");
        parts.push_back(lines[i]);
    }
    // The GLSL compiler rejects a UTF-8 byte-order mark.
    if (lineCount > 0 && std::strncmp(lines[0], "\xEF\xBB\xBF", 3) == 0)
        parts[0] = lines[0] + 3;
    static const GLchar *const none[] = {""};
    checkGLError("shader.cpp", __LINE__);
    glShaderSource(shaderId, GLsizei(parts.size()), parts.empty() ? none : parts.data(), nullptr);

    // Zeroed before each query: one that writes nothing must print nothing.
    std::vector<GLchar> log(logSize, '\0');
    checkGLError("shader.cpp", __LINE__);
    glCompileShader(shaderId);
    glGetShaderInfoLog(shaderId, logSize, nullptr, log.data());
    printLog(log.data());

    std::fill(log.begin(), log.end(), '\0');
    checkGLError("shader.cpp", __LINE__);
    glAttachShader(programId, shaderId);
    checkGLError("shader.cpp", __LINE__);
    glLinkProgram(programId);
    glGetProgramInfoLog(programId, logSize, nullptr, log.data());
    printLog(log.data());
}

void Shader::use()
{
    glUseProgram(programId);
}

int Shader::uniformLocation(const char *name)
{
    return glGetUniformLocation(programId, name);
}

bool Shader::readLine(std::istream &in, std::string &line)
{
    if (in.eof() || in.fail())
        return false;
    std::getline(in, line);
    // Only a carriage return that ended a line (stood right before the
    // newline the read consumed) belongs to the line terminator.
    if (!in.eof() && !line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool Shader::readLines(std::istream &in)
{
    std::string line;
    int firstWithNul = 0;
    int withNul = 0;
    bool complete = true;
    while (readLine(in, line)) {
        if (!appendLine(line)) {
            qDebug().noquote() << QString("Out of memory reading shader source line %1: the source ends before it")
                                      .arg(lineCount + 1);
            complete = false;
            break;
        }
        if (line.find('\0') != std::string::npos && withNul++ == 0)
            firstWithNul = lineCount;
    }
    if (withNul > 0) {
        qDebug().noquote() << QString("Shader source line %1 holds a NUL byte (%2 such lines): the compiler sees each only up to it")
                                  .arg(firstWithNul)
                                  .arg(withNul);
    }
    return complete;
}

bool Shader::appendLine(const std::string &line)
{
    // Capacity is the next power of two of lineCount, so it needs no member
    // of its own and growth stays linear over a million lines.
    const int n = lineCount;
    if (n == 0 || (n & (n - 1)) == 0) {
        const std::size_t capacity = n == 0 ? 1 : 2 * std::size_t(n);
        void *grown = std::realloc(lines, capacity * sizeof(char *));
        if (!grown)
            return false;
        lines = static_cast<char **>(grown);
    }
    char *copy = static_cast<char *>(std::malloc(line.size() + 1));
    if (!copy)
        return false;
    std::memcpy(copy, line.c_str(), line.size() + 1);
    lines[lineCount++] = copy;
    return true;
}
