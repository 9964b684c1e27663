// pcmcapture runs: random ring sizes (tiny, odd, not a multiple of 4, large, up to the largest
// positive 32-bit value), rates, alignment, content and driver faults, combined.
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boardfiles/board_names.h"
#include "bringup/qvaudio.h"
#include "campaign.h"
#include "judge/capture.h"
#include "judge/trace.h"
#include "stream_walk.h"

namespace campaign {

namespace {

const char kDevice[] = QVAUDIO_NODE;
const std::string kOverrun = std::string(bringup::kTraceOverrun) + " ";
const std::string kSetReadPosition = testutil::request_text(kCmdOutSetReadPos);
// An overrun can break the stream up to four times: the read position jumps to the hardware's, the
// reader may then take a few produced bytes and the ring's previous lap after them, and the next
// read goes on from the live stream again.
const long long kBreaksPerOverrun = 4;
const long kCaptureBytes = 19200;

long long draw_ring(Rng& rng) {
    switch (rng.between(0, 6)) {
        case 0: return rng.between(1, 64);                          // tiny
        case 1: return rng.between(32, 50000) * 2 + 1;              // odd
        case 2: return rng.between(1000, 400000) * 4 + rng.between(1, 3);  // not a multiple of 4
        case 3: return rng.between(4096, 1 << 22);
        case 4: return rng.between(1LL << 30, 0x7fffffffLL);        // large
        case 5: return 0x7fffffffLL - rng.between(0, 8);            // the largest
        default: return rng.pick(std::vector<long long>{65536, 19200, 9600, 4096, 4});
    }
}

std::string call_list(Rng& rng) {
    switch (rng.between(0, 3)) {
        case 0: return std::to_string(rng.between(1, 60));
        case 1: {
            long long a = rng.between(1, 40);
            return std::to_string(a) + "," + std::to_string(a + rng.between(1, 200));
        }
        case 2: {
            long long a = rng.between(1, 300);
            return std::to_string(a) + "-" + std::to_string(a + rng.between(0, 30));
        }
        default: return std::to_string(rng.between(5, 1200)) + "-";
    }
}

}  // namespace

Outcome run_pcmcapture(Rng& rng, const RunDirs& dirs, double) {
    Outcome outcome;
    const long long ring = draw_ring(rng);
    const long long rate = rng.pick(std::vector<long long>{8000, 48000, 192000, 768000, 1536000,
                                                           rng.between(1000, 2500000)});
    const bool counter = rng.chance(0.9);
    std::vector<std::string> settings = {
        "audio.ring=" + std::to_string(ring), "audio.rate=" + std::to_string(rate),
        "audio.align=" + std::to_string(rng.pick(std::vector<int>{4, 4, 1, 2, 8})),
        std::string("audio.content=") + (counter ? "counter" : "tone")};
    for (const char* fault : {"hwpos_fail", "readpos_fail", "hwpos_range", "readpos_range",
                              "short_read", "read_error"}) {
        if (rng.chance(0.3)) {
            settings.push_back(std::string("audio.fault.") + fault + "=" + call_list(rng));
            outcome.faults++;
        }
    }
    long long answered = ring;
    if (rng.chance(0.12)) {
        answered = rng.pick(std::vector<long long>{-1, 0, -7, 0x7fffffff, 0x7ffffffc, 0x7ffff000,
                                                   rng.between(1, 1 << 20)});
        settings.push_back("audio.fault.size=" + std::to_string(answered));
        outcome.faults++;
    }
    const bool absent = rng.chance(0.05);
    if (absent) {
        settings.push_back("audio.fault.absent_opens=1");
        outcome.faults++;
    }
    const bool no_thread = rng.chance(0.03);
    if (no_thread) {
        settings.push_back("fault.pthread_create=refuse");
        outcome.faults++;
    }
    for (const std::string& s : settings) outcome.schedule += s + " ";

    std::string error;
    if (!make_board(dirs.board, settings, &error)) {
        outcome.fail(error);
        return outcome;
    }
    Process p = start_on_board(dirs, "pcmcapture", {});
    int status = 0;
    if (p.child.pid < 0 || !wait_for(p, 90, &status)) {
        if (p.child.pid > 0) {
            kill(p.child.pid, SIGKILL);
            wait_for(p, 10, &status);
        }
        outcome.fail("pcmcapture did not end within 90 s");
        return outcome;
    }
    const std::string out = testutil::read_file(p.out_path);
    check_clean_end(testutil::read_file(p.err_path), status, &outcome, true, 0);

    // The driver's view: reads within the capture buffer, re-syncs and overruns.
    judge::Trace trace;
    std::string trace_error;
    if (!judge::read_trace(dirs.board + "/" + boardfiles::kTraceFile, &trace, &trace_error)) outcome.fail(trace_error);
    // The capture buffer fills from its start after every re-sync; a read that brings it to its
    // end starts it again. Every read must ask for between 1 byte and the room left.
    long long overruns = 0, filled = 0;
    for (const judge::TraceRecord& t : trace.records) {
        if (t.path != kDevice) continue;
        if (t.op == "ioctl" && t.detail.rfind(kSetReadPosition, 0) == 0) {
            filled = 0;
        } else if (t.op == "read") {
            const long long asked = atoll(t.detail.c_str());
            if (asked < 1 || asked > kCaptureBytes - filled) {
                outcome.fail("read asked for " + t.detail + " bytes with " + std::to_string(kCaptureBytes - filled) +
                             " bytes of room left");
                break;
            }
            if (t.result == asked) filled += asked;
            if (filled >= kCaptureBytes) filled = 0;
        } else if (t.op == "fault" && t.detail.rfind(kOverrun, 0) == 0) {
            ++overruns;
        }
    }
    const long long resyncs = judge::count_resyncs(trace);

    // The log: every line in one of its exact forms, start first and finish last, one size line
    // with the size the driver answered, failure lines only where the schedule calls for them.
    const std::string pcm = testutil::read_file(dirs.work + "/output.pcm");
    judge::CaptureOptions options;
    options.rate = rate;
    options.content = counter ? judge::Content::Counter : judge::Content::Unknown;
    const judge::CaptureReport report = judge::analyse_capture(out, pcm, options);
    const judge::CaptureLog& log = report.log;
    for (const judge::LogLine& l : log.lines)
        if (l.kind == judge::LogKind::Unknown) outcome.fail("line in no known form: \"" + l.text + "\"");
    if (log.lines.empty()) {
        outcome.fail("no output");
    } else {
        if (log.count(judge::LogKind::Start) != 1 || log.lines.front().kind != judge::LogKind::Start)
            outcome.fail("the log does not begin with the one start line");
        if (log.count(judge::LogKind::Finish) != 1 || log.lines.back().kind != judge::LogKind::Finish)
            outcome.fail("the log does not end with the one finish line");
    }
    if (log.count(judge::LogKind::Size) != 1)
        outcome.fail(std::to_string(log.count(judge::LogKind::Size)) + " size lines");
    else if (log.ring_size != int32_t(answered))
        outcome.fail("size line says " + std::to_string(log.ring_size) + ", the driver answered " + std::to_string(answered));
    if (log.count(judge::LogKind::OpenFailed) > (absent ? 1u : 0u)) outcome.fail("open failure lines unasked");
    if (log.count(judge::LogKind::ThreadFailed) != (no_thread && answered > 0 ? 1u : 0u))
        outcome.fail("thread failure line does not follow the schedule");
    if ((answered <= 0 || no_thread) && !log.block_lengths.empty()) outcome.fail("blocks without a capture");

    // The blocks of output.pcm agree with the write lines one for one, and each is an intact slice
    // of the stream; a gap between neighbours needs a re-sync or an overrun to explain it.
    long long sum = 0;
    for (uint32_t n : log.block_lengths) {
        sum += n;
        if (n != 9600 && n != kCaptureBytes) outcome.fail("block of " + std::to_string(n) + " bytes");
    }
    if (sum != (long long)pcm.size())
        outcome.fail("output.pcm holds " + std::to_string(pcm.size()) + " bytes, the write lines " + std::to_string(sum));
    // A size answer that is not the ring's lets positions the driver calls outside its ring pass
    // as inside: the reader then takes bytes the hardware has not produced. The content is only
    // promised while the driver tells the truth about its size.
    if (counter && answered == ring) {
        const long long breaks = stream_breaks(pcm, log.block_lengths, ring);
        if (breaks < 0)
            outcome.fail("output.pcm holds bytes that are no slice of the stream");
        else if (breaks > std::max(0LL, resyncs - 1) + kBreaksPerOverrun * overruns)
            outcome.fail(std::to_string(breaks) + " breaks in the stream, but only " + std::to_string(resyncs) +
                         " re-syncs and " + std::to_string(overruns) + " overruns");
    }
    return outcome;
}

}  // namespace campaign
