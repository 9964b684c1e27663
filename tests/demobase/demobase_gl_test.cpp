// The framework on the fixture's X server and Mesa: window life, PKM mip chains in the GL, shader
// reports, the ETC1 test and on-screen text.
#include <EGL/egl.h>
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "EGLRuntime.h"
#include "Platform.h"
#include "Shader.h"
#include "Text.h"
#include "Texture.h"
#include "pkmfiles.h"
#include "runprog.h"
#include "xwindow.h"

namespace {

using KorrinSDK::EGLRuntime;
const int windowWidth = 320, windowHeight = 240;

// One window and context for the whole process, as in a demo.
class GLEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        platform = KorrinSDK::Platform::getInstance();
        platform->openWindow(windowWidth, windowHeight);
        EGLRuntime::initializeEGL(KorrinSDK::OpenGLES2);
        ASSERT_TRUE(eglMakeCurrent(EGLRuntime::display, EGLRuntime::surface, EGLRuntime::surface,
                                   EGLRuntime::context));
    }
    void TearDown() override {
        EGLRuntime::terminateEGL();
        EXPECT_EQ(EGLRuntime::display, EGL_NO_DISPLAY);
        EXPECT_EQ(EGLRuntime::surface, EGL_NO_SURFACE);
        EXPECT_EQ(EGLRuntime::context, EGL_NO_CONTEXT);
        platform->closeWindow();
        delete platform;
    }
    KorrinSDK::Platform* platform = nullptr;
};

::testing::Environment* const glEnvironment = ::testing::AddGlobalTestEnvironment(new GLEnvironment);

GLint boundTexture() {
    GLint name = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return name;
}

// A solid-colour ETC1 block: differential mode, base red 31 (255), green and blue 0, table 0,
// all pixels on modifier +2: decodes to (255, 2, 2).
std::string redBlocks(unsigned width, unsigned height) {
    std::string blocks;
    for (unsigned i = 0; i < ((width + 3) / 4) * ((height + 3) / 4); ++i) {
        blocks += std::string("\xf8\x00\x00\x02\x00\x00\x00\x00", 8);
    }
    return blocks;
}

// Writes the chain of a width x height image as <dir>/tex_<level>.pkm.
void writeChain(const std::string& dir, unsigned width, unsigned height) {
    for (unsigned level = 0;; ++level) {
        const unsigned w = width >> level ? width >> level : 1, h = height >> level ? height >> level : 1;
        std::string file = pkmtest::makePkm(w, h).substr(0, 16) + redBlocks(w, h);
        testutil::write_file(dir + "/tex_" + std::to_string(level) + ".pkm", file);
        if (w == 1 && h == 1) break;
    }
}

GLuint buildProgram(const char* vertexSource, const char* fragmentSource) {
    GLuint program = glCreateProgram();
    for (auto [type, source] : {std::pair<GLenum, const char*>{GL_VERTEX_SHADER, vertexSource},
                                {GL_FRAGMENT_SHADER, fragmentSource}}) {
        GLuint shader = glCreateShader(type);
        glShaderSource(shader, 1, &source, nullptr);
        glCompileShader(shader);
        glAttachShader(program, shader);
    }
    glLinkProgram(program);
    return program;
}

