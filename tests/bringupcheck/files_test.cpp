// bringup-check's file readers and writers: results.json both ways, results.xml, configlist's
// report read back, and the PNG and base64 encoders.
#include <zlib.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "bringupcheck/eglreport.h"
#include "bringupcheck/json.h"
#include "bringupcheck/png.h"
#include "bringupcheck/report.h"
#include "bringupcheck/results.h"
#include "bringupcheck/text.h"

namespace {

Results sample() {
    Results r;
    r.board.set("host", Json::string("board<1>"));
    r.started = "2026-12-08T05:00:00+0000";
    Check a;
    a.name = "audio.capture";
    a.subsystem = "audio";
    a.program = "pcmcapture";
    a.verdict = Verdict::Fail;
    a.reason = "said \"x\" & <y>\twith \xc3\xa9 and \x01";
    a.seconds = 10.25;
    a.figures.set("bytes", Json::number(1920000)).set("rate", Json::number(0.5)).set("ok", Json::boolean(false));
    a.figures.set("audio_seconds", Json::number(9.875));
    a.figures.set("list", Json::array().push(Json::number(1)).push(Json::string("two")));
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
    EXPECT_EQ(back.checks[0].figures.get("list").items[1].str, "two");
    EXPECT_EQ(back.checks[1].program, "");
    EXPECT_NE(text.find("\"program\": null"), std::string::npos);
    // The main figure follows the verdict, with its units; a figure that is not a number is none.
    back.checks[2].figures.set("fps", Json::string("many"));
    EXPECT_EQ(verdict_lines(back), "audio.capture fail 9.875 seconds\nusb.ports skip\nwifi.on pass\n");
}

TEST(Json, ParsesWhatTheStandardAllowsAndNothingElse) {
    Json j;
    std::string error;
    ASSERT_TRUE(parse_json(" {\"a\" : [1, -2.5e3, true, false, null, \"\\u00e9\\ud83d\\ude00\\n\\/\"], \"b\": {}} ", &j, &error))
        << error;
    EXPECT_EQ(j.get("a").items[1].num, -2500);
    EXPECT_EQ(j.get("a").items[5].str, "\xc3\xa9\xf0\x9f\x98\x80\n/");
    EXPECT_EQ(j.get("missing").type, Json::Null);
    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "{\"a\":1,}", "01", "1.", "-", "1e", "\"\\x\"", "\"a",
                            "\"\\ud83d\"", "\"\\udc00\"", "tru", "[1] 2", "\"\x01\"", "1e999", "{1:2}"}) {
        EXPECT_FALSE(parse_json(bad, &j, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    // Deep nesting is refused rather than followed down the stack.
    EXPECT_FALSE(parse_json(std::string(100000, '['), &j, &error));
    EXPECT_TRUE(parse_json(std::string(60, '[') + std::string(60, ']'), &j, &error));
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
    usb.figures.set("port0_busvalid_rule", Json::boolean(true)).set("power_ons", Json::array().push(Json::number(3)).push(Json::number(0)));
    usb.figures.set("devices", Json::array().push(Json::array().push(Json::number(1)).push(Json::number(1000.5)).push(Json::number(1002))));
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

// Reads an 8-bit RGB PNG as any viewer would: chunks with their CRCs, the header, every IDAT
// inflated, each row unfiltered by its own filter type. Pixels as 0x00RRGGBB; empty on failure.
std::vector<uint32_t> decode_rgb_png(const std::string& png, uint32_t* w, uint32_t* h) {
    if (png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {};
    std::string header, idat, last;
    for (size_t at = 8; at + 12 <= png.size(); at += 12 + be32(png, at)) {
        const uint32_t len = be32(png, at);
        if (at + 12 + len > png.size()) return {};
        const std::string body = png.substr(at + 4, 4 + len);
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
        if (be32(png, at + 8 + len) != crc) return {};
        last = body.substr(0, 4);
        if (last == "IHDR") header = body.substr(4);
        if (last == "IDAT") idat += body.substr(4);
    }
    // 8 bits per sample, RGB, deflate, the one filter method, no interlace.
    if (last != "IEND" || header.size() != 13 || header.substr(8) != std::string("\x08\x02\x00\x00\x00", 5))
        return {};
    *w = be32(header, 0);
    *h = be32(header, 4);
    const size_t stride = size_t(*w) * 3;
    std::string raw((stride + 1) * *h, '\0');
    uLongf n = raw.size();
    const Bytef* packed = reinterpret_cast<const Bytef*>(idat.data());
    if (uncompress(reinterpret_cast<Bytef*>(&raw[0]), &n, packed, uLong(idat.size())) != Z_OK || n != raw.size()) return {};
    std::vector<uint8_t> rows(stride * *h);
    for (size_t y = 0; y < *h; ++y) {
        const uint8_t filter = uint8_t(raw[y * (stride + 1)]);
        if (filter > 4) return {};
        for (size_t x = 0; x < stride; ++x) {
            const int a = x >= 3 ? rows[y * stride + x - 3] : 0, b = y ? rows[(y - 1) * stride + x] : 0,
                      c = x >= 3 && y ? rows[(y - 1) * stride + x - 3] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int predictors[5] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
            rows[y * stride + x] = uint8_t(uint8_t(raw[y * (stride + 1) + 1 + x]) + predictors[filter]);
        }
    }
    std::vector<uint32_t> pixels;
    for (size_t i = 0; i < rows.size(); i += 3)
        pixels.push_back(uint32_t(rows[i]) << 16 | uint32_t(rows[i + 1]) << 8 | rows[i + 2]);
    return pixels;
}

TEST(Png, DecodesToThePixelsWritten) {
    // Rows that repeat, change slowly and jump, whichever filter the encoder picks for them.
    const uint32_t w = 7, h = 5;
    std::vector<uint32_t> px;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            px.push_back(y == 1 ? px[x] : y == 4 ? (x * 0x2f1b3d ^ (x & 1 ? 0xffffff : 0)) & 0xffffff
                                          : 0x10101 * (x * 9 + y * 30));
    uint32_t got_w = 0, got_h = 0;
    EXPECT_EQ(decode_rgb_png(encode_png(px, int(w), int(h)), &got_w, &got_h), px);
    EXPECT_EQ(got_w, w);
    EXPECT_EQ(got_h, h);
    EXPECT_EQ(encode_png(px, int(w) + 1, int(h)), "");
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
