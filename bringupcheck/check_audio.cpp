// The audio check: pcmcapture reads ten seconds of the audio driver's output, and the judge reads
// the capture back against the stream the board plays.
#include <math.h>
#include <unistd.h>

#include "bringup/qvaudio.h"
#include "bringupcheck/checks.h"
#include "bringupcheck/outfiles.h"
#include "bringupcheck/progress.h"
#include "bringupcheck/runprogram.h"
#include "bringupcheck/text.h"
#include "judge/capture.h"
#include "pcmcapture/messages.h"

namespace {

// pcmcapture runs for ten seconds once the device is open; more than this means it hangs.
const double kCaptureLimitS = 45;
// A real board's audio node may come a little after the run starts (its driver still loading): it
// is waited for this long. Without it, pcmcapture only retries its open, and is stopped after this.
const double kNodeWaitS = 10;
const double kNoNodeLimitS = 2;

// True once the audio node is there, waiting up to kNodeWaitS for it.
bool audio_node_appears(const Context& ctx) {
    double start = now_s(), left = kNodeWaitS;
    while (access(QVAUDIO_NODE, F_OK) != 0) {
        if (left <= 0) return false;
        show_progress(ctx, "audio.capture", "waiting for " QVAUDIO_NODE " to appear", left);
        usleep(100000);
        left = kNodeWaitS - (now_s() - start);
    }
    return true;
}

judge::Content board_content(const Context& ctx) {
    if (ctx.sim.empty()) return judge::Content::Unknown;
    return boardfiles::setting_text(ctx.settings, "audio.content", bringup::board_default::audio_content) == "counter" ? judge::Content::Counter
                                                                                       : judge::Content::Tone;
}

double silent_seconds(const judge::CaptureReport& r, const judge::CaptureOptions& o) {
    double silent = 0;
    for (const judge::Stretch& s : r.silence) silent += double(s.bytes) / double(o.rate);
    return silent;
}

void set_figures(Check& c, const ProgramRun& ran, const judge::CaptureOptions& o, const judge::CaptureReport& r,
                 long long overruns) {
    Json& f = c.figures;
    f["exit"] = describe_end(ran.res, ran.plan);
    f["rate"] = double(o.rate);
    f["content"] = o.content == judge::Content::Counter ? "counter" : o.content == judge::Content::Tone ? "tone" : "unknown";
    if (o.content == judge::Content::Tone) f["tone_hz"] = double(o.tone_hz);
    f["ring_size"] = double(r.log.ring_size);
    f["bytes"] = double(r.bytes);
    f["blocks"] = double(r.log.block_lengths.size());
    f["blocks_9600"] = double(r.halves);
    f["blocks_19200"] = double(r.wholes);
    f["audio_seconds"] = double(llround(r.audio_seconds * 1000)) / 1000;
    f["data_rate"] = double(llround(r.data_rate));
    f["silent_stretches"] = double(r.silence.size());
    f["silent_seconds"] = double(llround(silent_seconds(r, o) * 1000)) / 1000;
    f["stuck_stretches"] = double(r.stuck.size());
    if (r.content_checked) {
        f["blocks_intact"] = double(r.intact);
        f["gaps"] = double(r.gaps);
    }
    if (o.resyncs >= 0) f["resyncs"] = double(o.resyncs);
    if (ran.traced) f["overruns"] = double(overruns);
    Json problems = Json::array();
    for (const std::string& p : r.problems) problems.push_back(p);
    f["problems"] = problems;
}

void judge_capture(const Context& ctx, Check& c, const ProgramRun& ran, const judge::CaptureOptions& o,
                   const judge::CaptureReport& r, long long overruns, double limit) {
    if (!ran.res.started) {
        verdict(c, Verdict::Fail, ran.res.error);
    } else if (ran.res.killed) {
        // pcmcapture waits for its device to appear; on a real board, say whether it ever did.
        std::string why = ctx.sim.empty() && access(QVAUDIO_NODE, F_OK) != 0
                              ? ": there is no " QVAUDIO_NODE + fmt(" (waited %.0f s for it)", kNodeWaitS)
                              : " (the audio device never opened?)";
        verdict(c, Verdict::Fail, "pcmcapture did not end within " + fmt("%.0f", limit) + " s" + why +
                                      (r.log.count(judge::LogKind::OpenFailed)
                                           ? std::string(": \"") + pcmlog::kMsgOpenFailed + "\" in its log"
                                           : ""));
    } else if (ran.res.exit_code != 0) {
        verdict(c, Verdict::Fail, "pcmcapture ended with " + describe_end(ran.res, ran.plan) + ", not exit status 0");
    } else if (!ran.err_text.empty()) {
        verdict(c, Verdict::Fail, "pcmcapture wrote to standard error: " + split_lines(ran.err_text)[0]);
    } else if (!r.ok()) {
        // Re-syncs beyond the first tell of a reader that kept failing (a silent position query);
        // overruns, of a reader that was held up.
        std::string why = first_of(r.problems);
        if (o.resyncs > 1) why += "; the reader re-synced " + std::to_string(o.resyncs - 1) + " times";
        if (r.log.ring_size > 0 && r.log.ring_size < judge::kFrameBytes)
            why += "; the driver's ring of " + std::to_string(r.log.ring_size) + " bytes is smaller than one frame (" +
                   std::to_string(judge::kFrameBytes) + " bytes)";
        else if (overruns > 0)
            why += "; the driver's ring overran " + std::to_string(overruns) +
                   " times (the capture thread was held up for longer than the ring lasts)";
        verdict(c, Verdict::Fail, why);
    } else {
        std::string s = fmt("%.2f s of audio", r.audio_seconds) + " at " + std::to_string(o.rate) + " bytes/s in " +
                        std::to_string(r.log.block_lengths.size()) + " blocks";
        if (r.content_checked)
            s += ", every one an intact slice of the " + std::string(o.content == judge::Content::Counter ? "counter" : "tone") +
                 " stream; " + std::to_string(r.gaps) + " gaps";
        if (!r.silence.empty()) s += fmt("; %.2f s of silence", silent_seconds(r, o));
        verdict(c, Verdict::Pass, s);
    }
}

}  // namespace

