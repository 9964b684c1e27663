#include "judge/capture.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <complex>
#include <numeric>

#include "bringup/qvaudio.h"
#include "pcmcapture/messages.h"
#include "bringup/trace_line.h"

namespace judge {

namespace {

const uint32_t kHalf = 9600;
const uint32_t kWhole = 19200;

// The driver request that sets the read position: what each re-sync of the reader sends.
const std::string kSetReadPosRequest = bringup::trace_request(kCmdOutSetReadPos) + " ";
const char kAudioNode[] = QVAUDIO_NODE;

// How each message is written: level, text, and whether the text is a printf format (whose
// numbers are read back) or a fixed text.
struct LogForm {
    LogKind kind;
    char level;
    const char* text;
    int args;       // numbers in the format; 0 for a fixed text
    bool hex;       // %x rather than %d
};

const LogForm kForms[] = {
    {LogKind::Start, 'I', pcmlog::kMsgStart, 0, false},
    {LogKind::Finish, 'I', pcmlog::kMsgFinish, 0, false},
    {LogKind::Size, 'I', pcmlog::kMsgSize, 1, true},
    {LogKind::OpenFailed, 'E', pcmlog::kMsgOpenFailed, 0, false},
    {LogKind::InitError, 'I', pcmlog::kMsgInitError, 0, false},
    {LogKind::ShortRead, 'E', pcmlog::kMsgShortRead, 2, false},
    {LogKind::ShortReadToEnd, 'E', pcmlog::kMsgShortReadToEnd, 2, false},
    {LogKind::ThreadFailed, 'E', pcmlog::kMsgThreadFailed, 0, false},
    {LogKind::Write, 'D', pcmlog::kMsgWrite, 2, true},
};

// Reads the numbers of a format line and writes them back: the line is in its exact form only
// when that gives the same text.
bool match_format(const std::string& text, const LogForm& form, long long* a, long long* b) {
    std::string fmt = form.text;
    if (!fmt.empty() && fmt.back() == '\n') fmt.pop_back();
    std::string scan = fmt + "%n";
    int end = -1;
    char again[256];
    if (form.hex) {
        unsigned int x = 0, y = 0;
        int got = form.args == 1 ? sscanf(text.c_str(), scan.c_str(), &x, &end)
                                 : sscanf(text.c_str(), scan.c_str(), &x, &y, &end);
        if (got != form.args || end != int(text.size())) return false;
        snprintf(again, sizeof again, fmt.c_str(), x, y);
        *a = x;
        *b = y;
    } else {
        int x = 0, y = 0;
        int got = form.args == 1 ? sscanf(text.c_str(), scan.c_str(), &x, &end)
                                 : sscanf(text.c_str(), scan.c_str(), &x, &y, &end);
        if (got != form.args || end != int(text.size())) return false;
        snprintf(again, sizeof again, fmt.c_str(), x, y);
        *a = x;
        *b = y;
    }
    return text == again;
}

LogLine classify(const std::string& line) {
    LogLine out;
    out.text = line;
    std::string tag = std::string("/") + pcmlog::kTag + ": ";
    if (line.size() < tag.size() + 1 || line.compare(1, tag.size(), tag) != 0) return out;
    char level = line[0];
    std::string text = line.substr(1 + tag.size());
    for (const LogForm& form : kForms) {
        if (form.level != level) continue;
        long long a = 0, b = 0;
        bool match = form.args ? match_format(text, form, &a, &b) : text == form.text;
        if (!match) continue;
        out.kind = form.kind;
        out.a = a;
        out.b = b;
        if (form.kind == LogKind::Size) out.a = (long long)int32_t(uint32_t(a));
        return out;
    }
    return out;
}

std::string plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

int16_t sample_at(const std::string& pcm, size_t byte) {
    return int16_t(uint16_t(uint8_t(pcm[byte])) | uint16_t(uint8_t(pcm[byte + 1])) << 8);
}

// Stretches of at least min_bytes where `pred(frame, previous frame)` holds for every frame.
template <typename Pred>
std::vector<Stretch> stretches(const std::string& pcm, long long min_bytes, Pred pred) {
    std::vector<Stretch> out;
    size_t frames = pcm.size() / 4;
    size_t run_start = 0;
    bool in_run = false;
    for (size_t f = 0; f <= frames; ++f) {
        bool hit = f < frames && pred(f);
        if (hit && !in_run) {
            run_start = f;
            in_run = true;
        } else if (!hit && in_run) {
            long long bytes = (long long)(f - run_start) * 4;
            if (bytes >= min_bytes) out.push_back({(long long)run_start * 4, bytes});
            in_run = false;
        }
    }
    return out;
}

// Where in the counter stream a block starts, or -1.
long long counter_start(const bringup::AudioStream& s, const char* data, size_t n) {
    if (n < 8) return -1;
    for (size_t k = 0; k < 4; ++k) {
        uint32_t w = uint32_t(uint8_t(data[k])) | uint32_t(uint8_t(data[k + 1])) << 8 |
                     uint32_t(uint8_t(data[k + 2])) << 16 | uint32_t(uint8_t(data[k + 3])) << 24;
        long long start = (long long)w * 4 - (long long)k;
        if (start < 0) continue;
        size_t i = 0;
        while (i < n && bringup::stream_byte(s, start + (long long)i) == uint8_t(data[i])) ++i;
        if (i == n) return start;
    }
    return -1;
}

// One period of the tone, for placing a block within it.
struct ToneTable {
    std::vector<int16_t> samples;
};

bool make_tone_table(const bringup::AudioStream& s, ToneTable* table) {
    // The stream's phase advances by the tone in milli-hertz per frame, one turn being the frame
    // rate in milli-frames per second: it repeats after turn / gcd(turn, tone) frames.
    audio_stream c = bringup::c_stream(s);
    long long turn = (long long)audio_stream_turn(&c);
    if (c.tone_mhz <= 0) return false;
    long long period = turn / std::gcd(turn, c.tone_mhz);
    if (period > (1 << 22)) return false;
    table->samples.resize(size_t(period));
    for (long long f = 0; f < period; ++f) table->samples[size_t(f)] = bringup::tone_sample(s, f);
    return true;
}

// The frame (within the tone's period) at which a block starts, or -1. The stream is one integer
// definition on every simulated board, so a sound block matches the table exactly; a tolerance
// would place a block of a fractional tone wrongly, where the tone nearly repeats.
long long tone_start(const ToneTable& t, const std::string& pcm, size_t offset, size_t n) {
    if (n < 4 || n % 4) return -1;
    size_t period = t.samples.size();
    size_t frames = n / 4;
    int16_t first = sample_at(pcm, offset);
    for (size_t p = 0; p < period; ++p) {
        if (t.samples[p] != first) continue;
        size_t i = 0;
        for (; i < frames; ++i) {
            int16_t expect = t.samples[(p + i) % period];
            if (sample_at(pcm, offset + 4 * i) != expect || sample_at(pcm, offset + 4 * i + 2) != expect) break;
        }
        if (i == frames) return (long long)p;
    }
    return -1;
}

}  // namespace

size_t CaptureLog::count(LogKind kind) const {
    return size_t(std::count_if(lines.begin(), lines.end(),
                                [kind](const LogLine& l) { return l.kind == kind; }));
}

CaptureLog parse_capture_log(const std::string& text) {
    CaptureLog log;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        LogLine l = classify(line);
        if (l.kind == LogKind::Write) log.block_lengths.push_back(uint32_t(l.b));
        if (l.kind == LogKind::Size) log.ring_size = l.a;
        log.lines.push_back(l);
    }
    return log;
}

