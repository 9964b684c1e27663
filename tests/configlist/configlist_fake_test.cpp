// configlist against a stand-in EGL (fakeegl, preloaded): the report byte for byte, the error
// reports, the exit statuses and the order of the EGL calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "configlist/messages.h"
#include "runprog.h"

namespace {

const std::string vendorLine = "EGL_VENDOR = Fake Vendor, version 1.4\n";

struct Listing {
    testutil::RunResult result;
    std::vector<std::string> calls;
};

Listing runConfiglist(const std::string& scenario) {
    const std::string dir = testutil::make_temp_dir("configlist_" + scenario);
    const std::string tracePath = dir + "/trace";
    testutil::RunOptions options;
    std::string command = testutil::stage_bin("configlist");
    if (scenario == "hugecount") {
        // Allocators must say no rather than abort or let the kernel overcommit.
        options.env.push_back(
            "ASAN_OPTIONS=verify_asan_link_order=0:allocator_may_return_null=1:max_allocation_size_mb=1024");
        options.env.push_back("TSAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=1024");
#ifndef BRINGUP_SANITIZED
        // The stand-in is preloaded into configlist alone, not into the shell: in a cross build
        // the shell is a host program that cannot load it.
        options.argv = {"/bin/sh", "-c", "ulimit -v 2000000 && LD_PRELOAD=\"$1\" && export LD_PRELOAD && exec \"$0\"",
                        command, FAKEEGL_PATH};
#endif
    }
    if (options.argv.empty()) options.argv = {command};
    if (options.argv[0] == command) options.env.push_back(std::string("LD_PRELOAD=") + FAKEEGL_PATH);
    options.env.push_back("FAKEEGL_SCENARIO=" + scenario);
    options.env.push_back("FAKEEGL_TRACE=" + tracePath);
    options.timeout_s = 60;
    Listing run;
    run.result = testutil::run(options);
    if (testutil::file_exists(tracePath)) run.calls = testutil::split_lines(testutil::read_file(tracePath));
    return run;
}

TEST(ConfiglistFake, PrintsEveryBlockWithItsDecodedValues) {
    Listing run = runConfiglist("normal");
    EXPECT_EQ(run.result.exit_code, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.result.out,
              vendorLine +
              "Config number 0 in returned configs\n"
              " EGL_CONFIG_ID 101\n"
              " Config caveat: Normal  Colour buffer type: RGB colour buffer\n"
              " Colour depth: 32     Red   8      Green 8      Blue  8      Alpha 8\n"
              " Z-buffer bits: 24\n"
              " 0x anti-aliasing\n"
              " Surfaces: Window+PBuffer\n"
              "  API support: OpenGL ES, OpenGL ES 2.0\n"
              "\n"
              "Config number 1 in returned configs\n"
              " EGL_CONFIG_ID 102\n"
              " Config caveat: Slow  Colour buffer type: RGB colour buffer\n"
              " Colour depth: 16     Red   5      Green 6      Blue  5      Alpha 0\n"
              " Z-buffer bits: 16\n"
              " 4x anti-aliasing\n"
              " Surfaces: Window\n"
              "  API support: OpenGL ES 2.0\n"
              "\n"
              "Config number 2 in returned configs\n"
              " EGL_CONFIG_ID 103\n"
              " Config caveat: Non-conformant  Colour buffer type: Luminance buffer\n"
              " Colour depth: 8     Red   0      Green 0      Blue  0      Alpha 0\n"
              " Z-buffer bits: 0\n"
              " 0x anti-aliasing\n"
              " Surfaces: PBuffer\n"
              "  API support: OpenGL ES\n"
              "\n"
              "Config number 3 in returned configs\n"
              " EGL_CONFIG_ID 104\n"
              " Config caveat: Normal  Colour buffer type: RGB colour buffer\n"
              " Colour depth: 24     Red   8      Green 8      Blue  8      Alpha 0\n"
              " Z-buffer bits: 0\n"
              " 2x anti-aliasing\n"
              " Surfaces: Window+Pixmap+PBuffer\n"
              "  API support: OpenGL ES, OpenGL ES 2.0, OpenVG\n"
              "\n"
              "Config number 4 in returned configs\n"
              " EGL_CONFIG_ID 105\n"
              " Config caveat: Normal  Colour buffer type: RGB colour buffer\n"
              " Colour depth: 32     Red   8      Green 8      Blue  8      Alpha 8\n"
              " Z-buffer bits: 32\n"
              " 8x anti-aliasing\n"
              " Surfaces: Window+Pixmap\n"
              "  API support: OpenVG\n"
              "\n");
}

TEST(ConfiglistFake, CallsEGLInItsOrder) {
    Listing run = runConfiglist("normal");
    std::vector<std::string> expected = {"eglGetDisplay (nil)", "eglInitialize 1", "eglQueryString 1 0x3053",
                                         "eglGetConfigs 1 null 0", "eglGetConfigs 1 array 5"};
    const char* attributes[] = {"0x3028", "0x3027", "0x303f", "0x3020", "0x3024", "0x3023",
                                "0x3022", "0x3021", "0x3025", "0x3031", "0x3033", "0x3040"};
    for (int config = 0; config < 5; ++config) {
        for (const char* attribute : attributes) {
            expected.push_back("eglGetConfigAttrib 1 " + std::to_string(config) + " " + attribute);
        }
    }
    expected.push_back("eglTerminate 1");
    EXPECT_EQ(run.calls, expected);
}

TEST(ConfiglistFake, DecodesUnknownValuesAndIgnoresHighBits) {
    Listing run = runConfiglist("odd");
    EXPECT_EQ(run.result.exit_code, 0);
    EXPECT_EQ(run.result.err, "");
    const std::vector<std::string> lines = testutil::split_lines(run.result.out);
    ASSERT_EQ(lines.size(), 1u + 5u * 9u);
    // Block k starts at line 1 + 9k; its caveat line is +2, samples +5, surfaces +6, API +7.
    EXPECT_EQ(lines[1], "Config number 0 in returned configs");
    EXPECT_EQ(lines[2], " EGL_CONFIG_ID 7");
    EXPECT_EQ(lines[3], " Config caveat: Unknown EGL_CONFIG_CAVEAT  Colour buffer type: Unknown EGL_COLOR_BUFFER_TYPE");
    EXPECT_EQ(lines[7], " Surfaces: Window+PBuffer");           // 0x0405
    EXPECT_EQ(lines[8], "  API support: No API support(?)");     // 0x0008
    EXPECT_EQ(lines[10], "Config number 1 in returned configs");  // whatever its EGL_CONFIG_ID
    EXPECT_EQ(lines[11], " EGL_CONFIG_ID 3");
    EXPECT_EQ(lines[12], " Config caveat: Unknown EGL_CONFIG_CAVEAT  Colour buffer type: Unknown EGL_COLOR_BUFFER_TYPE");
    EXPECT_EQ(lines[16], " Surfaces: None!");                    // 0x0008
    EXPECT_EQ(lines[17], "  API support: OpenGL ES, OpenGL ES 2.0");  // 0x0045
    EXPECT_EQ(lines[25], " Surfaces: Window+PBuffer");           // 0x0445
    EXPECT_EQ(lines[26], "  API support: OpenGL ES 2.0");        // 0x004c
    EXPECT_EQ(lines[34], " Surfaces: None!");                    // 0x7ff8
    EXPECT_EQ(lines[35], "  API support: No API support(?)");    // 0x0040
    EXPECT_EQ(lines[42], " -5x anti-aliasing");
    EXPECT_EQ(lines[43], " Surfaces: PBuffer+Pixmap");
    EXPECT_EQ(lines[44], "  API support: OpenGL ES, OpenVG");
    EXPECT_EQ(lines[45], "");
}

TEST(ConfiglistFake, FailedAttributeQueryIsReportedInPlaceAndListingGoesOn) {
    Listing run = runConfiglist("attrfail");
    EXPECT_EQ(run.result.exit_code, 0);
    EXPECT_EQ(run.result.err, "Error: ");
    const std::string block3 =
        "Config number 3 in returned configs\n"
        " EGL_CONFIG_ID 104\n"
        " Config caveat: Normal  Colour buffer type: RGB colour buffer\n"
        " Colour depth: 24     Red   8      Green 8      Blue  8      Alpha 0\n"
        " Z-buffer bits: 0\n"
        "eglGetConfigAttrib failed (3, 9)\n"
        " Surfaces: Window+Pixmap+PBuffer\n"
        "  API support: OpenGL ES, OpenGL ES 2.0, OpenVG\n"
        "\n"
        "Config number 4 in returned configs\n";
    EXPECT_NE(run.result.out.find(block3), std::string::npos) << run.result.out;
    EXPECT_EQ(run.calls.back(), "eglTerminate 1");
}

TEST(ConfiglistFake, FailuresBeforeTheVendorLinePrintOnlyTheErrorReport) {
    struct Case { const char* scenario; size_t calls; };
    for (const Case& c : {Case{"nodisplay", 1}, Case{"initfail", 2}, Case{"nullvendor", 3}}) {
        SCOPED_TRACE(c.scenario);
        Listing run = runConfiglist(c.scenario);
        EXPECT_EQ(run.result.exit_code, 1);
        EXPECT_EQ(run.result.err, "Error: ");
        EXPECT_EQ(run.result.out, configmsg::kMsgListingFailed);
        EXPECT_EQ(run.calls.size(), c.calls);  // nothing is queried after the failure
    }
}

TEST(ConfiglistFake, FailedCountPassKeepsTheVendorLine) {
    struct Case { const char* scenario; const char* lastCall; };
    for (const Case& c : {Case{"countfail1", "eglGetConfigs 1 null 0"}, Case{"countfail2", "eglGetConfigs 1 array 5"},
                          Case{"negativecount", "eglGetConfigs 1 null 0"}}) {
        SCOPED_TRACE(c.scenario);
        Listing run = runConfiglist(c.scenario);
        EXPECT_EQ(run.result.exit_code, 1);
        EXPECT_EQ(run.result.err, "Error: ");
        EXPECT_EQ(run.result.out, vendorLine + configmsg::kMsgListingFailed);
        ASSERT_FALSE(run.calls.empty());
        EXPECT_EQ(run.calls.back(), c.lastCall);
    }
}

TEST(ConfiglistFake, NoConfigurationsPrintsOnlyTheVendorLine) {
    Listing run = runConfiglist("noconfigs");
    EXPECT_EQ(run.result.exit_code, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.result.out, vendorLine);
    ASSERT_FALSE(run.calls.empty());
    EXPECT_EQ(run.calls.back(), "eglTerminate 1");
}

TEST(ConfiglistFake, ArrayThatCannotBeAllocatedFailsTheListing) {
    Listing run = runConfiglist("hugecount");
    EXPECT_EQ(run.result.signal, 0);
    EXPECT_EQ(run.result.exit_code, 1);
#ifdef BRINGUP_SANITIZED
    // A sanitizer's allocator adds a warning of its own before the report.
    const std::string& err = run.result.err;
    EXPECT_EQ(err.substr(err.size() >= 7 ? err.size() - 7 : 0), "Error: ") << err;
#else
    EXPECT_EQ(run.result.err, "Error: ");
#endif
    EXPECT_EQ(run.result.out, vendorLine + configmsg::kMsgListingFailed);
}

TEST(ConfiglistFake, CountWrittenBackBeyondTheArrayIsNotFollowed) {
    Listing run = runConfiglist("overcount");
    EXPECT_EQ(run.result.signal, 0);
    EXPECT_EQ(run.result.exit_code, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_NE(run.result.out.find("Config number 4 in returned configs\n"), std::string::npos);
    EXPECT_EQ(run.result.out.find("Config number 5 "), std::string::npos);
}

}  // namespace
