// What the simulated audio driver plays: the byte at each stream offset. Shared by the emulated
// driver and by whatever checks a capture against it. Header-only.
//
// Content "counter": the 32-bit little-endian index o/4 of the 4-byte word that holds offset o, so
// any slice proves where it came from. Content "tone": 16-bit little-endian stereo frames of a sine
// of amplitude kToneAmplitude, both channels alike, at rate/4 frames per second.
#pragma once

#include <math.h>
#include <stdint.h>

#include <algorithm>

namespace boardsim {

const double kToneAmplitude = 12000.0;

struct AudioStream {
    long long rate = 192000;   // bytes per second
    bool counter = false;
    double tone_hz = 440;
};

// The tone's sample of frame `frame`.
inline int16_t tone_sample(const AudioStream& s, long long frame) {
    double frames_per_s = std::max(1.0, double(s.rate) / 4.0);
    double phase = fmod(double(frame) * s.tone_hz / frames_per_s, 1.0);
    return int16_t(lrint(kToneAmplitude * sin(2.0 * M_PI * phase)));
}

inline uint8_t stream_byte(const AudioStream& s, long long offset) {
    if (offset < 0) return 0;
    if (s.counter) {
        uint32_t word = uint32_t(offset / 4);
        return uint8_t(word >> (8 * (offset % 4)));
    }
    uint16_t bits = uint16_t(tone_sample(s, offset / 4));
    return uint8_t(offset % 2 ? bits >> 8 : bits);
}

}  // namespace boardsim
