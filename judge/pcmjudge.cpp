// pcmjudge: says what a capture of pcmcapture holds, through the judge library.
//
//   pcmjudge OUTPUT_PCM --log STDOUT [--content tone|counter|unknown] [--rate BYTES_PER_S]
//            [--tone-hz HZ] [--trace TRACE]
//
// Prints the blocks, bytes and seconds of audio, then the content check ("N of M blocks intact; G
// gaps between blocks") and every problem found. Exit status 0 when the capture is sound, 1 when
// not, 2 on a usage error.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>

#include "judge/capture.h"

namespace {

bool slurp(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *out = s.str();
    return true;
}

int usage() {
    fprintf(stderr, "usage: pcmjudge OUTPUT_PCM --log STDOUT [--content tone|counter|unknown] "
                    "[--rate BYTES_PER_S] [--tone-hz HZ] [--trace TRACE]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string pcm_path, log_path, trace_path;
    judge::CaptureOptions o;
    o.content = judge::Content::Tone;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--log" && has_value) log_path = argv[++i];
        else if (a == "--trace" && has_value) trace_path = argv[++i];
        else if (a == "--rate" && has_value) o.rate = atoll(argv[++i]);
        else if (a == "--tone-hz" && has_value) o.tone_hz = atof(argv[++i]);
        else if (a == "--content" && has_value) {
            std::string c = argv[++i];
            if (c == "tone") o.content = judge::Content::Tone;
            else if (c == "counter") o.content = judge::Content::Counter;
            else if (c == "unknown") o.content = judge::Content::Unknown;
            else return usage();
        } else if (a[0] != '-' && pcm_path.empty()) pcm_path = a;
        else return usage();
    }
    if (pcm_path.empty() || log_path.empty() || o.rate <= 0) return usage();
    std::string pcm, log;
    if (!slurp(pcm_path, &pcm) || !slurp(log_path, &log)) {
        fprintf(stderr, "pcmjudge: cannot read %s or %s\n", pcm_path.c_str(), log_path.c_str());
        return 2;
    }
    if (!trace_path.empty()) {
        judge::Trace trace;
        std::string error;
        if (!judge::read_trace(trace_path, &trace, &error)) {
            fprintf(stderr, "pcmjudge: %s\n", error.c_str());
            return 2;
        }
        o.resyncs = judge::count_resyncs(trace);
    }
    judge::CaptureReport r = judge::analyse_capture(log, pcm, o);
    printf("%s: %zu blocks (%zu of 9600 bytes, %zu of 19200), %lld bytes, %.3f s of audio at %lld bytes/s\n",
           pcm_path.c_str(), r.log.block_lengths.size(), r.halves, r.wholes, r.bytes, r.audio_seconds, o.rate);
    if (r.content_checked)
        printf("content: %zu of %zu blocks intact; %zu gaps between blocks\n", r.intact, r.blocks.size(), r.gaps);
    for (const std::string& p : r.problems) printf("problem: %s\n", p.c_str());
    return r.ok() ? 0 : 1;
}
