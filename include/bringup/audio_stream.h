// What the simulated audio driver plays, as the programs see it: the stream of
// audio_stream_core.h (one definition, shared with the kernel board) with a C++ face.
#pragma once

#include "bringup/audio_stream_core.h"
#include "bringup/board_setting_rows.h"

#include <math.h>

namespace bringup {

const double kToneAmplitude = AUDIO_STREAM_AMPLITUDE;

struct AudioStream {
    long long rate = board_default::audio_rate;  // bytes per second
    bool counter = false;
    double tone_hz = board_default::tone_hz();  // taken to the milli-hertz
};

inline audio_stream c_stream(const AudioStream& s) {
    return audio_stream{s.rate, s.counter ? 1 : 0, llround(s.tone_hz * 1000.0)};
}

// The tone's sample of frame `frame`.
inline int16_t tone_sample(const AudioStream& s, long long frame) {
    audio_stream c = c_stream(s);
    return audio_stream_tone_sample(&c, frame);
}

inline uint8_t stream_byte(const AudioStream& s, long long offset) {
    audio_stream c = c_stream(s);
    return audio_stream_byte(&c, offset);
}

}  // namespace bringup
