// The reference for the demos' frame cost: each demo's scene drawn by a bare OpenGL ES 2.0 program
// on plain X11 and EGL, without the demo framework. Same window size, an RGBA8888 config with a
// depth buffer, the same PKM mip chains with the same filtering, the same shaders, GL state, clear
// colour, client-memory geometry and draw call, and for lanterna the same caption in the same font.
// It runs until its window is closed; the benchmark ends it after a fixed number of frames
// (frameclock.cpp).
// Usage: barequads <lanterna|veilglass|tilemosaic> <assets-directory>
#include <EGL/egl.h>
#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The same nine quads the demos draw.
#include "DemoGeometry.h"

namespace {

struct Scene {
    const char* name;
    const char* texturePrefix;
    const char* alphaSuffix;  // second texture on unit 1, or nullptr
    const char* vertexShader;
    const char* fragmentShader;
    bool cullAndDepth;
    float clear[4];
};

const Scene scenes[] = {
    {"lanterna", "good_mip_", nullptr, "Lanterna_texture.vert", "Lanterna_texture.frag", true,
     {0.0f, 0.0f, 1.0f, 1.0f}},
    {"veilglass", "good_compressed_mip_", "_alpha.pkm", "Veilglass_dualtex.vert",
     "Veilglass_dualtex.frag", false, {0.125f, 0.25f, 0.5f, 1.0f}},
    {"tilemosaic", "good_atlas_mip_", nullptr, "Tilemosaic_atlastex.vert",
     "Tilemosaic_atlastex.frag", false, {0.125f, 0.25f, 0.5f, 1.0f}},
};


[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "barequads: %s\n", what);
    std::exit(1);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(("cannot read " + path).c_str());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

unsigned be16(const std::string& s, size_t at)
{
    return (unsigned(uint8_t(s[at])) << 8) | uint8_t(s[at + 1]);
}

// A mipmapped ETC1 texture from <prefix><level><suffix> PKM files, down to 1x1, bound on the
// active unit, filtered as the framework filters.
GLuint loadMipChain(const std::string& prefix, const std::string& suffix)
{
    GLuint id;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    for (int level = 0;; ++level) {
        std::string pkm = readFile(prefix + std::to_string(level) + suffix);
        if (pkm.size() < 16 || pkm.compare(0, 4, "PKM ") != 0) fail("not a PKM file");
        unsigned w = be16(pkm, 12), h = be16(pkm, 14);
        glCompressedTexImage2D(GL_TEXTURE_2D, level, GL_ETC1_RGB8_OES, w, h, 0,
                               GLsizei(pkm.size() - 16), pkm.data() + 16);
        if (w == 1 && h == 1) break;
    }
    return id;
}

GLuint compile(GLenum type, const std::string& path)
{
    std::string source = readFile(path);
    const char* text = source.c_str();
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) fail(("cannot compile " + path).c_str());
    return shader;
}

// lanterna's caption: the string's glyphs rendered once with FreeType into an alpha texture, drawn
// each frame as one batch of textured quads in yellow, as a text overlay draws it.
const char captionText[] = "Mipmapped ETC1 compressed texture";
GLuint captionProgram, captionTexture;
GLint captionVertex = -1;
std::vector<GLfloat> captionQuads;

