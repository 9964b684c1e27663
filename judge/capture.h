// What a capture of pcmcapture holds: its log read back line by line, its blocks matched to
// "output.pcm", the data rate and length of the audio, stretches of silence and of stuck samples,
// and, when the stream's content is known, whether every block is an intact slice of it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "bringup/audio_stream.h"
#include "judge/trace.h"

namespace judge {

// ---- The log.

enum class LogKind {
    Start, Finish, Size, OpenFailed, InitError, ShortRead, ShortReadToEnd, ThreadFailed, Write,
    Unknown  // not one of pcmcapture's lines, or one with the wrong level
};

struct LogLine {
    LogKind kind = LogKind::Unknown;
    std::string text;     // the whole line, without its line end
    long long a = 0;      // Size: the ring size; Write: the block's address; short reads: Ret
    long long b = 0;      // Write: the block's length; short reads: the bytes asked for
};

struct CaptureLog {
    std::vector<LogLine> lines;
    std::vector<uint32_t> block_lengths;  // from the debug lines, in order
    long long ring_size = -1;             // from the size line, as a signed 32-bit value
    size_t count(LogKind kind) const;
};

// Each line must read exactly as pcmcapture writes it: level prefix, tag, text, and for the
// formats the numbers written back the same way.
CaptureLog parse_capture_log(const std::string& text);

// ---- The capture.

enum class Content { Unknown, Counter, Tone };

struct CaptureOptions {
    long long rate = bringup::board_default::audio_rate;  // bytes per second the driver plays (16-bit stereo frames)
    double seconds = 10;              // how long pcmcapture captures
    Content content = Content::Unknown;
    double tone_hz = bringup::board_default::tone_hz();
    double min_fraction = 0.9;        // of seconds * rate that must have arrived
    double max_fraction = 1.05;
    int silence_level = 64;           // |sample| at or below this counts as silent
    double min_stretch_s = 0.1;       // shorter stretches of silence or stuck samples are not reported
    long long resyncs = -1;           // re-syncs of the reader (from a trace), or -1 when not known
};

// A stretch of the file, in bytes.
struct Stretch {
    long long offset = 0;
    long long bytes = 0;
};

struct BlockCheck {
    long long offset = 0;        // in the file
    uint32_t length = 0;
    bool intact = false;         // a whole slice of the stream (known content only)
    bool follows = false;        // starts where the block before it ended
};

struct CaptureReport {
    CaptureLog log;
    long long bytes = 0;
    size_t halves = 0, wholes = 0;      // blocks of 9600 and of 19200 bytes
    double audio_seconds = 0;           // bytes / rate
    double data_rate = 0;               // bytes / seconds
    std::vector<Stretch> silence;       // every sample of every channel silent
    std::vector<Stretch> stuck;         // one frame, not silent, repeated
    bool content_checked = false;
    size_t intact = 0;
    size_t gaps = 0;                    // blocks that do not follow on from the one before
    std::vector<BlockCheck> blocks;
    std::vector<std::string> problems;  // one line each; none when the capture is sound
    bool ok() const { return problems.empty(); }
};

CaptureReport analyse_capture(const std::string& log, const std::string& pcm,
                              const CaptureOptions& options);

// Re-syncs of pcmcapture's reader in a board trace: each one sets the driver's read position.
long long count_resyncs(const Trace& trace);
// Overruns of the simulated driver's ring in a board trace: each one lost data the reader had not
// taken in time.
long long count_overruns(const Trace& trace);

// The bytes of one frame the driver plays: a 16-bit sample for each of the two channels.
const long long kFrameBytes = 4;

// ---- Pictures of the audio (16-bit little-endian stereo frames at rate / 4 per second).

// Level in dB below full scale (RMS of both channels) of each window of window_s seconds;
// -120 for digital silence.
std::vector<double> level_over_time(const std::string& pcm, long long rate, double window_s);

// Magnitude spectrum in dB below full scale of `frames` frames (a power of two) of the left
// channel taken from the middle of the capture, Hann-windowed; frames / 2 bins of *bin_hz each.
// Empty when the capture is shorter than that.
std::vector<double> spectrum(const std::string& pcm, long long rate, size_t frames, double* bin_hz);

}  // namespace judge
