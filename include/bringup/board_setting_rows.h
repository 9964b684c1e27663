// The simulated board's settings (board_settings.h) as C++ sees them: one array of rows for the
// readers that go through every setting (the preloaded board, `boardsim create`'s checks, the
// tests), and each default as a constant of the setting's name for the programs that assume the
// board's default (bringup::board_default::audio_rate).
#pragma once

#include <stddef.h>

#include "bringup/audio_stream_core.h"
#include "bringup/board_settings.h"

namespace bringup {

// What a setting takes: the row macros of board_settings.h, in their order.
enum class SettingKind { Number, Optional, Word, List, Calls, Text, Hertz };

struct BoardSetting {
    const char* key;        // the board.conf key ("audio.rate")
    const char* param;      // the kernel board's parameter ("audio_rate")
    SettingKind kind;
    const char* def;        // the default as written in the table ("192000", "tone"); "" for none
    long long number;       // Number: the default as a number
    long long low, high;    // Number, Optional: the range
    const char* words;      // Word: the words; List: the items; space-separated
};

#define BRINGUP_ROW_NUMBER(name, key, def, low, high, units, text) \
    {key, #name, SettingKind::Number, #def, def, low, high, ""},
#define BRINGUP_ROW_OPTIONAL(name, key, low, high, units, text) \
    {key, #name, SettingKind::Optional, "", 0, low, high, ""},
#define BRINGUP_ROW_WORD(name, key, def, words, text) {key, #name, SettingKind::Word, def, 0, 0, 0, words},
#define BRINGUP_ROW_LIST(name, key, def, items, text) {key, #name, SettingKind::List, def, 0, 0, 0, items},
#define BRINGUP_ROW_CALLS(name, key, text) {key, #name, SettingKind::Calls, "", 0, 0, 0, ""},
#define BRINGUP_ROW_TEXT(name, key, def, text) {key, #name, SettingKind::Text, def, 0, 0, 0, ""},
#define BRINGUP_ROW_HERTZ(name, key, def, text) {key, #name, SettingKind::Hertz, def, 0, 0, 0, ""},
inline constexpr BoardSetting kBoardSettings[] = {
    BOARD_SETTINGS(BRINGUP_ROW_NUMBER, BRINGUP_ROW_OPTIONAL, BRINGUP_ROW_WORD, BRINGUP_ROW_LIST,
                   BRINGUP_ROW_CALLS, BRINGUP_ROW_TEXT, BRINGUP_ROW_HERTZ)};
#undef BRINGUP_ROW_NUMBER
#undef BRINGUP_ROW_OPTIONAL
#undef BRINGUP_ROW_WORD
#undef BRINGUP_ROW_LIST
#undef BRINGUP_ROW_CALLS
#undef BRINGUP_ROW_TEXT
#undef BRINGUP_ROW_HERTZ

// The defaults: a number for the numbers, the text for words, lists, texts and frequencies.
namespace board_default {
#define BRINGUP_DEFAULT_NUMBER(name, key, def, low, high, units, text) constexpr long long name = def;
#define BRINGUP_DEFAULT_TEXT(name, key, def, ...) constexpr const char* name = def;
#define BRINGUP_DEFAULT_NONE(...)
BOARD_SETTINGS(BRINGUP_DEFAULT_NUMBER, BRINGUP_DEFAULT_NONE, BRINGUP_DEFAULT_TEXT, BRINGUP_DEFAULT_TEXT,
               BRINGUP_DEFAULT_NONE, BRINGUP_DEFAULT_TEXT, BRINGUP_DEFAULT_TEXT)
#undef BRINGUP_DEFAULT_NUMBER
#undef BRINGUP_DEFAULT_TEXT
#undef BRINGUP_DEFAULT_NONE

// The default tone in hertz, to the milli-hertz (the table writes it as text, as a board.conf
// holds it).
inline double tone_hz() {
    long long mhz = 0;
    audio_stream_parse_mhz(audio_tone_hz, &mhz);
    return double(mhz) / 1000.0;
}
}  // namespace board_default

}  // namespace bringup
