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
// between blocks), or -1 when a stretch of the file is no slice of the stream at all. A read may
// end a piece after fewer than four bytes (at the end of an odd-sized ring), so up to three bytes
// before a new piece are taken as a piece of their own.
long long stream_breaks(const std::string& pcm, const std::vector<uint32_t>& blocks);

}  // namespace campaign
