// On-screen text: glyphs rendered with FreeType from DejaVu Sans into an alpha atlas, drawn as
// textured quads with the framework's own shader program.
//
// The font is "DejaVuSans.ttf", looked up in the resource directory given to the constructor
// first and in the system's DejaVu folder after it. Printable ASCII is drawn; other bytes are
// skipped.
#include "Text.h"

#include <GLES2/gl2.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char fontFileName[] = "DejaVuSans.ttf";
const char systemFontDirectory[] = "/usr/share/fonts/truetype/dejavu/";
const unsigned fontPixelSize = 20;
const unsigned char firstGlyph = 32;
const unsigned char lastGlyph = 126;
const int atlasWidth = 512;

const char vertexShaderSource[] =
    "attribute vec4 a_v4Glyph;\n"
    "varying vec2 v_v2TexCoord;\n"
    "void main() {\n"
    "    gl_Position = vec4(a_v4Glyph.xy, 0.0, 1.0);\n"
    "    v_v2TexCoord = a_v4Glyph.zw;\n"
    "}\n";
const char fragmentShaderSource[] =
    "precision mediump float;\n"
    "uniform sampler2D u_s2dGlyphs;\n"
    "uniform vec4 u_v4Colour;\n"
    "varying vec2 v_v2TexCoord;\n"
    "void main() {\n"
    "    gl_FragColor = vec4(u_v4Colour.rgb, u_v4Colour.a * texture2D(u_s2dGlyphs, v_v2TexCoord).a);\n"
    "}\n";

struct Glyph {
    int atlasX, atlasY;        // top-left corner in the atlas
    int width, height;         // bitmap size in pixels
    int bearingX, bearingY;    // from the pen position on the baseline to the bitmap's top-left
    int advance;               // pen advance in pixels
};

struct QueuedString {
    float red, green, blue, alpha;
    std::vector<float> vertices;  // two triangles per glyph: x, y, s, t per corner
};

int roundUpToPowerOfTwo(int value) {
    int power = 1;
    while (power < value) power <<= 1;
    return power;
}

GLuint compile(GLenum type, const char* source) {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        char log[1024] = "";
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        std::fprintf(stderr, "Text: the text shader failed to compile:\n%s\n", log);
    }
    return shader;
}

}  // namespace

namespace KorrinSDK {

struct Text::Impl {
    int windowWidth = 0, windowHeight = 0;
    bool fontLoaded = false;
    int descender = 0;                 // pixels below the baseline (positive)
    int atlasHeight = 0;
    std::vector<unsigned char> atlas;  // atlasWidth x atlasHeight coverage values
    Glyph glyphs[lastGlyph - firstGlyph + 1] = {};
    std::vector<QueuedString> strings;

    // GL objects, made at the first draw (the constructor may run before a context is current).
    bool glReady = false;
    GLuint program = 0, texture = 0;
    GLint locGlyph = -1, locSampler = -1, locColour = -1;
    GLint samplerUnit = -1;            // texture unit the sampler uniform names now