void makeCaption(const std::string& assets)
{
    FT_Library library;
    FT_Face face = nullptr;
    if (FT_Init_FreeType(&library) != 0 ||
        (FT_New_Face(library, (assets + "DejaVuSans.ttf").c_str(), 0, &face) != 0 &&
         FT_New_Face(library, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0, &face) != 0))
        fail("cannot load the caption font");
    FT_Set_Pixel_Sizes(face, 0, 20);
    const int atlasW = 1024, atlasH = 32;
    std::vector<unsigned char> atlas(atlasW * atlasH, 0);
    int atlasX = 0, penX = 0;
    const int baseline = 5;
    for (const char* c = captionText; *c != 0; ++c) {
        if (FT_Load_Char(face, FT_ULong(*c), FT_LOAD_RENDER) != 0) continue;
        FT_GlyphSlot g = face->glyph;
        int w = int(g->bitmap.width), h = int(g->bitmap.rows);
        for (int y = 0; y < h && y < atlasH; ++y)
            for (int x = 0; x < w && atlasX + x < atlasW; ++x)
                atlas[y * atlasW + atlasX + x] = g->bitmap.buffer[y * g->bitmap.pitch + x];
        if (w > 0 && h > 0) {
            float l = (penX + g->bitmap_left) / 320.0f - 1, r = (penX + g->bitmap_left + w) / 320.0f - 1;
            float t = (baseline + g->bitmap_top) / 240.0f - 1, b = (baseline + g->bitmap_top - h) / 240.0f - 1;
            float u0 = float(atlasX) / atlasW, u1 = float(atlasX + w) / atlasW, v1 = float(h) / atlasH;
            const GLfloat quad[] = {l, t, u0, 0, l, b, u0, v1, r, t, u1, 0,
                                    r, t, u1, 0, l, b, u0, v1, r, b, u1, v1};
            captionQuads.insert(captionQuads.end(), quad, quad + 24);
        }
        atlasX += w + 1;
        penX += int(g->advance.x >> 6);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);

    glGenTextures(1, &captionTexture);
    glBindTexture(GL_TEXTURE_2D, captionTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, atlasW, atlasH, 0, GL_ALPHA, GL_UNSIGNED_BYTE, atlas.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

    const char* vertex = "attribute vec4 a_v4Glyph;\nvarying vec2 v_v2Uv;\n"
                         "void main() { v_v2Uv = a_v4Glyph.zw; gl_Position = vec4(a_v4Glyph.xy, 0.0, 1.0); }\n";
    const char* fragment = "precision mediump float;\nuniform sampler2D u_s2dGlyphs;\nvarying vec2 v_v2Uv;\n"
                           "void main() { gl_FragColor = vec4(1.0, 1.0, 0.0, texture2D(u_s2dGlyphs, v_v2Uv).a); }\n";
    captionProgram = glCreateProgram();
    for (auto [type, text] : {std::pair{GL_VERTEX_SHADER, vertex}, {GL_FRAGMENT_SHADER, fragment}}) {
        GLuint shader = glCreateShader(type);
        glShaderSource(shader, 1, &text, nullptr);
        glCompileShader(shader);
        glAttachShader(captionProgram, shader);
    }
    glLinkProgram(captionProgram);
    captionVertex = glGetAttribLocation(captionProgram, "a_v4Glyph");
}

// The caption over the scene, without depth test and culling; the scene's state comes back after.
void drawCaption()
{
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glUseProgram(captionProgram);
    glBindTexture(GL_TEXTURE_2D, captionTexture);
    glVertexAttribPointer(captionVertex, 4, GL_FLOAT, GL_FALSE, 0, captionQuads.data());
    glEnableVertexAttribArray(captionVertex);
    glDrawArrays(GL_TRIANGLES, 0, GLsizei(captionQuads.size() / 4));
    glDisableVertexAttribArray(captionVertex);
    glEnable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
}

}  // namespace

