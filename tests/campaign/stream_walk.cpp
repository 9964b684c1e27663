// Walking a capture of the counter stream piece by piece.
#include "stream_walk.h"

#include <algorithm>

#include "bringup/audio_stream.h"

namespace campaign {

// The longest run of bytes from `pos` that is a slice of the counter stream starting at one of the
// places its first four bytes allow; its length, and its stream offset in *start.
static size_t anchor(const uint8_t* data, size_t pos, size_t end, long long* start) {
    bringup::AudioStream stream;
    stream.counter = true;
    size_t best = 0;
    for (size_t k = 0; k < 4 && pos + k + 4 <= end; ++k) {
        const uint32_t word = uint32_t(data[pos + k]) | uint32_t(data[pos + k + 1]) << 8 |
                              uint32_t(data[pos + k + 2]) << 16 | uint32_t(data[pos + k + 3]) << 24;
        const long long first = (long long)word * 4 - (long long)k;
        if (first < 0) continue;
        size_t r = 0;
        while (pos + r < end && data[pos + r] == bringup::stream_byte(stream, first + (long long)r)) ++r;
        if (r > best) best = r, *start = first;
    }
    return best;
}

long long stream_breaks(const std::string& pcm, const std::vector<uint32_t>& blocks, long long ring) {
    bringup::AudioStream stream;
    stream.counter = true;
    const uint8_t* data = reinterpret_cast<const uint8_t*>(pcm.data());
    const size_t kPlaced = 8;   // a piece this long tells where it comes from
    const size_t kUnplaced = 7; // at most this many bytes of short pieces between two placed ones
    long long breaks = 0;
    long long expected = -1;    // stream offset of the next byte if nothing was lost; -1 at the start
    long long reached = 0;      // end of the furthest piece placed so far
    size_t at = 0;
    for (uint32_t length : blocks) {
        const size_t end = std::min(pcm.size(), at + length);
        size_t pos = at;
        while (pos < end) {
            size_t run = 0;
            if (expected >= 0)
                while (pos + run < end && data[pos + run] == bringup::stream_byte(stream, expected + (long long)run)) ++run;
            if (run > 0) {
                expected += (long long)run;
                reached = std::max(reached, expected);
                pos += run;
                continue;
            }
            bool placed = false;
            for (size_t skip = 0; skip <= kUnplaced && pos + skip < end && !placed; ++skip) {
                long long start = 0;
                const size_t r = anchor(data, pos + skip, end, &start);
                if (r < kPlaced && pos + skip + r < end) continue;  // too short, unless it ends the block
                // A piece too short to tell where it comes from places nothing.
                const bool sure = r >= kPlaced;
                // The stream only moves on: a piece from before the last one is data twice, unless
                // it is the ring's previous lap of bytes not seen yet (bytes the hardware had not
                // produced, taken after an overrun).
                if (sure && start < reached && start + ring < reached) return -1;
                if (expected != -1) ++breaks;
                if (skip > 0) breaks += skip > 3 ? 2 : 1;
                expected = sure ? start + (long long)r : -2;
                reached = std::max(reached, expected);
                pos += skip + r;
                placed = true;
            }
            if (!placed) {
                if (end - pos > kUnplaced) return -1;
                ++breaks;  // a short tail that cannot be placed
                pos = end;
                expected = -2;
            }
        }
        at = end;
    }
    return breaks;
}

}  // namespace campaign
