// The three ETC1 demos, run from their installed folders under the test X server: what the window
// shows, how a close request ends them, and every failure path with its exact output.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>

#include "DemoGeometry.h"
#include "bringupcheck/swapcount.h"
#include "runprog.h"
#include "xwindow.h"

using namespace testutil;

namespace {

struct Demo {
    const char* name;
    const char* source;        // as the EGL error report names it
    const char* vertexShader;  // file names under assets/
    const char* fragmentShader;
    uint32_t clear;            // clear colour, 0xRRGGBB
};

const Demo lanterna = {"lanterna", "samples/opengles_20/lanterna/Lanterna.cpp",
                       "Lanterna_texture.vert", "Lanterna_texture.frag", 0x0000ff};
const Demo veilglass = {"veilglass", "samples/opengles_20/veilglass/Veilglass.cpp",
                        "Veilglass_dualtex.vert", "Veilglass_dualtex.frag", 0x204080};
const Demo tilemosaic = {"tilemosaic", "samples/opengles_20/tilemosaic/Tilemosaic.cpp",
                         "Tilemosaic_atlastex.vert", "Tilemosaic_atlastex.frag", 0x204080};
const Demo* const allDemos[] = {&lanterna, &veilglass, &tilemosaic};

// ---- pixels ----

struct Rgb {
    int r, g, b;
};

Rgb rgb(uint32_t p) { return {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)}; }

double distance(Rgb a, Rgb b)
{
    return std::sqrt(double((a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) +
                            (a.b - b.b) * (a.b - b.b)));
}

std::string show(Rgb c)
{
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

struct Shot {
    std::vector<uint32_t> pixels;
    int w = 0, h = 0;
    Rgb at(int x, int y) const { return rgb(pixels[size_t(y) * w + x]); }
    // Mean colour of the rectangle [x0, x1) x [y0, y1).
    Rgb mean(int x0, int y0, int x1, int y1) const
    {
        long r = 0, g = 0, b = 0, n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x, ++n) {
                Rgb c = at(x, y);
                r += c.r, g += c.g, b += c.b;
            }
        return {int(r / n), int(g / n), int(b / n)};
    }
};

// ---- running a demo ----

std::string installedFolder(const Demo& demo)
{
    return stage_dir() + "/share/board-bringup/samples/" + demo.name;
}

// A copy of the installed demo folder whose assets a test may change.
std::string copyFolder(const Demo& demo)
{
    std::string dir = make_temp_dir(demo.name);
    RunOptions copy;
    copy.argv = {"/bin/cp", "-r", installedFolder(demo) + "/.", dir};
    RunResult r = run(copy);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return dir;
}

// Replaces every occurrence of from with to in a file.
void rewrite(const std::string& path, const std::string& from, const std::string& to)
{
    std::string text = read_file(path);
    ASSERT_NE(text.find(from), std::string::npos) << path << " has no " << from;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    write_file(path, text);
}

// The 1-based line of the demo's source that holds the text.
int sourceLine(const Demo& demo, const std::string& text)
{
    std::ifstream in(source_dir() + "/" + demo.source);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n)
        if (line.find(text) != std::string::npos) return n;
    ADD_FAILURE() << demo.source << " has no line with " << text;
    return 0;
}

RunOptions demoOptions(const Demo& demo, const std::string& folder)
{
    RunOptions o;
    o.argv = {stage_bin(demo.name)};
    o.cwd = folder;
    o.timeout_s = 120;
#ifdef DEMO_KEEP_LOADED
    o.env = {"LD_PRELOAD=" DEMO_KEEP_LOADED, "LSAN_OPTIONS=print_suppressions=0:suppressions=" DEMO_LSAN_SUPPRESSIONS};
#endif
    return o;
}

// Adds settings to a run's environment; LD_PRELOAD=<lib> goes after what is preloaded already.
void addEnv(RunOptions& o, const std::vector<std::string>& settings)
{
    for (const std::string& s : settings) {
        bool merged = false;
        for (std::string& e : o.env)
            if (s.rfind("LD_PRELOAD=", 0) == 0 && e.rfind("LD_PRELOAD=", 0) == 0) {
                e += " " + s.substr(11);
                merged = true;
            }
        if (!merged) o.env.push_back(s);
    }
}

