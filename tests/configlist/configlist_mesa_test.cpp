// configlist against the host's real EGL (Mesa), on the X11 platform (the fixture's Xvfb) and on
// the surfaceless platform: the layout of every block, and every configuration agreeing with what
// the system's eglinfo reports for the same platform.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "runprog.h"

namespace {

struct Config {
    int id = 0, bufferSize = 0, red = 0, green = 0, blue = 0, alpha = 0, depth = 0, samples = 0;
    std::string caveat, surfaces, api;
};

struct Report {
    std::string vendor, version;
    std::vector<Config> configs;
};

// Reads configlist's report, insisting on the exact layout of every line of every block.
Report parseConfiglist(const std::string& out) {
    Report report;
    const std::vector<std::string> lines = testutil::split_lines(out);
    std::smatch m;
    const std::regex vendorLine("EGL_VENDOR = (.*), version (\\d+\\.\\d+)");
    const std::regex numberLine("Config number (\\d+) in returned configs");
    const std::regex idLine(" EGL_CONFIG_ID (\\d+)");
    const std::regex caveatLine(" Config caveat: (Normal|Slow|Non-conformant)  Colour buffer type: RGB colour buffer");
    const std::regex colourLine(" Colour depth: (\\d+)     Red   (\\d+)      Green (\\d+)      Blue  (\\d+)      Alpha (\\d+)");
    const std::regex depthLine(" Z-buffer bits: (\\d+)");
    const std::regex samplesLine(" (\\d+)x anti-aliasing");
    const std::regex surfacesLine(" Surfaces: (None!|PBuffer|Pixmap|PBuffer\\+Pixmap|Window|Window\\+PBuffer|Window\\+Pixmap|Window\\+Pixmap\\+PBuffer)");
    const std::regex apiLine("  API support: (No API support\\(\\?\\)|OpenGL ES|OpenVG|OpenGL ES, OpenVG|OpenGL ES 2\\.0|OpenGL ES, OpenGL ES 2\\.0|OpenGL ES 2\\.0, OpenVG|OpenGL ES, OpenGL ES 2\\.0, OpenVG)");
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return report;
    EXPECT_TRUE(std::regex_match(lines[0], m, vendorLine)) << lines[0];
    if (m.size() == 3) {
        report.vendor = m[1];
        report.version = m[2];
    }
    EXPECT_EQ((lines.size() - 1) % 9, 0u) << "blocks are 9 lines each";
    for (size_t start = 1; start + 9 <= lines.size(); start += 9) {
        const size_t index = (start - 1) / 9;
        SCOPED_TRACE("block " + std::to_string(index));
        Config c;
        EXPECT_TRUE(std::regex_match(lines[start], m, numberLine)) << lines[start];
        if (m.size() == 2) {
            EXPECT_EQ(std::stoul(m[1]), index);
        }
        EXPECT_TRUE(std::regex_match(lines[start + 1], m, idLine)) << lines[start + 1];
        if (m.size() == 2) c.id = std::stoi(m[1]);
        EXPECT_TRUE(std::regex_match(lines[start + 2], m, caveatLine)) << lines[start + 2];
        if (m.size() == 2) c.caveat = m[1];
        EXPECT_TRUE(std::regex_match(lines[start + 3], m, colourLine)) << lines[start + 3];
        if (m.size() == 6) {
            c.bufferSize = std::stoi(m[1]);
            c.red = std::stoi(m[2]);
            c.green = std::stoi(m[3]);
            c.blue = std::stoi(m[4]);
            c.alpha = std::stoi(m[5]);
        }
        EXPECT_TRUE(std::regex_match(lines[start + 4], m, depthLine)) << lines[start + 4];
        if (m.size() == 2) c.depth = std::stoi(m[1]);
        EXPECT_TRUE(std::regex_match(lines[start + 5], m, samplesLine)) << lines[start + 5];
        if (m.size() == 2) c.samples = std::stoi(m[1]);
        EXPECT_TRUE(std::regex_match(lines[start + 6], m, surfacesLine)) << lines[start + 6];
        if (m.size() == 2) c.surfaces = m[1];
        EXPECT_TRUE(std::regex_match(lines[start + 7], m, apiLine)) << lines[start + 7];
        if (m.size() == 2) c.api = m[1];
        EXPECT_EQ(lines[start + 8], "");
        report.configs.push_back(c);
    }
    return report;
}

// The words configlist uses for eglinfo's surface list ("win,pb,pix") and renderable columns.
std::string surfaceWords(const std::string& list) {
    const bool window = list.find("win") != std::string::npos;
    const bool pbuffer = list.find("pb") != std::string::npos;
    const bool pixmap = list.find("pix") != std::string::npos;
    const char* words[8] = {"None!", "PBuffer", "Pixmap", "PBuffer+Pixmap",
                            "Window", "Window+PBuffer", "Window+Pixmap", "Window+Pixmap+PBuffer"};
    return words[(pbuffer ? 1 : 0) | (pixmap ? 2 : 0) | (window ? 4 : 0)];
}

std::string apiWords(bool es, bool vg, bool es2) {
    const char* words[8] = {"No API support(?)", "OpenGL ES", "OpenVG", "OpenGL ES, OpenVG",
                            "OpenGL ES 2.0", "OpenGL ES, OpenGL ES 2.0", "OpenGL ES 2.0, OpenVG",
                            "OpenGL ES, OpenGL ES 2.0, OpenVG"};
    return words[(es ? 1 : 0) | (vg ? 2 : 0) | (es2 ? 4 : 0)];
}

// Reads one platform's section of eglinfo's output ("X11 platform:", "Surfaceless platform:").
Report parseEglinfo(const std::string& out, const std::string& section) {
    Report report;
    const std::vector<std::string> lines = testutil::split_lines(out);
    size_t i = 0;
    while (i < lines.size() && lines[i] != section) ++i;
    EXPECT_LT(i, lines.size()) << "eglinfo has no section " << section;
    std::smatch m;
    for (; i < lines.size() && lines[i] != "Configurations:"; ++i) {
        if (std::regex_match(lines[i], m, std::regex("EGL vendor string: (.*)"))) report.vendor = m[1];
        if (std::regex_match(lines[i], m, std::regex("EGL API version: (.*)"))) report.version = m[1];
    }
    if (i + 3 >= lines.size()) return report;
    // Column headers place the one-letter flags of the renderable and caveat columns.
    const std::string& header = lines[i + 2];
    const size_t glColumn = header.find(" gl ") + 1;
    const size_t esColumn = header.find(" es ", glColumn) + 1;
    const size_t es2Column = header.find(" es2 ") + 1;
    const size_t vgColumn = header.find(" vg ") + 1;
    const size_t caveatColumn = header.find(" eat ");
    const size_t surfacesColumn = header.find(" surfaces") + 1;
    const std::regex row("0x([0-9a-f]+) +(\\d+) +(\\d+) +(\\d+) +(\\d+) +(\\d+) +(\\d+) +(\\d+) +(\\d+) +(\\d+) +(\\d+) .*");
    for (i += 4; i < lines.size() && std::regex_match(lines[i], m, row); ++i) {
        const std::string& line = lines[i];
        Config c;
        c.id = std::stoi(m[1], nullptr, 16);
        c.bufferSize = std::stoi(m[2]);
        c.red = std::stoi(m[4]);
        c.green = std::stoi(m[5]);
        c.blue = std::stoi(m[6]);
        c.alpha = std::stoi(m[7]);
        c.depth = std::stoi(m[8]);
        c.samples = std::stoi(m[10]);
        auto flag = [&](size_t column) { return column < line.size() && line[column] == 'y'; };
        c.api = apiWords(flag(esColumn), flag(vgColumn), flag(es2Column));
        // A blank caveat column is EGL_NONE; otherwise a word such as "slow".
        const std::string caveat = caveatColumn < line.size() ? line.substr(caveatColumn, 4) : "";
        const size_t word = caveat.find_first_not_of(' ');
        c.caveat = word == std::string::npos ? "Normal" : caveat[word] == 's' ? "Slow" : "Non-conformant";
        c.surfaces = surfaceWords(surfacesColumn - 1 < line.size() ? line.substr(surfacesColumn - 1) : "");
        report.configs.push_back(c);
    }
    return report;
}

void compareWithEglinfo(const std::vector<std::string>& env, const std::string& section) {
    if (!testutil::file_exists("/usr/bin/eglinfo")) GTEST_SKIP() << "eglinfo is not installed";
    testutil::RunOptions lister;
    lister.argv = {testutil::stage_bin("configlist")};
    lister.env = env;
    testutil::RunResult listed = testutil::run(lister);
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_EQ(listed.err, "");

    testutil::RunOptions reference;
    reference.argv = {"/usr/bin/eglinfo"};
    reference.env = env;
    testutil::RunResult info = testutil::run(reference);
    // eglinfo's status counts the platforms that this host lacks (GBM, Wayland); only the
    // section of the platform under test matters.
    ASSERT_NE(info.out.find(section), std::string::npos) << info.err;

    const Report mine = parseConfiglist(listed.out);
    const Report theirs = parseEglinfo(info.out, section);
    EXPECT_EQ(mine.vendor, theirs.vendor);
    EXPECT_EQ(mine.version, theirs.version);
    ASSERT_FALSE(theirs.configs.empty());
    ASSERT_EQ(mine.configs.size(), theirs.configs.size());
    for (size_t i = 0; i < mine.configs.size(); ++i) {
        SCOPED_TRACE("config " + std::to_string(i));
        const Config& a = mine.configs[i];
        const Config& b = theirs.configs[i];
        EXPECT_EQ(a.id, b.id);
        EXPECT_EQ(a.bufferSize, b.bufferSize);
        EXPECT_EQ(a.red, b.red);
        EXPECT_EQ(a.green, b.green);
        EXPECT_EQ(a.blue, b.blue);
        EXPECT_EQ(a.alpha, b.alpha);
        EXPECT_EQ(a.depth, b.depth);
        EXPECT_EQ(a.samples, b.samples);
        EXPECT_EQ(a.caveat, b.caveat);
        EXPECT_EQ(a.surfaces, b.surfaces);
        EXPECT_EQ(a.api, b.api);
    }
}

TEST(ConfiglistMesa, X11PlatformAgreesWithEglinfo) {
    ASSERT_NE(getenv("DISPLAY"), nullptr);
    compareWithEglinfo({"EGL_PLATFORM=x11"}, "X11 platform:");
}

TEST(ConfiglistMesa, SurfacelessPlatformAgreesWithEglinfo) {
    compareWithEglinfo({"EGL_PLATFORM=surfaceless"}, "Surfaceless platform:");
}

}  // namespace
