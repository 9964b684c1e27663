// Fuzz entry for the board settings: any bytes as a board.conf text, then every value through the
// readers the drivers apply to it (call lists, C escapes, numbers). Parsing what the parsed
// settings say, written back as board.conf lines, must give the same settings.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "boardfiles/board_folder.h"
#include "internal.h"
#include "usb_model.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_boardconf: %s\n", what);
    std::abort();
}

bool trimmed(const std::string& s) {
    const char* blanks = " \t\r";
    return s.empty() || (std::string(blanks).find(s.front()) == std::string::npos &&
                         std::string(blanks).find(s.back()) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::map<std::string, std::string> settings;
    boardfiles::parse_settings(text, &settings);

    std::string again;
    for (const auto& [key, value] : settings) {
        if (key.empty() || !trimmed(key) || !trimmed(value)) fail("untrimmed or empty key");
        if (key.find_first_of("=#\n") != std::string::npos) fail("key holds a separator");
        if (value.find_first_of("#\n") != std::string::npos) fail("value holds a comment or line end");
        again += key + " = " + value + "\n";
        for (long long call : {0LL, 1LL, 2LL, 7LL, 1000000LL, -1LL})
            (void)boardsim::core::in_call_list(value, call);
        if (boardsim::usb_unescape(value).size() > value.size()) fail("unescaping grew the text");
        // A number `boardsim create` takes for a numeric key is the number the board reads.
        const bringup::BoardSetting* row = boardfiles::setting_row(key);
        bool numeric = row && (row->kind == bringup::SettingKind::Number || row->kind == bringup::SettingKind::Optional ||
                               row->kind == bringup::SettingKind::Hertz);
        bool taken = numeric && !value.empty() && boardfiles::setting_refused(key, value).empty();
        if (taken && key == "audio.tone_hz" ? boardfiles::setting_tone_hz(settings) != std::strtod(value.c_str(), nullptr)
            : taken && boardfiles::setting_number(settings, key) != std::strtoll(value.c_str(), nullptr, 0))
            fail("a number taken is read differently");
    }
    std::map<std::string, std::string> reparsed;
    boardfiles::parse_settings(again, &reparsed);
    if (reparsed != settings) fail("settings written back read differently");
    return 0;
}