// Preloads the EGL stand-in of fakeegl.cpp, whose FAKEEGL_* settings choose what it does, and
// bringup-check's frame counter, which counts the buffer swaps into the file SWAPCOUNT_FILE_ENV names.
const std::string preloadFakeEgl = "LD_PRELOAD=" FAKEEGL_LIBRARY ":" SWAPCOUNT_LIBRARY;

// A demo running on a thread of its own while the test looks at its window.
class Running {
public:
    explicit Running(RunOptions options)
        : thread([this, options] { result = run(options); }) {}
    ~Running()
    {
        if (thread.joinable()) thread.join();
    }
    RunResult finish()
    {
        thread.join();
        return result;
    }

private:
    RunResult result;
    std::thread thread;
};

// What a screenshot should show; each check that fails adds a line.
struct Problems {
    std::vector<std::string> lines;
    void expect(bool ok, const std::string& what)
    {
        if (!ok) lines.push_back(what);
    }
};
using SceneCheck = std::function<void(const Shot&, Problems&)>;

// Other tests' windows share the X server and may cover the demo's: it is raised before each look.
void raiseWindow(const char* title)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            char* name = nullptr;
            if (XFetchName(display, children[i], &name) && name != nullptr) {
                if (std::string(name) == title) XRaiseWindow(display, children[i]);
                XFree(name);
            }
        }
        if (children != nullptr) XFree(children);
    }
    XCloseDisplay(display);
}

// Looks at the demo's window until it shows what the check wants, for up to 30 s (times the time
// scale); a window that never does fails the test with what the last look found.
Shot lookAtScene(const Demo& demo, const SceneCheck& check)
{
    Shot shot;
    Problems problems;
    for (int i = 0; i < 150 * time_scale(); ++i) {
        raiseWindow(demo.name);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        problems = Problems();
        if (!screenshot_window(demo.name, shot.pixels, shot.w, shot.h) || shot.w != 640 || shot.h != 480)
            problems.expect(false, "no 640x480 window to copy");
        else
            check(shot, problems);
        if (problems.lines.empty()) return shot;
    }
    for (const std::string& line : problems.lines) ADD_FAILURE() << demo.name << ": " << line;
    return shot;
}

// The buffer swaps the frame counter counted; none when it wrote nothing.
long long swapsCounted(const std::string& path)
{
    long long n = 0;
    double first = 0, last = 0;
    return file_exists(path) && std::sscanf(read_file(path).c_str(), kSwapCountScan, &n, &first, &last) >= 1 ? n : 0;
}

// Pixels of the caption's yellow in the bottom band of the window.
int yellowPixels(const Shot& shot)
{
    int n = 0;
    for (int y = 430; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            Rgb c = shot.at(x, y);
            n += c.r > 180 && c.g > 180 && c.b < 100;
        }
    return n;
}

// The pixel at (x, y) within tolerance of a colour.
void expectColour(const Shot& shot, int x, int y, Rgb want, double tolerance, Problems& p)
{
    p.expect(distance(shot.at(x, y), want) < tolerance, "at " + std::to_string(x) + "," +
                                                             std::to_string(y) + ": " +
                                                             show(shot.at(x, y)) + ", not " + show(want));
}

// Quad 0 covers pixels x 0 to 256, y 0 to 128; quad 1 x 256 to 384, y 0 to 64; quad 2 x 384 to 448,
// y 0 to 32; the last quad ends at x 511. Below and right of them only the clear colour shows.
void expectClearAroundQuads(const Demo& demo, const Shot& shot, Problems& p)
{
    for (auto [x, y] : {std::pair{128, 140}, {320, 80}, {416, 40}, {600, 4}, {10, 470}, {630, 240}}) {
        if (&demo == &lanterna && y > 430) continue;  // the caption's band
        expectColour(shot, x, y, rgb(demo.clear), 6, p);
    }
}

// A quad pixel that blends the texture's colour with the background, at about half alpha.
void expectTranslucent(const Demo& demo, Rgb seen, Rgb opaque, const std::string& where, Problems& p)
{
    Rgb clear = rgb(demo.clear);
    Rgb half = {(opaque.r + clear.r) / 2, (opaque.g + clear.g) / 2, (opaque.b + clear.b) / 2};
    p.expect(distance(seen, clear) > 40 && distance(seen, opaque) > 40 && distance(seen, half) < 60,
             where + ": " + show(seen) + " is not about half of " + show(opaque) + " over the background");
}

