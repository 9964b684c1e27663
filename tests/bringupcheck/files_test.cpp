// bringup-check's file readers and writers: results.json both ways, results.xml, configlist's
// report read back, and the PNG and base64 encoders.
#include <zlib.h>

#include <gtest/gtest.h>

#include "bringupcheck/eglreport.h"
#include "bringupcheck/figures.h"
#include "bringupcheck/json.h"
#include "bringupcheck/png.h"
#include "bringupcheck/report.h"
#include "bringupcheck/reportparts.h"
#include "bringupcheck/results.h"
#include "bringupcheck/text.h"

namespace {

Results sample() {
    Results r;
    r.board["host"] = "board<1>";
    r.started = "2026-12-08T05:00:00+0000";
    Check a;
    a.name = "audio.capture";
    a.subsystem = "audio";
    a.program = "pcmcapture";
    a.verdict = Verdict::Fail;
    a.reason = "said \"x\" & <y>\twith \xc3\xa9 and \x01";
    a.seconds = 10.25;
    a.figures = {{"bytes", 1920000}, {"rate", 0.5}, {"ok", false}, {"audio_seconds", 9.875}, {"list", {1, "two"}}};
    a.evidence = {"audio/pcmcapture.out", "audio/output.pcm"};
    Check b;
    b.name = "usb.ports";
    b.subsystem = "usb";
    b.verdict = Verdict::Skip;
    b.reason = "no";
    Check c = b;
    c.name = "wifi.on";
    c.verdict = Verdict::Pass;
    r.checks = {a, b, c};
    return r;
}

TEST(ResultsFile, WrittenAndReadBackTheSame) {
    Results r = sample();
    std::string text = results_json(r);
    Results back;
    std::string error;
    ASSERT_TRUE(parse_results(text, &back, &error)) << error;
    EXPECT_EQ(results_json(back), text);
    ASSERT_EQ(back.checks.size(), 3u);
    EXPECT_EQ(back.checks[0].reason, r.checks[0].reason);
    EXPECT_EQ(back.checks[0].figures["list"][1], "two");
    EXPECT_EQ(back.checks[1].program, "");
    EXPECT_NE(text.find("\"program\": null"), std::string::npos);
    // Each check's main figure with its units, as the checks' table names it, or null; a
    // results.json written before it was there reads back as the same results.
    Json j;
    ASSERT_TRUE(parse_json(text, &j, &error));
    EXPECT_EQ(j["checks"][0]["main_figure"], Json::parse(R"({"name": "audio_seconds", "value": 9.875, "units": "seconds"})"));
    EXPECT_TRUE(j["checks"][1]["main_figure"].is_null());
    for (Json& c : j["checks"]) c.erase("main_figure");
    Results older;
    ASSERT_TRUE(parse_results(json_dump(j), &older, &error)) << error;
    EXPECT_EQ(results_json(older), text);
    // verdicts.txt: the main figure follows the verdict; a figure that is not a number is none.
    EXPECT_EQ(verdict_lines(back), "audio.capture fail 9.875 seconds\nusb.ports skip\nwifi.on pass\n");
    back.checks[0].figures["audio_seconds"] = "many";
    EXPECT_EQ(verdict_lines(back).substr(0, 19), "audio.capture fail\n");
}

TEST(Json, WrittenInOneLayoutAndReadWithoutThrowing) {
    // results.json's layout: plain arrays on one line, whole numbers without a fraction, others
    // as short as reads back the same, strings valid UTF-8 with controls escaped.
    Json j = {{"n", {3.0, 0.1, 1e20, -0.0, 0.30000000000000004}}, {"s", "\x01\xff"}, {"o", {{"a", Json::array({Json::object()})}}}};
    EXPECT_EQ(json_dump(j), "{\n  \"n\": [3, 0.1, 1e+20, 0, 0.30000000000000004],\n  \"s\": \"\\u0001\xef\xbf\xbd\",\n"
                            "  \"o\": {\n    \"a\": [\n      {}\n    ]\n  }\n}");
    std::string error;
    for (const char* bad : {"", "{", "[1,]", "01", "\"\\ud83d\"", "tru", "[1] 2", "\"\x01\"", "1e999"}) {
        EXPECT_FALSE(parse_json(bad, &j, &error)) << bad;
        EXPECT_NE(error, "");
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    // The reason stays short, however long the bad text.
    for (const std::string& bad : {std::string(400, '1'), "\"" + std::string(400, 'a')}) {
        EXPECT_FALSE(parse_json(bad, &j, &error));
        EXPECT_LT(error.size(), 100u) << error;
    }
    // Deep nesting is refused rather than built.
    EXPECT_FALSE(parse_json(std::string(100000, '['), &j, &error));
    EXPECT_EQ(error, "nested too deeply at byte 65");
    EXPECT_TRUE(parse_json(std::string(64, '[') + std::string(64, ']'), &j, &error));
}

TEST(ResultsFile, JunitMarksFailuresAndSkipsAndEscapes) {
    std::string xml = results_junit(sample());
    EXPECT_NE(xml.find("<testsuites name=\"bringup-check\" tests=\"3\" failures=\"1\" errors=\"0\" skipped=\"1\""),
              std::string::npos);
    EXPECT_NE(xml.find("hostname=\"board&lt;1&gt;\""), std::string::npos);
    EXPECT_NE(xml.find("<testcase classname=\"bringup-check.audio\" name=\"audio.capture\" time=\"10.25\">\n"
                       "      <failure message=\"said &quot;x&quot; &amp; &lt;y&gt;\twith \xc3\xa9 and \xef\xbf\xbd\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<skipped message=\"no\"/>"), std::string::npos);
    EXPECT_EQ(xml.find("\x01"), std::string::npos);
}

TEST(Text, ValidUtf8WithControlsEscapedOrReplaced) {
    const std::string r = "\xef\xbf\xbd";  // U+FFFD
    // Well-formed sequences stay; each byte of an ill-formed one (stray, overlong, surrogate,
    // beyond U+10FFFF, cut short) becomes U+FFFD.
    EXPECT_EQ(valid_utf8("a\x01\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), "a\x01\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(valid_utf8("\xff|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xe2\x82"),
              r + "|" + r + r + "|" + r + r + r + "|" + r + r + r + r + "|" + r + r);
    // JSON escapes C0, DEL and C1; XML replaces what XML 1.0 forbids; the terminal sees escapes.
    EXPECT_EQ(json_quote("\x01\xff\"\\\n\x7f\xc2\x85\xc3\xa9"), "\"\\u0001" + r + "\\\"\\\\\\n\\u007f\\u0085\xc3\xa9\"");
    EXPECT_EQ(xml_escape("<\x01\xff\t\xc2\x85\xef\xbf\xbe&'"), "&lt;" + r + r + "\t" + r + r + "&amp;&#39;");
    EXPECT_EQ(terminal_text("\x1b[31m\"\\\xff\t"), "\\u001b[31m\"\\" + r + "\\t");
}

TEST(ReportPage, ReadsAsABoardEngineerReadsIt) {
    Results r = sample();
    Check& usb = r.checks[1];
    usb.name = "usb.otgpower";
    usb.program = "otgpower";
    usb.verdict = Verdict::Pass;
    usb.figures["port0_busvalid_rule"] = true;
    usb.figures["power_ons"] = {3, 0};
    usb.figures["devices"] = Json::array({Json::array({1, 1000.5, 1002})});
    usb.evidence = {"usb/a b#?\"&.trace", "javascript:alert(1)"};
    std::string page = render_report("/nonexistent", r);
    // Fits a narrow window: a viewport, tables that scroll sideways.
    EXPECT_NE(page.find("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"), std::string::npos);
    EXPECT_NE(page.find("<div class=\"scroll\"><table>"), std::string::npos);
    // Evidence names link to the files, relative and escaped.
    EXPECT_NE(page.find("<a href=\"./usb/a%20b%23%3F%22%26.trace\"><code>usb/a b#?&quot;&amp;.trace</code></a>"),
              std::string::npos);
    EXPECT_NE(page.find("<a href=\"./javascript%3Aalert%281%29\">"), std::string::npos);
    // Figures in words; a device's stay without a trace by its length.
    EXPECT_NE(page.find("<tr><th>port 0 needs bus-valid</th><td>yes</td></tr>"), std::string::npos);
    EXPECT_NE(page.find("<tr><th>power-ons</th><td>lm0: 3, lm1: 0</td></tr>"), std::string::npos);
    EXPECT_NE(page.find("<tr><th>device attached (seconds into the run)</th><td>lm1 for 1.5 s</td></tr>"), std::string::npos);
    EXPECT_NE(page.find("<tr><th>host name</th><td>board&lt;1&gt;</td></tr>"), std::string::npos);
    EXPECT_EQ(page.find("port0_busvalid_rule"), std::string::npos);
}

TEST(EglReport, BlocksReadBack) {
    EglReport r = parse_egl_report(
        "EGL_VENDOR = Vendor, Inc., version 1.4\n"
        "Config number 0 in returned configs\n"
        " EGL_CONFIG_ID 1\n"
        " Config caveat: Slow  Colour buffer type: RGB colour buffer\n"
        " Colour depth: 16     Red   5      Green 6      Blue  5      Alpha 0\n"
        " Z-buffer bits: 24\n"
        " 4x anti-aliasing\n"
        " Surfaces: Window+PBuffer\n"
        "  API support: OpenGL ES 2.0, OpenVG\n"
        "\n"
        "Config number 1 in returned configs\n"
        " EGL_CONFIG_ID 2\n"
        " Surfaces: PBuffer\n"
        "  API support: OpenGL ES 2.0\n"
        "\n");
    EXPECT_EQ(r.vendor, "Vendor, Inc.");
    EXPECT_EQ(r.version, "1.4");
    ASSERT_EQ(r.configs.size(), 2u);
    const EglConfig& a = r.configs[0];
    EXPECT_TRUE(a.complete());
    EXPECT_TRUE(a.es2_window());
    EXPECT_EQ(a.caveat, "Slow");
    EXPECT_EQ(a.green, 6);
    EXPECT_EQ(a.samples, 4);
    EXPECT_FALSE(r.configs[1].complete());
    EXPECT_FALSE(r.configs[1].es2_window());
    EXPECT_EQ(r.stray_lines, 0u);
    EXPECT_EQ(parse_egl_report("garbage\n").stray_lines, 1u);
}

uint32_t be32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 | uint32_t(uint8_t(s[at + 2])) << 8 |
           uint8_t(s[at + 3]);
}

TEST(Png, ChunksAndPixelsAsWritten) {
    std::vector<uint32_t> px = {0xff0000, 0x00ff00, 0x0000ff, 0x123456, 0xffffff, 0x000000};
    std::string png = encode_png(px, 3, 2);
    ASSERT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
    // Every chunk's CRC covers its type and data.
    std::string idat;
    size_t at = 8;
    std::vector<std::string> types;
    while (at + 12 <= png.size()) {
        uint32_t len = be32(png, at);
        std::string body = png.substr(at + 4, 4 + len);
        EXPECT_EQ(be32(png, at + 8 + len), uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
        types.push_back(body.substr(0, 4));
        if (types.back() == "IDAT") idat += body.substr(4);
        if (types.back() == "IHDR") {
            EXPECT_EQ(be32(body, 4), 3u);
            EXPECT_EQ(be32(body, 8), 2u);
            EXPECT_EQ(body.substr(12), std::string("\x08\x02\x00\x00\x00", 5));
        }
        at += 12 + len;
    }
    EXPECT_EQ(at, png.size());
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    std::string raw(64, '\0');
    uLongf n = raw.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(&raw[0]), &n, reinterpret_cast<const Bytef*>(idat.data()), uLong(idat.size())), Z_OK);
    raw.resize(n);
    EXPECT_EQ(raw, std::string("\0\xff\0\0\0\xff\0\0\0\xff\0\x12\x34\x56\xff\xff\xff\0\0\0", 20));
    EXPECT_EQ(encode_png(px, 4, 2), "");
    EXPECT_EQ(encode_png({}, 0, 0), "");
}

TEST(Png, Base64) {
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foo"), "Zm9v");
    EXPECT_EQ(base64("foob"), "Zm9vYg==");
    EXPECT_EQ(base64(std::string("\xff\xfe\x00", 3)), "//4A");
}

}  // namespace

TEST(Comparison, EachDriftRuleOnceAndAToleranceSetOnTheCommandLine) {
    // figure, before, now, within its tolerance
    const struct {
        const char* key;
        Json before, now;
        bool within;
    } cases[] = {
        {"configs", 40, 40, true},      {"configs", 40, 39, false},       // exact
        {"vendor", "Mesa", "Mesa", true}, {"vendor", "Mesa", "Other", false},
        {"data_rate", 192000, 195000, true}, {"data_rate", 192000, 188000, false},  // within 2%
        {"gaps", 0, 0, true},           {"gaps", 0, 1, false},           {"gaps", 2, 1, true},  // never up
        {"fps", 30, 25, true},          {"fps", 30, 23.9, false},        {"fps", 30, 90, true},  // not down by 20%
        {"frames", 100, 1, true},       // not compared
    };
    Tolerances none;
    for (const auto& c : cases)
        EXPECT_EQ(within_tolerance(*find_figure(c.key), none, c.before, c.now), c.within)
            << c.key << " " << c.before << " -> " << c.now;
    Tolerances set;
    std::string error;
    ASSERT_TRUE(parse_tolerance("fps=0.5", &set, &error)) << error;
    EXPECT_TRUE(within_tolerance(*find_figure("fps"), set, 30, 16));
    EXPECT_EQ(tolerance_text(*find_figure("fps"), set), "not down by more than 50%");
    EXPECT_FALSE(parse_tolerance("frames=1", &set, &error));
    EXPECT_EQ(error, "--tolerance: the figure \"frames\" is never compared");
}

TEST(ReportPage, LinksToAnotherRunsFolder) {
    EXPECT_EQ(report::relative_link("/o/run-failing", "/o/run"), "../run");
    EXPECT_EQ(report::relative_link("/o/a/b", "/o/c"), "../../c");
    EXPECT_EQ(report::relative_link("/o/a", "/o/a"), ".");
    EXPECT_EQ(report::relative_link("/o/ab", "/o/a/b"), "../a/b");
    EXPECT_EQ(report::relative_link("run", "/o/run"), "/o/run");
}
