// Shader compiling from GLSL files.
#include "Shader.h"

#include <GLES2/gl2.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Largest shader source read; demo shaders are a few hundred bytes.
const long maxSourceSize = 1024L * 1024;

bool readSource(const char* path, std::string& source) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "processShader: cannot open \"%s\": %s\n", path, std::strerror(errno));
        return false;
    }
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        source.append(chunk, got);
        if (static_cast<long>(source.size()) > maxSourceSize) break;
    }
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) {
        std::fprintf(stderr, "processShader: cannot read \"%s\"\n", path);
        return false;
    }
    if (static_cast<long>(source.size()) > maxSourceSize) {
        std::fprintf(stderr, "processShader: \"%s\" is larger than %ld bytes\n", path, maxSourceSize);
        return false;
    }
    return true;
}

}  // namespace

namespace KorrinSDK {

void Shader::processShader(GLuint* shader, const char* filename, GLint shaderType) {
    *shader = 0;
    std::string source;
    // Without a source no shader object is made: the 0 left in *shader makes the demo's
    // glAttachShader fail, which its GL check reports.
    if (!readSource(filename, source)) return;

    *shader = glCreateShader(static_cast<GLenum>(shaderType));
    if (*shader == 0) {
        // The GL error stays pending for the demo's own check.
        std::fprintf(stderr, "processShader: \"%s\": glCreateShader failed\n", filename);
        return;
    }
    const GLchar* text = source.c_str();
    const GLint length = static_cast<GLint>(source.size());
    glShaderSource(*shader, 1, &text, &length);
    glCompileShader(*shader);

    GLint compiled = GL_FALSE;
    glGetShaderiv(*shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        GLint logLength = 0;
        glGetShaderiv(*shader, GL_INFO_LOG_LENGTH, &logLength);
        std::vector<char> log(static_cast<size_t>(logLength > 0 ? logLength : 1), '\0');
        if (logLength > 0) glGetShaderInfoLog(*shader, logLength, nullptr, log.data());
        std::fprintf(stderr, "processShader: \"%s\" failed to compile:\n%s\n", filename, log.data());
    }
}

}  // namespace KorrinSDK