// Every pixel of every quad of the shared geometry (the 1-pixel quads at the strip's end too) has
// the colour: a strip drawn short or a quad that faces away shows the background instead.
void expectEveryQuadFilled(const Shot& shot, Rgb want, double tolerance, Problems& p)
{
    for (int q = 0; q < 9; ++q) {
        const GLfloat* topLeft = quadPositions + 3 * (4 * q);
        const GLfloat* bottomRight = quadPositions + 3 * (4 * q + 3);
        // Window pixels whose centres lie inside the quad; y counts down from the window's top.
        double x0 = (topLeft[0] + 1.0) * 320, x1 = (bottomRight[0] + 1.0) * 320;
        double y0 = (1.0 - topLeft[1]) * 240, y1 = (1.0 - bottomRight[1]) * 240;
        int inside = 0, wrong = 0;
        std::string first;
        for (int y = 0; y < shot.h; ++y)
            for (int x = 0; x < shot.w; ++x) {
                double cx = x + 0.5, cy = y + 0.5;
                if (cx <= x0 + 0.01 || cx >= x1 - 0.01 || cy <= y0 + 0.01 || cy >= y1 - 0.01) continue;
                ++inside;
                if (distance(shot.at(x, y), want) >= tolerance) {
                    if (wrong++ == 0) first = std::to_string(x) + "," + std::to_string(y) + " " + show(shot.at(x, y));
                }
            }
        p.expect(inside > 0, "quad " + std::to_string(q) + " covers no pixel centre");
        p.expect(wrong == 0, "quad " + std::to_string(q) + ": " + std::to_string(wrong) + " of " +
                                 std::to_string(inside) + " pixels not " + show(want) + ", first at " + first);
    }
}

// Runs the demo from the folder, waits for the scene the check wants, closes the window: the demo
// ends with status 0 and prints nothing.
void runAndClose(const Demo& demo, const std::string& folder, const SceneCheck& check)
{
    Running running(demoOptions(demo, folder));
    lookAtScene(demo, check);
    EXPECT_TRUE(send_close_request(demo.name)) << demo.name;
    RunResult r = running.finish();
    EXPECT_EQ(r.exit_code, 0) << demo.name << ": " << r.err;
    EXPECT_EQ(r.out, "") << demo.name;
    EXPECT_EQ(r.err, "") << demo.name;
}

// ---- scenes ----

TEST(DemoScene, LanternaShowsOneMipLevelPerQuadAndTheCaption)
{
    runAndClose(lanterna, installedFolder(lanterna), [](const Shot& shot, Problems& p) {
        expectClearAroundQuads(lanterna, shot, p);
        // Each quad halves, so each is sampled one mip level lower: quad 0 shows level 1 (orange
        // tint), quad 1 level 2 (yellow), quad 2 level 3 (green). Means over the quads' edges avoid
        // the level numbers in their middles.
        Rgb quad0 = shot.mean(4, 4, 40, 124);
        p.expect(quad0.r > 180 && quad0.r > quad0.g + 30 && quad0.g > quad0.b + 30,
                 "quad 0 not orange (level 1): " + show(quad0));
        Rgb quad1 = shot.mean(258, 2, 270, 62);
        p.expect(quad1.r > 150 && quad1.g > 150 && quad1.b < quad1.g - 60,
                 "quad 1 not yellow (level 2): " + show(quad1));
        Rgb quad2 = shot.mean(386, 2, 392, 30);
        p.expect(quad2.g > quad2.r + 40 && quad2.g > quad2.b + 40,
                 "quad 2 not green (level 3): " + show(quad2));
        p.expect(yellowPixels(shot) > 100, "no yellow caption at the bottom");
    });
}

TEST(DemoScene, VeilglassShowsTheBackgroundAroundThroughAndInsideTheRing)
{
    runAndClose(veilglass, installedFolder(veilglass), [](const Shot& shot, Problems& p) {
        expectClearAroundQuads(veilglass, shot, p);
        // Quad 0 shows the ring centred at (128, 64): clear in its hole and outside it, opaque in
        // its outer band, half transparent between. Right of the centre the colour picture is cyan.
        Rgb clear = rgb(veilglass.clear);
        expectColour(shot, 128, 64, clear, 12, p);
        expectColour(shot, 4, 4, clear, 12, p);
        Rgb opaque = shot.at(223, 64);
        p.expect(opaque.r < 70 && opaque.g > 190 && opaque.b > 190, "ring not opaque cyan: " + show(opaque));
        expectTranslucent(veilglass, shot.at(189, 64), opaque, "ring's middle band", p);
        // Quad 1 holds the same picture at half the size.
        expectColour(shot, 320, 32, clear, 12, p);
        Rgb quad1 = shot.at(372, 32);
        p.expect(quad1.g > 150 && quad1.b > 150, "quad 1's ring not cyan: " + show(quad1));
    });
}