std::vector<uint8_t> readWindow() {
    std::vector<uint8_t> rgba(static_cast<size_t>(windowWidth) * windowHeight * 4);
    glReadPixels(0, 0, windowWidth, windowHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

TEST(DemobaseTexture, ETC1IsSupportedOnThisGL) {
    EXPECT_TRUE(KorrinSDK::Texture::isETCSupported(true));
}

TEST(DemobaseTexture, LoadsAWholeMipChainAndLeavesItBound) {
    const std::string dir = testutil::make_temp_dir("mipchain");
    writeChain(dir, 8, 4);  // 8x4, 4x2, 2x1, 1x1
    GLuint texture = 0;
    testing::internal::CaptureStderr();
    KorrinSDK::Texture::loadCompressedMipmaps((dir + "/tex_").c_str(), ".pkm", &texture);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(boundTexture(), static_cast<GLint>(texture));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // Sampled across the window the texture shows its block colour.
    GLuint program = buildProgram(
        "attribute vec2 a_v2Position; varying vec2 v_v2TexCoord;\n"
        "void main() { v_v2TexCoord = a_v2Position * 0.5 + 0.5; gl_Position = vec4(a_v2Position, 0.0, 1.0); }\n",
        "precision mediump float; uniform sampler2D u_s2dTexture; varying vec2 v_v2TexCoord;\n"
        "void main() { gl_FragColor = texture2D(u_s2dTexture, v_v2TexCoord); }\n");
    glUseProgram(program);
    const GLfloat quad[] = {-1, -1, 1, -1, -1, 1, 1, 1};
    const GLint position = glGetAttribLocation(program, "a_v2Position");
    glVertexAttribPointer(static_cast<GLuint>(position), 2, GL_FLOAT, GL_FALSE, 0, quad);
    glEnableVertexAttribArray(static_cast<GLuint>(position));
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glDisableVertexAttribArray(static_cast<GLuint>(position));
    const std::vector<uint8_t> pixels = readWindow();
    const size_t centre = (static_cast<size_t>(windowHeight / 2) * windowWidth + windowWidth / 2) * 4;
    EXPECT_EQ(pixels[centre], 255);
    EXPECT_NEAR(pixels[centre + 1], 2, 1);
    EXPECT_NEAR(pixels[centre + 2], 2, 1);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glDeleteProgram(program);
    glDeleteTextures(1, &texture);
}

TEST(DemobaseTexture, RefusesAMissingTruncatedOrCorruptLevel) {
    struct Case {
        const char* what;
        unsigned level;
        std::string content;  // empty: the level file is missing
    };
    const std::string good1 = pkmtest::makePkm(4, 2).substr(0, 16) + redBlocks(4, 2);
    std::string wrongMagic = good1;
    wrongMagic[2] = 'X';
    const Case cases[] = {
        {"missing first level", 0, ""},
        {"missing middle level", 2, ""},
        {"truncated level", 1, good1.substr(0, good1.size() - 3)},
        {"wrong magic", 1, wrongMagic},
        {"level of the wrong size", 1, pkmtest::makePkm(4, 4)},
        {"level with trailing bytes", 3, pkmtest::makePkm(1, 1) + "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = testutil::make_temp_dir("badchain");
        writeChain(dir, 8, 4);
        const std::string bad = dir + "/tex_" + std::to_string(c.level) + ".pkm";
        if (c.content.empty()) {
            std::remove(bad.c_str());
        } else {
            testutil::write_file(bad, c.content);
        }
        GLuint previous = 0;
        glGenTextures(1, &previous);
        glBindTexture(GL_TEXTURE_2D, previous);
        GLuint texture = 12345;
        testing::internal::CaptureStderr();
        KorrinSDK::Texture::loadCompressedMipmaps((dir + "/tex_").c_str(), ".pkm", &texture);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(texture, 0u);
        EXPECT_EQ(boundTexture(), 0);
        EXPECT_NE(err.find("\"" + bad + "\""), std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        // The failure is left for the caller's GL check, once.
        EXPECT_NE(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        glDeleteTextures(1, &previous);
    }
}

TEST(DemobaseShader, CompilesAndReportsFailuresWithPathAndLog) {
    const std::string dir = testutil::make_temp_dir("shaders");
    const std::string good = dir + "/good.frag", broken = dir + "/broken.vert", missing = dir + "/none.vert";
    testutil::write_file(good, "precision mediump float;\nvoid main() { gl_FragColor = vec4(1.0); }\n");
    testutil::write_file(broken, "attribute vec4 a_v4Position;\nvoid main() { gl_Position = a_v4Position +; }\n");

    GLuint shader = 0;
    testing::internal::CaptureStderr();
    KorrinSDK::Shader::processShader(&shader, good.c_str(), GL_FRAGMENT_SHADER);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(shader, 0u);
    GLint status = 0, type = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    glGetShaderiv(shader, GL_SHADER_TYPE, &type);
    EXPECT_EQ(status, GL_TRUE);
    EXPECT_EQ(type, GL_FRAGMENT_SHADER);

    testing::internal::CaptureStderr();
    KorrinSDK::Shader::processShader(&shader, broken.c_str(), GL_VERTEX_SHADER);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("\"" + broken + "\""), std::string::npos) << err;
    EXPECT_NE(err.find("rror"), std::string::npos) << "the compile log: " << err;
    ASSERT_NE(shader, 0u);
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    EXPECT_EQ(status, GL_FALSE);

    testing::internal::CaptureStderr();
    KorrinSDK::Shader::processShader(&shader, missing.c_str(), GL_VERTEX_SHADER);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("\"" + missing + "\""), std::string::npos) << err;
    EXPECT_EQ(shader, 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

struct Box {
    int count = 0, left = 1 << 30, right = -1, bottom = 1 << 30, top = -1;
};

// Pixels of exactly the given colour, and their bounding box (GL's bottom-up rows).
Box find(const std::vector<uint8_t>& rgba, uint8_t r, uint8_t g, uint8_t b) {
    Box box;
    for (int y = 0; y < windowHeight; ++y) {
        for (int x = 0; x < windowWidth; ++x) {
            const uint8_t* p = &rgba[(static_cast<size_t>(y) * windowWidth + x) * 4];
            if (p[0] != r || p[1] != g || p[2] != b) continue;
            ++box.count;
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x);
            box.bottom = std::min(box.bottom, y);
            box.top = std::max(box.top, y);
        }
    }
    return box;
}

TEST(DemobaseText, DrawsStringsInTheirColoursWhereAsked) {
    // Text does not need the resource directory to hold the font: the system's DejaVu is used.
    KorrinSDK::Text* text = new KorrinSDK::Text("no-such-assets/", windowWidth, windowHeight);
    text->addString(10, 20, "Yellow text", 255, 255, 0, 255);
    text->addString(150, 150, "Magenta", 255, 0, 255, 255);
    // The caller's depth test (with a depth buffer that rejects everything) and culling must
    // neither hide the text nor be lost.
    glClearColor(0, 0, 0.5f, 1);
    glClearDepthf(0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearDepthf(1.0f);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    text->draw();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);

    const std::vector<uint8_t> pixels = readWindow();
    const Box yellow = find(pixels, 255, 255, 0);
    const Box magenta = find(pixels, 255, 0, 255);
    EXPECT_GT(yellow.count, 50);
    EXPECT_GT(magenta.count, 30);
    // Each string starts at its position (x from the left, y from the bottom) and stays near it.
    EXPECT_GE(yellow.left, 10);
    EXPECT_LE(yellow.left, 14);
    EXPECT_GE(yellow.bottom, 20);
    EXPECT_LE(yellow.top, 20 + 30);
    EXPECT_GT(yellow.right, 60);
    EXPECT_GE(magenta.left, 150);
    EXPECT_LE(magenta.left, 154);
    EXPECT_GE(magenta.bottom, 150);
    EXPECT_LE(magenta.top, 150 + 30);
    // Nothing but the two colours and their blended edges over the background.
    EXPECT_EQ(find(pixels, 0, 255, 0).count, 0);
    delete text;
}

// A framework user in its own process: tests/demobase/windowprobe, started in the background.
struct Probe {
    testutil::RunResult result;
    std::thread thread;
    void start(std::vector<std::string> env, std::vector<std::string> colour) {
        thread = std::thread([this, env, colour] {
            testutil::RunOptions options;
            options.argv = {WINDOWPROBE_PATH};
            options.argv.insert(options.argv.end(), colour.begin(), colour.end());
            options.env = env;
            options.timeout_s = 60;
            result = testutil::run(options);
        });
    }
    void join() { thread.join(); }
};

TEST(DemobaseWindow, ShowsItsFrameAndClosesOnTheWindowManagersRequest) {
    Probe probe;
    probe.start({}, {"0", "255", "0"});
    ASSERT_TRUE(testutil::wait_for_window("windowprobe", 30 * testutil::time_scale()));
    // The first frame may still be on its way after the window is mapped.
    std::vector<uint32_t> pixels;
    int w = 0, h = 0;
    bool green = false;
    // Another test's window may cover this one: raise it and look again after a redraw.
    for (int attempt = 0; attempt < 200 && !green; ++attempt) {
        testutil::raise_window("windowprobe");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(testutil::screenshot_window("windowprobe", pixels, w, h));
        green = !pixels.empty() && pixels[pixels.size() / 2] == 0x00ff00u;
        if (!green) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(green);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    EXPECT_TRUE(testutil::send_close_request("windowprobe"));
    probe.join();
    EXPECT_EQ(probe.result.exit_code, 0) << probe.result.err;
    EXPECT_EQ(probe.result.out, "ready\nclosed\n");
    EXPECT_EQ(probe.result.err, "");
}

TEST(DemobaseWindow, ClosesOnEscape) {
    Probe probe;
    probe.start({}, {});
    ASSERT_TRUE(testutil::wait_for_window("windowprobe", 30 * testutil::time_scale()));
    EXPECT_TRUE(testutil::send_escape_key("windowprobe"));
    probe.join();
    EXPECT_EQ(probe.result.exit_code, 0) << probe.result.err;
    EXPECT_EQ(probe.result.out, "ready\nclosed\n");
}

TEST(DemobaseWindow, WithoutAnXDisplayOneLineAndStatus1) {
    struct Case { const char* display; const char* message; };
    for (const Case& c : {Case{"DISPLAY=", "Cannot open a window: DISPLAY is not set\n"},
                          Case{"DISPLAY=:4321", "Cannot open a window: no X display at \":4321\"\n"}}) {
        SCOPED_TRACE(c.display);
        testutil::RunOptions options;
        options.argv = {WINDOWPROBE_PATH};
        options.env = {c.display};
        const testutil::RunResult result = testutil::run(options);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.err, c.message);
        EXPECT_EQ(result.out, "");
    }
}

}  // namespace
