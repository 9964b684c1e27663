// The emulated audio output driver behind "/dev/qvaudio_out".
//
// The driver plays out an endless stream; the byte at stream offset o is a fixed function of o
// (content "counter": the 32-bit little-endian index o/4 of its 4-byte word, so any slice proves
// where it came from; content "tone": 16-bit stereo sine frames). The hardware has produced
// S = rate * (time since the clock started) bytes, rounded down to the alignment; the clock starts
// at open and again at the set-up command. The ring holds the last `ring` bytes of the stream:
// the hardware position is S mod ring, the read position R mod ring, where R is the stream offset
// of the next byte a read returns.
//
// Overrun: when the hardware is a whole ring or more ahead of the reader, the unread bytes have
// been overwritten; the driver then drops them, moves R up to S (the ring reads as empty) and
// traces a "fault" line "overrun <bytes lost>". A read past S returns what the ring holds there,
// which is the previous lap of the stream.
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "bringup/audio_stream.h"
#include "boardsim.h"
#include "bringup/qvaudio.h"
#include "internal.h"
#include "bringup/trace_line.h"

namespace {

const char kNode[] = QVAUDIO_NODE;

// The answer of a position query that the fault "…_range" puts outside the ring.
const long kBadReadPos = -2;

struct Config {
    long long rate;
    bringup::AudioStream stream;
    long long ring;
    long long align;
    bool counter;
    double tone_hz;
    bool present;
    long long absent_opens;
    bool size_fixed;  // false: the size request answers the ring size
    long size_answer;
    std::string hwpos_fail, readpos_fail, hwpos_range, readpos_range, short_read, read_error;
};

struct Stream {
    double t0;      // clock start, monotonic seconds
    long long rd;   // stream offset of the next byte to read
};

std::once_flag g_config_once;
const Config* g_config;
std::mutex g_mutex;
std::map<int, Stream>* g_streams = new std::map<int, Stream>;  // never freed, see core.cpp
std::atomic<long long> g_hwpos_calls{0}, g_readpos_calls{0}, g_read_calls{0};

const Config& config() {
    std::call_once(g_config_once, [] {
        Config* c = new Config;
        c->rate = boardsim::setting_number("audio.rate");
        c->ring = boardsim::setting_number("audio.ring");
        c->align = boardsim::setting_number("audio.align");
        c->counter = boardsim::setting("audio.content") == "counter";
        c->tone_hz = boardsim::setting_tone_hz();
        c->stream.rate = c->rate;
        c->stream.counter = c->counter;
        c->stream.tone_hz = c->tone_hz;
        c->present = boardsim::setting_number("audio.present") != 0;
        c->absent_opens = boardsim::setting_number("audio.fault.absent_opens");
        c->size_fixed = !boardsim::setting("audio.fault.size").empty();
        c->size_answer = (long)boardsim::setting_number("audio.fault.size");
        c->hwpos_fail = boardsim::setting("audio.fault.hwpos_fail");
        c->readpos_fail = boardsim::setting("audio.fault.readpos_fail");
        c->hwpos_range = boardsim::setting("audio.fault.hwpos_range");
        c->readpos_range = boardsim::setting("audio.fault.readpos_range");
        c->short_read = boardsim::setting("audio.fault.short_read");
        c->read_error = boardsim::setting("audio.fault.read_error");
        g_config = c;
    });
    return *g_config;
}

bool core_in(const std::string& list, long long call) {
    return boardsim::core::in_call_list(list, call);
}

// Where stream offset `offset` lies in the ring (the reader may sit before the stream's start).
long long ring_pos(long long offset) {
    long long ring = config().ring;
    return ((offset % ring) + ring) % ring;
}

double now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Bytes the hardware has produced since the clock of `s` started.
long long produced(const Stream& s) {
    const Config& c = config();
    long long bytes = (long long)((now() - s.t0) * double(c.rate));
    return bytes - bytes % c.align;
}

uint8_t byte_at(long long offset) {
    const Config& c = config();
    return bringup::stream_byte(c.stream, offset);
}

// Fills `buf` with the ring's bytes for the stream offsets [from, from + count), as they are when
// the hardware has produced `hw` bytes: offsets not yet produced still hold the previous lap.
void fill(uint8_t* buf, long long from, size_t count, long long hw) {
    long long ring = config().ring;
    for (size_t i = 0; i < count; ++i) {
        long long o = from + (long long)i;
        buf[i] = byte_at(o < hw ? o : o - ring);
    }
}

// Drops the unread bytes the hardware has already overwritten.
void check_overrun(Stream& s, long long hw) {
    long long ring = config().ring;
    if (hw - s.rd >= ring) {
        long long lost = hw - s.rd;
        s.rd = hw;
        boardsim::trace("fault", kNode, std::string(bringup::kTraceOverrun) + " " + std::to_string(lost), 0);
    }
}

long fail(int err) {
    errno = err;
    return -1;
}

bool audio_present() { return config().present; }

int audio_open(int fd, int /*flags*/) {
    const Config& c = config();
    if (c.absent_opens > 0 && boardsim::count_event("audio.open") <= c.absent_opens)
        return -ENOENT;
    std::lock_guard<std::mutex> lock(g_mutex);
    (*g_streams)[fd] = Stream{now(), 0};
    return 0;
}

long audio_ioctl(int fd, unsigned long request, unsigned long arg) {
    const Config& c = config();
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_streams->find(fd);
    if (it == g_streams->end()) return fail(EBADF);
    Stream& s = it->second;
    long long hw = produced(s);
    check_overrun(s, hw);
    switch (request) {
        case kCmdOutSize:
            if (c.size_fixed) return c.size_answer;
            return long(c.ring);
        case kCmdOutHwPos: {
            long long call = ++g_hwpos_calls;
            if (core_in(c.hwpos_fail, call)) return fail(EIO);
            if (core_in(c.hwpos_range, call)) return long(c.ring);
            return long(ring_pos(hw));
        }
        case kCmdOutReadPos: {
            long long call = ++g_readpos_calls;
            if (core_in(c.readpos_fail, call)) return fail(EIO);
            if (core_in(c.readpos_range, call)) return kBadReadPos;
            return long(ring_pos(s.rd));
        }
        case kCmdOutSetReadPos: {
            long long pos = (int)arg;
            if (pos < 0 || pos >= c.ring) return fail(EINVAL);
            // The latest stream offset at or before the hardware that sits at `pos` in the ring.
            s.rd = hw - ((ring_pos(hw) - pos + c.ring) % c.ring);
            return 0;
        }
        case kCmdOutSetup:
            s.t0 = now();
            s.rd = 0;
            return 0;
        default:
            return fail(ENOTTY);
    }
}

ssize_t audio_read(int fd, void* buf, size_t count) {
    const Config& c = config();
    long long call = ++g_read_calls;
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_streams->find(fd);
    if (it == g_streams->end()) return fail(EBADF);
    Stream& s = it->second;
    long long hw = produced(s);
    check_overrun(s, hw);
    if (core_in(c.read_error, call)) return fail(EIO);
    // A read stops at the end of the ring.
    long long n = std::min<long long>((long long)count, c.ring - ring_pos(s.rd));
    // A short read returns half, cut to whole frames (4 bytes: two 16-bit channels).
    if (core_in(c.short_read, call)) n = (n / 2) & ~3LL;
    fill(static_cast<uint8_t*>(buf), s.rd, size_t(n), hw);
    s.rd += n;
    return ssize_t(n);
}

void audio_close(int fd) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_streams->erase(fd);
}

bool audio_has_arg(unsigned long request) {
    return request == kCmdOutSize || request == kCmdOutSetReadPos || request == kCmdOutSetup;
}

const boardsim::Device kAudioDevice = {kNode,        audio_present, audio_open,   audio_ioctl,
                                       audio_read,   audio_close,   audio_has_arg};

struct Registration {
    Registration() {
        boardsim::register_device(&kAudioDevice);
    }
} g_registration;

}  // namespace