TEST(DemoScene, TilemosaicTakesColourAndAlphaFromTheTwoHalvesOfItsAtlas)
{
    runAndClose(tilemosaic, installedFolder(tilemosaic), [](const Shot& shot, Problems& p) {
        expectClearAroundQuads(tilemosaic, shot, p);
        // Quad 0 shows the star centred at (128, 64): clear around it, opaque red on its left arm
        // and cyan on its right, half transparent in its core.
        Rgb clear = rgb(tilemosaic.clear);
        expectColour(shot, 4, 4, clear, 12, p);
        expectColour(shot, 250, 120, clear, 12, p);
        Rgb arm = shot.at(60, 64);
        p.expect(arm.r > 190 && arm.g < 70 && arm.b < 70, "left arm not opaque red: " + show(arm));
        Rgb right = shot.at(200, 64);
        p.expect(right.r < 70 && right.g > 190 && right.b > 190, "right arm not opaque cyan: " + show(right));
        expectTranslucent(tilemosaic, shot.at(110, 64), {255, 0, 0}, "star's core", p);
    });
}

// ---- closing ----

// The close request reaches the window while the demo waits at its make-current: the first frame
// is still drawn and shown, then the demo ends normally.
TEST(DemoClose, CloseBeforeTheFirstFrameDrawsOneFrameAndEndsWithZero)
{
    for (const Demo* demo : allDemos) {
        std::string dir = make_temp_dir(std::string(demo->name) + "-early");
        RunOptions o = demoOptions(*demo, installedFolder(*demo));
        addEnv(o, {preloadFakeEgl, "FAKEEGL_HOLD_FILE=" + dir + "/go", SWAPCOUNT_FILE_ENV "=" + dir + "/swaps"});
        Running running(o);
        ASSERT_TRUE(wait_for_window(demo->name, 30 * testutil::time_scale())) << demo->name;
        EXPECT_TRUE(send_close_request(demo->name)) << demo->name;
        // Let the server deliver the request before the demo polls.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        write_file(dir + "/go", "");
        RunResult r = running.finish();
        EXPECT_EQ(r.exit_code, 0) << demo->name << ": " << r.err;
        EXPECT_EQ(r.out, "") << demo->name;
        EXPECT_EQ(r.err, "") << demo->name;
        EXPECT_EQ(swapsCounted(dir + "/swaps"), 1) << demo->name;
    }
}

// Another X client destroys the window while the demo draws: the demo ends as if closed, with
// status 0 and nothing printed (no X error about the window that is gone).
TEST(DemoClose, WindowDestroyedByAnotherClientEndsWithZero)
{
    for (const Demo* demo : allDemos) {
        RunOptions o = demoOptions(*demo, installedFolder(*demo));
        // One that misses the destroy would draw on until killed.
        o.timeout_s = 40;
        Running running(o);
        lookAtScene(*demo, [demo](const Shot& shot, Problems& p) { expectClearAroundQuads(*demo, shot, p); });
        EXPECT_TRUE(destroy_window(demo->name)) << demo->name;
        RunResult r = running.finish();
        EXPECT_EQ(r.exit_code, 0) << demo->name << ": " << r.err;
        EXPECT_FALSE(r.timed_out) << demo->name;
        EXPECT_EQ(r.out, "") << demo->name;
        EXPECT_EQ(r.err, "") << demo->name;
    }
}

