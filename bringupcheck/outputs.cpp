#include "bringupcheck/outputs.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bringupcheck/compare.h"
#include "bringupcheck/outfiles.h"
#include "bringupcheck/report.h"

namespace {

const char kMsgCannotWrite[] = "bringup-check: cannot write %s: %s\n";
const char kResultsFile[] = "results.json";
const char kReportFile[] = "report.html";
// What a run writes of its results, in this order; each is made from the results in memory.
// The last, comparison.txt, only with a baseline.
const char* const kOutputFiles[] = {kResultsFile, "results.xml", "verdicts.txt", kReportFile, "comparison.txt"};

// Makes the default output folder afresh: when the name is taken (by a run started in the same
// second), "-2", "-3", ... is added until a new folder is made. "" or why none could be made.
std::string make_new_folder(const std::string& name, std::string* made) {
    for (int n = 1; n <= 1000; ++n) {
        *made = n == 1 ? name : name + "-" + std::to_string(n);
        if (mkdir(made->c_str(), 0755) == 0) return "";
        if (errno != EEXIST) return strerror(errno);
    }
    return "the name is taken up to -1000";
}

}  // namespace

int make_output_folder(Context& ctx, std::string out, const std::string& fresh) {
    // The output folder and its subfolders (one per subsystem, named after it) must be folders of
    // our own that no other user can write to, or nothing runs: a root run must never be led to
    // write through a link planted there. Links above the folder are followed.
    std::string unfit, refused;
    if (out.empty()) {
        unfit = make_new_folder(fresh, &out);
        ctx.out = absolute(out);
    } else {
        ctx.out = absolute(out);
        while (ctx.out.size() > 1 && ctx.out.back() == '/') ctx.out.pop_back();
        unfit = make_dirs(dirname_of(ctx.out)) ? "" : strerror(errno);
    }
    if (unfit.empty()) unfit = make_folder(ctx.out);
    refused = ctx.out;
    for (const SubsystemRow& sub : kSubsystems) {
        std::string path = ctx.out + "/" + sub.name;
        struct stat st;
        if (!unfit.empty() || lstat(path.c_str(), &st) != 0) continue;
        unfit = unfit_folder(path);
        if (!unfit.empty()) refused = path;
    }
    if (!unfit.empty()) {
        fprintf(stderr, "bringup-check: cannot write into %s: %s\n", terminal_text(refused).c_str(), unfit.c_str());
        return kNotCompleted;
    }
    // Nothing an earlier run left here is taken for this run's results.
    for (const char* name : kOutputFiles) unlink((ctx.out + "/" + name).c_str());
    return 0;
}

std::vector<std::pair<std::string, int>> write_outputs(const std::string& dir, const Results& r) {
    std::string json = results_json(r), error;
    Results back;
    const Results& shown = parse_results(json, &back, &error) ? back : r;
    const std::string texts[] = {json, results_junit(shown), verdict_lines(shown), render_report(dir, shown),
                                 comparison_counts(shown.comparison)};
    std::vector<std::pair<std::string, int>> failed;
    for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i) {
        if (i == 4 && !shown.comparison.is_object()) continue;
        std::string path = dir + "/" + kOutputFiles[i];
        if (!write_file(path, texts[i])) failed.push_back({path, errno});
    }
    return failed;
}

namespace {

// Writes the results into `dir`, then says what the comparison found and where the report is.
// False when a file could not be written (each is named).
bool write_and_say(const std::string& dir, const Results& r) {
    std::vector<std::pair<std::string, int>> failed = write_outputs(dir, r);
    bool page = true;
    for (const auto& f : failed) {
        fprintf(stderr, kMsgCannotWrite, terminal_text(f.first).c_str(), strerror(f.second));
        page = page && f.first != dir + "/" + kReportFile;
    }
    if (r.comparison.is_object())
        for (const std::string& line : comparison_lines(r.comparison)) printf("%s\n", terminal_text(line).c_str());
    if (page) printf("report: %s/%s\n", terminal_text(dir).c_str(), kReportFile);
    return failed.empty();
}

}  // namespace

int finish_outputs(const Context& ctx) {
    printf("summary: %s\n", counts_text(count_verdicts(ctx.results)).c_str());
    if (!write_and_say(ctx.out, ctx.results)) return kNotCompleted;
    if (comparison_fails(ctx.results.comparison)) return 1;
    for (const Check& c : ctx.results.checks)
        if (c.verdict == Verdict::Fail) return 1;
    return 0;
}

int compare_runs(const std::string& old_dir, const std::string& new_dir, const Tolerances& t, bool strict) {
    Results before, now;
    std::string error;
    if (!read_results_folder(absolute(old_dir), &before, &error) || !read_results_folder(absolute(new_dir), &now, &error)) {
        fprintf(stderr, "bringup-check: cannot compare: %s\n", terminal_text(error).c_str());
        return 1;
    }
    now.comparison = compare_results(before, now, absolute(old_dir), t, strict);
    if (!write_and_say(absolute(new_dir), now)) return kNotCompleted;
    return comparison_fails(now.comparison) ? 1 : 0;
}

int render(const std::string& dir) {
    std::string text, error;
    Results r;
    if (!read_file(dir + "/" + kResultsFile, &text)) {
        fprintf(stderr, "bringup-check: cannot read %s/results.json\n", terminal_text(dir).c_str());
        return 1;
    }
    if (!parse_results(text, &r, &error)) {
        fprintf(stderr, "bringup-check: %s/results.json: %s\n", terminal_text(dir).c_str(), terminal_text(error).c_str());
        return 1;
    }
    std::string page = dir + "/" + kReportFile;
    if (!write_file(page, render_report(absolute(dir), r))) {
        int e = errno;
        fprintf(stderr, kMsgCannotWrite, terminal_text(page).c_str(), strerror(e));
        return kNotCompleted;
    }
    printf("report: %s/%s\n", terminal_text(absolute(dir)).c_str(), kReportFile);
    return 0;
}