    bool loadFont(const char* resourceDirectory);
    void makeGLObjects();
};

bool Text::Impl::loadFont(const char* resourceDirectory) {
    FT_Library library;
    if (FT_Init_FreeType(&library) != 0) {
        std::fprintf(stderr, "Text: FreeType could not start\n");
        return false;
    }
    const std::string candidates[] = {
        std::string(resourceDirectory != nullptr ? resourceDirectory : "") + fontFileName,
        std::string(systemFontDirectory) + fontFileName,
    };
    FT_Face face = nullptr;
    for (const std::string& path : candidates) {
        if (FT_New_Face(library, path.c_str(), 0, &face) == 0) break;
        face = nullptr;
    }
    if (face == nullptr) {
        std::fprintf(stderr, "Text: cannot load the font \"%s\" from \"%s\" or \"%s\"\n", fontFileName,
                     resourceDirectory != nullptr ? resourceDirectory : "", systemFontDirectory);
        FT_Done_FreeType(library);
        return false;
    }
    FT_Set_Pixel_Sizes(face, 0, fontPixelSize);
    descender = static_cast<int>(-(face->size->metrics.descender >> 6));

    // Render every glyph and pack the bitmaps in rows, one pixel apart.
    std::vector<std::vector<unsigned char>> bitmaps(lastGlyph - firstGlyph + 1);
    int penX = 1, penY = 1, rowHeight = 0;
    for (unsigned code = firstGlyph; code <= lastGlyph; ++code) {
        Glyph& glyph = glyphs[code - firstGlyph];
        if (FT_Load_Char(face, code, FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot slot = face->glyph;
        glyph.width = static_cast<int>(slot->bitmap.width);
        glyph.height = static_cast<int>(slot->bitmap.rows);
        glyph.bearingX = slot->bitmap_left;
        glyph.bearingY = slot->bitmap_top;
        glyph.advance = static_cast<int>(slot->advance.x >> 6);
        if (penX + glyph.width + 1 > atlasWidth) {
            penX = 1;
            penY += rowHeight + 1;
            rowHeight = 0;
        }
        glyph.atlasX = penX;
        glyph.atlasY = penY;
        penX += glyph.width + 1;
        if (glyph.height > rowHeight) rowHeight = glyph.height;
        std::vector<unsigned char>& bitmap = bitmaps[code - firstGlyph];
        bitmap.resize(static_cast<size_t>(glyph.width) * static_cast<size_t>(glyph.height));
        for (int row = 0; row < glyph.height; ++row) {
            const unsigned char* source = slot->bitmap.buffer + row * slot->bitmap.pitch;
            for (int column = 0; column < glyph.width; ++column) {
                bitmap[static_cast<size_t>(row * glyph.width + column)] = source[column];
            }
        }
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);

    atlasHeight = roundUpToPowerOfTwo(penY + rowHeight + 1);
    atlas.assign(static_cast<size_t>(atlasWidth) * static_cast<size_t>(atlasHeight), 0);
    for (unsigned code = firstGlyph; code <= lastGlyph; ++code) {
        const Glyph& glyph = glyphs[code - firstGlyph];
        const std::vector<unsigned char>& bitmap = bitmaps[code - firstGlyph];
        for (int row = 0; row < glyph.height; ++row) {
            for (int column = 0; column < glyph.width; ++column) {
                atlas[static_cast<size_t>((glyph.atlasY + row) * atlasWidth + glyph.atlasX + column)] =
                    bitmap[static_cast<size_t>(row * glyph.width + column)];
            }
        }
    }
    return true;
}

void Text::Impl::makeGLObjects() {
    glReady = true;
    program = glCreateProgram();
    GLuint vertexShader = compile(GL_VERTEX_SHADER, vertexShaderSource);
    GLuint fragmentShader = compile(GL_FRAGMENT_SHADER, fragmentShaderSource);
    glAttachShader(program, vertexShader);
    glAttachShader(program, fragmentShader);
    glLinkProgram(program);
    // The program keeps the shaders alive while it needs them.
    glDeleteShader(vertexShader);
    glDeleteShader(fragmentShader);
    locGlyph = glGetAttribLocation(program, "a_v4Glyph");
    locSampler = glGetUniformLocation(program, "u_s2dGlyphs");
    locColour = glGetUniformLocation(program, "u_v4Colour");

    GLint unpackAlignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &unpackAlignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, atlasWidth, atlasHeight, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
                 atlas.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, unpackAlignment);
}

Text::Text(const char* resourceDirectory, int windowWidth, int windowHeight) : impl(new Impl) {
    impl->windowWidth = windowWidth;
    impl->windowHeight = windowHeight;
    impl->fontLoaded = impl->loadFont(resourceDirectory);
}

Text::~Text() {
    if (impl->glReady) {
        glDeleteTextures(1, &impl->texture);
        glDeleteProgram(impl->program);
    }
    delete impl;
}

void Text::addString(int xPosition, int yPosition, const char* string, int red, int green, int blue,
                     int alpha) {
    if (string == nullptr || !impl->fontLoaded || impl->windowWidth <= 0 || impl->windowHeight <= 0) {
        return;
    }
    // The string never changes once queued, so its quads are laid out here once, not every frame.
    QueuedString queued = {red / 255.0f, green / 255.0f, blue / 255.0f, alpha / 255.0f, {}};
    const float scaleX = 2.0f / static_cast<float>(impl->windowWidth);
    const float scaleY = 2.0f / static_cast<float>(impl->windowHeight);
    const float atlasScaleX = 1.0f / static_cast<float>(atlasWidth);
    const float atlasScaleY = 1.0f / static_cast<float>(impl->atlasHeight);
    // The string's lowest descender touches yPosition.
    int penX = xPosition;
    const int baseline = yPosition + impl->descender;
    for (const char* c = string; *c != 0; ++c) {
        const unsigned char code = static_cast<unsigned char>(*c);
        if (code < firstGlyph || code > lastGlyph) continue;
        const Glyph& glyph = impl->glyphs[code - firstGlyph];
        if (glyph.width > 0 && glyph.height > 0) {
            const float left = static_cast<float>(penX + glyph.bearingX) * scaleX - 1.0f;
            const float right = static_cast<float>(penX + glyph.bearingX + glyph.width) * scaleX - 1.0f;
            const float top = static_cast<float>(baseline + glyph.bearingY) * scaleY - 1.0f;
            const float bottom = static_cast<float>(baseline + glyph.bearingY - glyph.height) * scaleY - 1.0f;
            const float u0 = static_cast<float>(glyph.atlasX) * atlasScaleX;
            const float u1 = static_cast<float>(glyph.atlasX + glyph.width) * atlasScaleX;
            const float v0 = static_cast<float>(glyph.atlasY) * atlasScaleY;
            const float v1 = static_cast<float>(glyph.atlasY + glyph.height) * atlasScaleY;
            const float quad[] = {left, top, u0, v0,   left, bottom, u0, v1,   right, top, u1, v0,
                                  right, top, u1, v0,  left, bottom, u0, v1,   right, bottom, u1, v1};
            queued.vertices.insert(queued.vertices.end(), quad, quad + sizeof quad / sizeof quad[0]);
        }
        penX += glyph.advance;
    }
    if (!queued.vertices.empty()) impl->strings.push_back(std::move(queued));
}

void Text::draw() {
    if (impl->strings.empty()) {
        return;
    }
    if (!impl->glReady) impl->makeGLObjects();
    if (impl->locGlyph < 0) return;

    // Text lies on top of the scene: no depth test, no culling, blended by its coverage. The
    // caller's settings of these come back afterwards.
    const GLboolean depthTest = glIsEnabled(GL_DEPTH_TEST);
    const GLboolean cullFace = glIsEnabled(GL_CULL_FACE);
    const GLboolean blend = glIsEnabled(GL_BLEND);
    GLint blendSrcRGB = GL_ONE, blendDstRGB = GL_ZERO, blendSrcAlpha = GL_ONE, blendDstAlpha = GL_ZERO;
    glGetIntegerv(GL_BLEND_SRC_RGB, &blendSrcRGB);
    glGetIntegerv(GL_BLEND_DST_RGB, &blendDstRGB);
    glGetIntegerv(GL_BLEND_SRC_ALPHA, &blendSrcAlpha);
    glGetIntegerv(GL_BLEND_DST_ALPHA, &blendDstAlpha);
    GLint activeUnit = GL_TEXTURE0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &activeUnit);

    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glUseProgram(impl->program);
    glBindTexture(GL_TEXTURE_2D, impl->texture);
    if (activeUnit - GL_TEXTURE0 != impl->samplerUnit) {
        impl->samplerUnit = activeUnit - GL_TEXTURE0;
        glUniform1i(impl->locSampler, impl->samplerUnit);
    }

    for (const QueuedString& queued : impl->strings) {
        glUniform4f(impl->locColour, queued.red, queued.green, queued.blue, queued.alpha);
        glVertexAttribPointer(static_cast<GLuint>(impl->locGlyph), 4, GL_FLOAT, GL_FALSE, 0,
                              queued.vertices.data());
        glEnableVertexAttribArray(static_cast<GLuint>(impl->locGlyph));
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(queued.vertices.size() / 4));
    }
    // The array points into memory the caller does not know of; leave no enabled array behind it.
    glDisableVertexAttribArray(static_cast<GLuint>(impl->locGlyph));

    glBlendFuncSeparate(static_cast<GLenum>(blendSrcRGB), static_cast<GLenum>(blendDstRGB),
                        static_cast<GLenum>(blendSrcAlpha), static_cast<GLenum>(blendDstAlpha));
    if (!blend) glDisable(GL_BLEND);
    if (cullFace) glEnable(GL_CULL_FACE);
    if (depthTest) glEnable(GL_DEPTH_TEST);
}

}  // namespace KorrinSDK