// The window is destroyed from outside after the demo has taken a close request but before it
// closes the window itself: its own destroy of the window that is gone is no error either.
TEST(DemoClose, WindowDestroyedWhileTheDemoEndsEndsWithZero)
{
    for (const Demo* demo : {&lanterna, &veilglass}) {
        std::string dir = make_temp_dir(std::string(demo->name) + "-late-destroy");
        RunOptions o = demoOptions(*demo, installedFolder(*demo));
        addEnv(o, {preloadFakeEgl, "FAKEEGL_END_HOLD_FILE=" + dir + "/go"});
        Running running(o);
        ASSERT_TRUE(wait_for_window(demo->name, 30)) << demo->name;
        EXPECT_TRUE(send_close_request(demo->name)) << demo->name;
        for (int i = 0; i < 600 && !file_exists(dir + "/go.reached"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(file_exists(dir + "/go.reached")) << demo->name;
        EXPECT_TRUE(destroy_window(demo->name)) << demo->name;
        write_file(dir + "/go", "");
        RunResult r = running.finish();
        EXPECT_EQ(r.exit_code, 0) << demo->name << ": " << r.err;
        EXPECT_EQ(r.out, "") << demo->name;
        EXPECT_EQ(r.err, "") << demo->name;
    }
}

// ---- failures ----

TEST(DemoFailure, WithoutEtc1EachDemoSaysSoAndEndsWithOneBeforeAnyFrame)
{
    for (const Demo* demo : allDemos) {
        std::string dir = make_temp_dir(std::string(demo->name) + "-noetc");
        RunOptions o = demoOptions(*demo, installedFolder(*demo));
        addEnv(o, {preloadFakeEgl, SWAPCOUNT_FILE_ENV "=" + dir + "/swaps",
                 "MESA_EXTENSION_OVERRIDE=-GL_OES_compressed_ETC1_RGB8_texture"});
        RunResult r = run(o);
        EXPECT_EQ(r.exit_code, 1) << demo->name;
        EXPECT_EQ(r.out, "ETC1 not supported") << demo->name;
        // The framework may say why first; the demo's own part is the prefix, last.
        ASSERT_GE(r.err.size(), 7u) << demo->name;
        EXPECT_EQ(r.err.substr(r.err.size() - 7), "Error: ") << demo->name;
        EXPECT_EQ(swapsCounted(dir + "/swaps"), 0) << demo->name;
    }
}

// A texture level that cannot be loaded: the framework names the file in one line on standard
// error and leaves a GL error pending, which the demo's next GL check turns into status 1 with no
// message of its own, before any frame.
TEST(DemoFailure, BrokenTextureLevelEndsWithOneBeforeAnyFrame)
{
    struct Case {
        const Demo* demo;
        const char* level;      // under assets/
        const char* what;
        std::function<void(const std::string& path)> damage;
    } cases[] = {
        {&lanterna, "good_mip_5.pkm", "missing", [](const std::string& path) { std::remove(path.c_str()); }},
        {&tilemosaic, "good_atlas_mip_0.pkm", "truncated",
         [](const std::string& path) {
             std::string bytes = read_file(path);
             write_file(path, bytes.substr(0, bytes.size() - 8));
         }},
        {&veilglass, "good_compressed_mip_0_alpha.pkm", "bad magic",
         [](const std::string& path) {
             std::string bytes = read_file(path);
             bytes[0] = 'Q';
             write_file(path, bytes);
         }},
        {&veilglass, "good_compressed_mip_3.pkm", "zero bytes", [](const std::string& path) { write_file(path, ""); }},
        {&lanterna, "good_mip_0.pkm", "zero bytes", [](const std::string& path) { write_file(path, ""); }},
        {&tilemosaic, "good_atlas_mip_4.pkm", "a directory",
         [](const std::string& path) {
             std::remove(path.c_str());
             EXPECT_EQ(mkdir(path.c_str(), 0755), 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.demo->name) + ": " + c.level + " " + c.what);
        std::string folder = copyFolder(*c.demo);
        c.damage(folder + "/assets/" + c.level);
        std::string dir = make_temp_dir(std::string(c.demo->name) + "-badtexture");
        RunOptions o = demoOptions(*c.demo, folder);
        addEnv(o, {preloadFakeEgl, SWAPCOUNT_FILE_ENV "=" + dir + "/swaps"});
        // It ends during set-up; one that misses the failure would draw until killed.
        o.timeout_s = 30;
        RunResult r = run(o);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("loadCompressedMipmaps: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(std::string("\"assets/") + c.level + "\""), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_EQ(swapsCounted(dir + "/swaps"), 0);
    }
}

TEST(DemoFailure, WithoutAProgramObjectEachDemoSaysSoAndEndsWithOneBeforeAnyFrame)
{
    for (const Demo* demo : allDemos) {
        std::string dir = make_temp_dir(std::string(demo->name) + "-noprogram");
        RunOptions o = demoOptions(*demo, installedFolder(*demo));
        addEnv(o, {preloadFakeEgl, SWAPCOUNT_FILE_ENV "=" + dir + "/swaps", "FAKEEGL_NO_PROGRAM=1"});
        RunResult r = run(o);
        EXPECT_EQ(r.exit_code, 1) << demo->name;
        EXPECT_EQ(r.out, "Could not create program.") << demo->name;
        EXPECT_EQ(r.err, "Error: ") << demo->name;
        EXPECT_EQ(swapsCounted(dir + "/swaps"), 0) << demo->name;
    }
}

TEST(DemoFailure, VertexShaderWithoutPositionEndsWithOne)
{
    for (const Demo* demo : allDemos) {
        std::string folder = copyFolder(*demo);
        rewrite(folder + "/assets/" + demo->vertexShader, "a_v4Position", "a_v4Place");
        RunResult r = run(demoOptions(*demo, folder));
        EXPECT_EQ(r.exit_code, 1) << demo->name;
        // veilglass words it with the prefix once more, on standard output.
        std::string prefix = demo == &veilglass ? "Error: " : "";
        EXPECT_EQ(r.out, prefix + "Attribute not found: \"a_v4Position\"") << demo->name;
        EXPECT_EQ(r.err, "Error: ") << demo->name;
    }
}

TEST(DemoFailure, VeilglassWithoutAlphaSamplerNamesTheLineOfItsCheck)
{
    std::string folder = copyFolder(veilglass);
    rewrite(folder + "/assets/Veilglass_dualtex.frag", "u_s2dAlpha", "u_s2dMask");
    std::string dir = make_temp_dir("veilglass-noalpha");
    RunOptions o = demoOptions(veilglass, folder);
    addEnv(o, {preloadFakeEgl, SWAPCOUNT_FILE_ENV "=" + dir + "/swaps"});
    RunResult r = run(o);
    EXPECT_EQ(r.exit_code, 1);
    int line = sourceLine(veilglass, "\"Uniform not found at line %i\\n\", __LINE__");
    EXPECT_EQ(r.out, "Uniform not found at line " + std::to_string(line) + "\n");
    EXPECT_EQ(r.err, "Error: ");
    EXPECT_EQ(swapsCounted(dir + "/swaps"), 0);
}

TEST(DemoFailure, MakeCurrentFailureIsReportedWithTheDemosSourceAndLine)
{
    for (const Demo* demo : allDemos) {
        RunOptions o = demoOptions(*demo, installedFolder(*demo));
        addEnv(o, {preloadFakeEgl, "FAKEEGL_MAKECURRENT_ERROR=0x3002"});
        RunResult r = run(o);
        EXPECT_EQ(r.exit_code, 1) << demo->name;
        int line = sourceLine(*demo, "runDemo(__FILE__, __LINE__)");
        EXPECT_EQ(r.out, "eglGetError() = 12290 (0x00003002) at " + std::string(demo->source) + ":" +
                             std::to_string(line) + "\n");
        EXPECT_EQ(r.err, "Error: ") << demo->name;
    }
}

// Shaders that use neither texture coordinates nor the "u_s2dTexture" sampler: the demos draw the
// quads in the shader's flat colour and stay silent.
TEST(DemoShaders, WithoutTexCoordAndSamplerTheQuadsAreStillDrawn)
{
    const std::string vertex =
        "attribute vec4 a_v4Position;\nvoid main()\n{\n    gl_Position = a_v4Position;\n}\n";
    const std::string flat = "precision mediump float;\nvoid main()\n{\n"
                             "    gl_FragColor = vec4(1.0, 0.5, 0.0, 1.0);\n}\n";
    // veilglass must keep its alpha sampler; it reads it on the ring's opaque band.
    const std::string flatWithAlpha =
        "precision mediump float;\nuniform sampler2D u_s2dAlpha;\nvoid main()\n{\n"
        "    gl_FragColor = vec4(1.0, 0.5, 0.0, texture2D(u_s2dAlpha, vec2(0.87, 0.5)).r);\n}\n";
    for (const Demo* demo : allDemos) {
        std::string folder = copyFolder(*demo);
        write_file(folder + "/assets/" + demo->vertexShader, vertex);
        write_file(folder + "/assets/" + demo->fragmentShader, demo == &veilglass ? flatWithAlpha : flat);
        runAndClose(*demo, folder, [demo](const Shot& shot, Problems& p) {
            expectEveryQuadFilled(shot, {255, 128, 0}, 20, p);
            expectColour(shot, 128, 140, rgb(demo->clear), 6, p);
            if (demo == &lanterna) p.expect(yellowPixels(shot) > 100, "no yellow caption at the bottom");
        });
    }
}

}  // namespace