long long count_resyncs(const Trace& trace) {
    long long n = 0;
    for (const TraceRecord& r : trace.records)
        if (r.op == "ioctl" && r.path == kAudioNode && r.detail.compare(0, kSetReadPosRequest.size(), kSetReadPosRequest) == 0)
            ++n;
    return n;
}

long long count_overruns(const Trace& trace) {
    long long n = 0;
    for (const TraceRecord& r : trace.records)
        if (r.op == "fault" && r.path == kAudioNode && r.detail.rfind(std::string(bringup::kTraceOverrun) + " ", 0) == 0) ++n;
    return n;
}

namespace {

// The log alone: every line in pcmcapture's form, one start line first and one finish line last,
// one ring size, and none of the lines that tell of a failure.
void judge_log(const CaptureLog& log, std::vector<std::string>& problems) {
    size_t unknown = log.count(LogKind::Unknown);
    if (unknown) {
        for (const LogLine& l : log.lines)
            if (l.kind == LogKind::Unknown) {
                problems.push_back(plural(unknown, "line", "lines") +
                                   " of the log not in pcmcapture's form, the first: \"" + l.text + "\"");
                break;
            }
    }
    if (log.count(LogKind::Start) != 1 || log.lines.empty() || log.lines.front().kind != LogKind::Start)
        problems.push_back("the log does not begin with the one start line");
    if (log.count(LogKind::Finish) != 1 || log.lines.empty() || log.lines.back().kind != LogKind::Finish)
        problems.push_back("the log does not end with the one finish line");
    if (log.count(LogKind::Size) != 1)
        problems.push_back("the log has " + std::to_string(log.count(LogKind::Size)) + " ring size lines, not one");
    else if (log.ring_size <= 0)
        problems.push_back("the driver reported a ring size of " + std::to_string(log.ring_size));
    if (size_t n = log.count(LogKind::OpenFailed))
        problems.push_back("the device could not be opened (" + plural(n, "time", "times") + ")");
    if (log.count(LogKind::ThreadFailed)) problems.push_back("the capture thread could not be created");
    if (size_t n = log.count(LogKind::InitError))
        problems.push_back("the hardware position query failed at re-sync (" + plural(n, "time", "times") + ")");
    if (size_t n = log.count(LogKind::ShortRead) + log.count(LogKind::ShortReadToEnd))
        problems.push_back("reads from the driver came back short (" + plural(n, "time", "times") + ")");
}

// The log's blocks against the file: each a half or a whole, and together the file.
void judge_blocks(CaptureReport& r) {
    long long sum = 0;
    bool odd_length = false;
    for (uint32_t n : r.log.block_lengths) {
        sum += n;
        if (n == kHalf) r.halves++;
        else if (n == kWhole) r.wholes++;
        else odd_length = true;
    }
    if (odd_length) r.problems.push_back("a block of the log is neither 9600 nor 19200 bytes long");
    if (sum != r.bytes)
        r.problems.push_back("the log's blocks add up to " + std::to_string(sum) + " bytes, the file holds " +
                             std::to_string(r.bytes));
    if (r.bytes % kHalf) r.problems.push_back("the file is not a whole number of 9600-byte halves");
    if (r.bytes == 0) r.problems.push_back("no audio was captured");
}

// How much audio the file holds against how long the capture ran at the driver's rate.
void judge_length(CaptureReport& r, const CaptureOptions& o) {
    r.audio_seconds = o.rate > 0 ? double(r.bytes) / double(o.rate) : 0;
    r.data_rate = o.seconds > 0 ? double(r.bytes) / o.seconds : 0;
    if (r.bytes > 0 && o.rate > 0) {
        if (r.audio_seconds < o.min_fraction * o.seconds || r.audio_seconds > o.max_fraction * o.seconds) {
            char line[160];
            snprintf(line, sizeof line, "%.2f s of audio in %.0f s of capture (%.0f bytes/s, the driver plays %lld)",
                     r.audio_seconds, o.seconds, r.data_rate, o.rate);
            r.problems.push_back(line);
        }
    }
}

// Silence and stuck samples, over whole frames; the counter pattern is not audio.
void judge_samples(CaptureReport& r, const std::string& pcm, const CaptureOptions& o) {
    if (o.content == Content::Counter || o.rate <= 0) return;
    std::string whole = pcm.substr(0, pcm.size() - pcm.size() % 4);
    long long min_bytes = std::max(4LL, (long long)(o.min_stretch_s * double(o.rate)) / 4 * 4);
    int level = o.silence_level;
    r.silence = stretches(whole, min_bytes, [&](size_t f) {
        return abs(sample_at(whole, 4 * f)) <= level && abs(sample_at(whole, 4 * f + 2)) <= level;
    });
    r.stuck = stretches(whole, min_bytes, [&](size_t f) {
        if (f == 0 || whole.compare(4 * f, 4, whole, 4 * (f - 1), 4) != 0) return false;
        return abs(sample_at(whole, 4 * f)) > level || abs(sample_at(whole, 4 * f + 2)) > level;
    });
    if (!r.stuck.empty())
        r.problems.push_back(plural(r.stuck.size(), "stretch", "stretches") + " of one sample repeated");
    if (o.content == Content::Tone && !r.silence.empty())
        r.problems.push_back(plural(r.silence.size(), "stretch", "stretches") + " of silence in the tone");
}

// Known content: every block a slice of the stream, following on from the one before unless the
// reader re-synced in between.
void judge_content(CaptureReport& r, const std::string& pcm, const CaptureOptions& o) {
    if (o.content == Content::Unknown) return;
    bringup::AudioStream s;
    s.rate = o.rate;
    s.counter = o.content == Content::Counter;
    s.tone_hz = o.tone_hz;
    ToneTable table;
    if (!s.counter && !make_tone_table(s, &table)) {
        r.problems.push_back("the tone's period is too long to check the content against");
        return;
    }
    r.content_checked = true;
    long long at = 0, expected = -1;
    size_t broken = 0;
    std::string first_broken;
    for (uint32_t n : r.log.block_lengths) {
        if (at + (long long)n > r.bytes) break;
        BlockCheck b;
        b.offset = at;
        b.length = n;
        long long start, next;
        if (s.counter) {
            start = counter_start(s, pcm.data() + at, n);
            next = start < 0 ? -1 : start + n;
        } else {
            start = tone_start(table, pcm, size_t(at), n);
            next = start < 0 ? -1 : (start + n / 4) % (long long)table.samples.size();
        }
        b.intact = start >= 0;
        b.follows = b.intact && expected >= 0 && start == expected;
        if (b.intact) r.intact++;
        else if (broken++ == 0) first_broken = std::to_string(r.blocks.size());
        if (b.intact && expected >= 0 && !b.follows) r.gaps++;
        expected = next;
        r.blocks.push_back(b);
        at += n;
    }
    if (broken)
        r.problems.push_back(plural(broken, "block is", "blocks are") +
                             " not an intact slice of the stream (the first: block " + first_broken + ")");
    if (o.resyncs >= 0 && (long long)r.gaps > std::max(0LL, o.resyncs - 1))
        r.problems.push_back(plural(r.gaps, "gap", "gaps") + " between blocks, but only " +
                             std::to_string(std::max(0LL, o.resyncs - 1)) +
                             " re-syncs after the first: data was lost without a re-sync");
}

}  // namespace