int main(int argc, char** argv)
{
    const Scene* scene = nullptr;
    for (const Scene& s : scenes)
        if (argc == 3 && std::strcmp(argv[1], s.name) == 0) scene = &s;
    if (scene == nullptr) fail("usage: barequads <lanterna|veilglass|tilemosaic> <assets-directory>");
    std::string assets = std::string(argv[2]) + "/";

    Display* x = XOpenDisplay(nullptr);
    if (x == nullptr) fail("no X display");
    Window window = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 640, 480, 0, 0, 0);
    XStoreName(x, window, "barequads");
    Atom deleteWindow = XInternAtom(x, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(x, window, &deleteWindow, 1);
    XMapWindow(x, window);
    XFlush(x);

    EGLDisplay display = eglGetDisplay(reinterpret_cast<EGLNativeDisplayType>(x));
    if (!eglInitialize(display, nullptr, nullptr)) fail("eglInitialize");
    const EGLint wanted[] = {EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                             EGL_DEPTH_SIZE, 1, EGL_SURFACE_TYPE, EGL_WINDOW_BIT,
                             EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT, EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    eglChooseConfig(display, wanted, configs, 64, &count);
    EGLConfig config = nullptr;
    for (EGLint i = 0; i < count && config == nullptr; ++i) {
        EGLint r, g, b, a, samples, visual;
        eglGetConfigAttrib(display, configs[i], EGL_RED_SIZE, &r);
        eglGetConfigAttrib(display, configs[i], EGL_GREEN_SIZE, &g);
        eglGetConfigAttrib(display, configs[i], EGL_BLUE_SIZE, &b);
        eglGetConfigAttrib(display, configs[i], EGL_ALPHA_SIZE, &a);
        eglGetConfigAttrib(display, configs[i], EGL_SAMPLES, &samples);
        eglGetConfigAttrib(display, configs[i], EGL_NATIVE_VISUAL_ID, &visual);
        if (r == 8 && g == 8 && b == 8 && a == 8 && samples == 0 &&
            VisualID(visual) == XVisualIDFromVisual(DefaultVisual(x, DefaultScreen(x))))
            config = configs[i];
    }
    if (config == nullptr && count > 0) config = configs[0];
    if (config == nullptr) fail("no RGBA8888 config with a depth buffer");
    EGLSurface surface = eglCreateWindowSurface(display, config, window, nullptr);
    const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (!eglMakeCurrent(display, surface, surface, context)) fail("eglMakeCurrent");

    if (scene->cullAndDepth) {
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
        glEnable(GL_DEPTH_TEST);
    }
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glActiveTexture(GL_TEXTURE0);
    GLuint texture = loadMipChain(assets + scene->texturePrefix, ".pkm");
    if (scene->alphaSuffix != nullptr) {
        glActiveTexture(GL_TEXTURE1);
        loadMipChain(assets + scene->texturePrefix, scene->alphaSuffix);
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER, assets + scene->vertexShader));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER, assets + scene->fragmentShader));
    glLinkProgram(program);
    glUseProgram(program);
    if (scene->cullAndDepth) makeCaption(assets);
    glUseProgram(program);
    GLint position = glGetAttribLocation(program, "a_v4Position");
    GLint texCoord = glGetAttribLocation(program, "a_v2TexCoord");
    glUniform1i(glGetUniformLocation(program, "u_s2dTexture"), 0);
    if (scene->alphaSuffix != nullptr) glUniform1i(glGetUniformLocation(program, "u_s2dAlpha"), 1);
    glVertexAttribPointer(position, 3, GL_FLOAT, GL_FALSE, 0, quadPositions);
    glEnableVertexAttribArray(position);
    glVertexAttribPointer(texCoord, 2, GL_FLOAT, GL_FALSE, 0, quadTexCoords);
    glEnableVertexAttribArray(texCoord);
    glClearColor(scene->clear[0], scene->clear[1], scene->clear[2], scene->clear[3]);
    if (glGetError() != GL_NO_ERROR) fail("GL error in set-up");

    for (bool open = true; open;) {
        while (XPending(x) > 0) {
            XEvent event;
            XNextEvent(x, &event);
            if (event.type == ClientMessage && Atom(event.xclient.data.l[0]) == deleteWindow)
                open = false;
        }
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (scene->cullAndDepth) {
            // The caption's program and texture replace the scene's, which come back each frame.
            glUseProgram(program);
            glVertexAttribPointer(position, 3, GL_FLOAT, GL_FALSE, 0, quadPositions);
            glEnableVertexAttribArray(position);
            glVertexAttribPointer(texCoord, 2, GL_FLOAT, GL_FALSE, 0, quadTexCoords);
            glEnableVertexAttribArray(texCoord);
            glBindTexture(GL_TEXTURE_2D, texture);
        }
        glDrawElements(GL_TRIANGLE_STRIP, 52, GL_UNSIGNED_BYTE, quadIndices);
        if (scene->cullAndDepth) drawCaption();
        eglSwapBuffers(display, surface);
    }
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglTerminate(display);
    XDestroyWindow(x, window);
    XCloseDisplay(x);
    return 0;
}