void check_audio(Context& ctx) {
    Check c = new_check("audio.capture", "audio", "pcmcapture");
    std::string dir = ctx.out + "/audio";
    // pcmcapture writes output.pcm where it runs: an earlier run's file is not judged as this
    // one's, and a link in its place is not written through.
    if (make_folder(dir).empty()) unlink((dir + "/output.pcm").c_str());
    ProgramToRun capture;
    capture.program = "pcmcapture";
    capture.sub = "audio";
    capture.cwd = dir;
    double limit = !ctx.sim.empty() || audio_node_appears(ctx) ? kCaptureLimitS : kNoNodeLimitS;
    capture.limit = limit;
    capture.waiting = "capturing ten seconds of the audio driver's output";
    ProgramRun ran = run_program(ctx, c, capture);
    judge::CaptureOptions o;
    o.content = board_content(ctx);
    // The board's settings read as the simulated board reads them.
    o.rate = ctx.sim.empty() ? ctx.audio_rate : boardfiles::setting_number(ctx.settings, "audio.rate");
    o.tone_hz = boardfiles::setting_tone_hz(ctx.settings);
    long long overruns = 0;
    if (ran.traced) {
        o.resyncs = judge::count_resyncs(ran.trace);
        overruns = judge::count_overruns(ran.trace);
    }
    std::string pcm;
    bool have_pcm = read_file(dir + "/output.pcm", &pcm);
    if (have_pcm) c.evidence.push_back("audio/output.pcm");
    judge::CaptureReport r = judge::analyse_capture(ran.out_text, pcm, o);
    set_figures(c, ran, o, r, overruns);
    judge_capture(ctx, c, ran, o, r, overruns, limit);
    judge_trace_read(c, ran);
    record(ctx, c);
}
