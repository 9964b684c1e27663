// Demo framework: shader compiling.
#pragma once

#include <GLES2/gl2.h>

namespace KorrinSDK {

class Shader {
public:
    // Reads the GLSL file and compiles a shader of the given type (GL_VERTEX_SHADER or
    // GL_FRAGMENT_SHADER) into *shader. A missing file or a failed compile prints the path and
    // the compile log on standard error.
    static void processShader(GLuint* shader, const char* filename, GLint shaderType);
};

}  // namespace KorrinSDK
