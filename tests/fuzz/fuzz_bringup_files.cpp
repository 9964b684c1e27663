// Fuzz entry for what bringup-check reads from outside: results.json (for --render, and the page
// drawn from it with its evidence files), configlist's report, a board trace, and pcmcapture's log
// with its capture.
//
// For the page the input is cut at each "\n--\n": the first part is results.json, the next ones
// the evidence files it may name (kEvidence, in that order), written into a folder of their own.
// When the first part is not results, a run with one check for each evidence file is drawn.
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "judge/capture.h"
#include "bringupcheck/eglreport.h"
#include "bringupcheck/report.h"
#include "bringupcheck/results.h"
#include "judge/trace.h"

namespace {

const char* const kEvidence[] = {"audio/output.pcm", "usb/otgpower.trace", "egl/configlist.out", "gpu/lanterna.png"};
const char* const kEvidenceDirs[] = {"audio", "usb", "egl", "gpu"};
const char kSeparator[] = "\n--\n";

std::string folder;

void remove_folder() {
    for (const char* e : kEvidence) unlink((folder + "/" + e).c_str());
    for (const char* d : kEvidenceDirs) rmdir((folder + "/" + d).c_str());
    rmdir(folder.c_str());
}

const std::string& evidence_folder() {
    if (folder.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-bringup-XXXXXX";
        if (!mkdtemp(&pattern[0])) __builtin_trap();
        folder = pattern;
        for (const char* d : kEvidenceDirs) mkdir((folder + "/" + d).c_str(), 0755);
        atexit(remove_folder);
    }
    return folder;
}

void put(const std::string& path, const std::string& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) __builtin_trap();
    if (write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) __builtin_trap();
    close(fd);
}

Check evidence_check(const char* name, const char* subsystem, const char* program, const char* evidence) {
    Check c;
    c.name = name;
    c.subsystem = subsystem;
    c.program = program;
    c.verdict = Verdict::Pass;
    c.evidence = {evidence};
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    Results r;
    std::string error;
    if (parse_results(text, &r, &error)) {
        // What parses must write out and parse again the same.
        Results again;
        if (!parse_results(results_json(r), &again, &error) || results_json(again) != results_json(r)) __builtin_trap();
        results_junit(r);
    }

    // The page, with the evidence files beside the results.
    std::vector<std::string> parts;
    for (size_t from = 0;;) {
        size_t cut = parts.size() < 4 ? text.find(kSeparator, from) : std::string::npos;
        parts.push_back(text.substr(from, cut == std::string::npos ? std::string::npos : cut - from));
        if (cut == std::string::npos) break;
        from = cut + sizeof kSeparator - 1;
    }
    const std::string& dir = evidence_folder();
    for (size_t i = 0; i < 4; ++i) put(dir + "/" + kEvidence[i], i + 1 < parts.size() ? parts[i + 1] : "");
    Results page;
    if (!parse_results(parts[0], &page, &error)) {
        page = Results();
        Check audio = evidence_check("audio.capture", "audio", "pcmcapture", kEvidence[0]);
        // A rate that varies with the input, as small as the page draws, up to a real driver's.
        audio.figures["rate"] = 4 + parts[0].size() % 256 * 750;
        page.checks = {audio, evidence_check("usb.otgpower", "usb", "otgpower", kEvidence[1]),
                       evidence_check("egl.configs", "egl", "configlist", kEvidence[2]),
                       evidence_check("gpu.lanterna", "gpu", "lanterna", kEvidence[3])};
    }
    render_report(dir, page);

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
