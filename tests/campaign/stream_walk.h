// Walking a capture of the counter stream piece by piece: where the driver dropped data (an
// overrun) or the reader re-synchronised, the stream breaks, inside a block or between blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace campaign {

// Walks a capture cut into the given blocks as pieces of the counter stream: each piece is the
// longest run that follows on from the byte before it, or else from its own first bytes. Returns
// the number of places where a piece does not follow on from the one before (inside a block or
// between blocks), or -1 when a stretch of the file is no slice of the stream at all or a piece
// comes from before one already seen (the stream only moves on). One exception: the ring's
// previous lap of bytes not seen yet (what a reader gets when it reads past the hardware, as after
// an overrun that moved the read position beyond the position it had been told): each such jump
// is a break. Reads at an odd-sized ring's end
// and overruns on a byte-aligned hardware position can leave pieces of a few bytes that cannot
// tell where they come from: up to seven such bytes between two placed pieces are taken as one or
// two pieces of their own.
long long stream_breaks(const std::string& pcm, const std::vector<uint32_t>& blocks, long long ring);

}  // namespace campaign