CaptureReport analyse_capture(const std::string& log_text, const std::string& pcm,
                              const CaptureOptions& o) {
    CaptureReport r;
    r.log = parse_capture_log(log_text);
    r.bytes = (long long)pcm.size();
    judge_log(r.log, r.problems);
    judge_blocks(r);
    judge_length(r, o);
    judge_samples(r, pcm, o);
    judge_content(r, pcm, o);
    return r;
}

std::vector<double> level_over_time(const std::string& pcm, long long rate, double window_s) {
    std::vector<double> out;
    size_t window = size_t(std::max(1.0, window_s * double(rate) / 4.0)) * 4;
    for (size_t at = 0; at + window <= pcm.size(); at += window) {
        double sum = 0;
        for (size_t i = at; i < at + window; i += 2) {
            double v = sample_at(pcm, i);
            sum += v * v;
        }
        double rms = sqrt(sum / double(window / 2));
        out.push_back(rms > 0 ? std::max(-120.0, 20.0 * log10(rms / 32768.0)) : -120.0);
    }
    return out;
}

std::vector<double> spectrum(const std::string& pcm, long long rate, size_t frames, double* bin_hz) {
    *bin_hz = frames ? double(rate) / 4.0 / double(frames) : 0;
    if (frames < 2 || (frames & (frames - 1)) || pcm.size() / 4 < frames) return {};
    size_t first = (pcm.size() / 4 - frames) / 2;
    std::vector<std::complex<double>> x(frames);
    for (size_t i = 0; i < frames; ++i) {
        double hann = 0.5 - 0.5 * cos(2.0 * M_PI * double(i) / double(frames - 1));
        x[i] = sample_at(pcm, 4 * (first + i)) / 32768.0 * hann;
    }
    // Iterative radix-2 FFT.
    for (size_t i = 1, j = 0; i < frames; ++i) {
        size_t bit = frames >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (size_t len = 2; len <= frames; len <<= 1) {
        std::complex<double> w = std::polar(1.0, -2.0 * M_PI / double(len));
        for (size_t i = 0; i < frames; i += len) {
            std::complex<double> wk = 1;
            for (size_t k = 0; k < len / 2; ++k, wk *= w) {
                std::complex<double> u = x[i + k], v = x[i + k + len / 2] * wk;
                x[i + k] = u + v;
                x[i + k + len / 2] = u - v;
            }
        }
    }
    std::vector<double> out(frames / 2);
    // A full-scale sine through the Hann window peaks at frames / 4.
    for (size_t i = 0; i < frames / 2; ++i) {
        double mag = std::abs(x[i]) / (double(frames) / 4.0);
        out[i] = mag > 1e-6 ? 20.0 * log10(mag) : -120.0;
    }
    return out;
}

}  // namespace judge
