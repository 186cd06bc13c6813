#ifndef SHADER_H
#define SHADER_H

#include <iosfwd>
#include <string>

// A program made of one fragment shader, built from a source file. The
// owner calls every method with its OpenGL context current.
class Shader
{
public:
    Shader();
    ~Shader();
    Shader(const Shader &) = delete;
    Shader &operator=(const Shader &) = delete;

    void load(const char *path);
    void use();
    int uniformLocation(const char *name);

    // The source as read: one entry per line, without terminators.
    int sourceLineCount() const { return lineCount; }
    const char *sourceLine(int index) const { return lines[index]; }

    // Reads the lines of a source into this shader; returns false when the
    // memory for them ran out (the lines before it are kept).
    bool readLines(std::istream &in);
    // One step of that reading: tests the stream before the read, never
    // after, so a source ending in a newline gives a final empty line.
    static bool readLine(std::istream &in, std::string &line);

private:
    bool appendLine(const std::string &line);
    void compileAndLink();

    char **lines;
    int lineCount;
    unsigned int shaderId;
    unsigned int programId;
};

#endif
