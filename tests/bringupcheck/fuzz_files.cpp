// Fuzz entry for what bringup-check reads from outside: results.json (for --render, and the page
// drawn from it), configlist's report, a board trace, and pcmcapture's log with its capture.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "capture.h"
#include "eglreport.h"
#include "report.h"
#include "results.h"
#include "trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    Results r;
    std::string error;
    if (parse_results(text, &r, &error)) {
        // What parses must write out and parse again the same.
        Results again;
        if (!parse_results(results_json(r), &again, &error) || results_json(again) != results_json(r)) __builtin_trap();
        results_junit(r);
        // The page of results from elsewhere (--render), with no evidence files to read.
        render_report("/nonexistent", r);
    }
    parse_egl_report(text);
    judge::Trace t = judge::parse_trace(text);
    for (const judge::TraceRecord& rec : t.records) {
        std::string bytes;
        judge::record_bytes(rec, &bytes);
    }
    judge::CaptureOptions o;
    o.content = size % 3 == 0 ? judge::Content::Counter : size % 3 == 1 ? judge::Content::Tone : judge::Content::Unknown;
    judge::analyse_capture(text, text, o);
    return 0;
}
