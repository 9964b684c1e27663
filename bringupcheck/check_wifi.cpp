// The Wi-Fi checks: wlanpower switches the module on, then off (with --switch), and must say
// nothing while the driver takes each request.
#include "bringupcheck/runprogram.h"
#include "bringupcheck/text.h"
#include "wlanpower/messages.h"

namespace {

// What wlanpower prints only when something went wrong.
const char* const kWifiMessages[] = {wifimsg::kUsage, wifimsg::kOpenFailed, wifimsg::kPowerUpFailed,
                                     wifimsg::kPowerDownFailed};

}  // namespace

void check_wifi(Context& ctx) {
    struct Step {
        const char* name;
        const char* arg;
        const char* what;
    };
    const Step steps[] = {{"wifi.on", "1", "switching the Wi-Fi module on"},
                          {"wifi.off", "0", "switching the Wi-Fi module off"}};
    for (const Step& step : steps) {
        Check c = new_check(step.name, "wifi", "wlanpower");
        if (retrying_another(ctx, c.name)) continue;
        if (!ctx.do_switch) {
            verdict(c, Verdict::Skip, "wlanpower switches the radio: run with --switch to check it");
            record(ctx, c);
            continue;
        }
        ProgramToRun power;
        power.program = "wlanpower";
        power.args = {step.arg};
        power.sub = "wifi";
        power.base = std::string("wlanpower-") + step.arg;
        power.limit = 20;
        power.waiting = step.what;
        ProgramRun ran = run_program(ctx, c, power);
        std::vector<std::string> lines = split_lines(ran.out_text);
        c.figures["exit"] = describe_end(ran.res, ran.plan);
        Json printed = Json::array();
        for (const std::string& l : lines) printed.push_back(l);
        c.figures["printed"] = printed;
        // With a trace, "the driver took the request" is what the trace shows, not what is assumed
        // from a quiet exit: a program that never reached the driver must not pass.
        size_t accepted = 0;
        if (ran.traced) {
            Json req = Json::array();
            for (const judge::TraceRecord& r : ran.trace.records)
                if (r.op == "ioctl") {
                    req.push_back(r.detail + (r.result == 0 ? " accepted" : " refused"));
                    accepted += r.result == 0;
                }
            c.figures["requests"] = req;
        }
        if (!ran.res.started) verdict(c, Verdict::Fail, ran.res.error);
        else if (ran.res.exit_code != 0) verdict(c, Verdict::Fail, "wlanpower ended with " + describe_end(ran.res, ran.plan));
        else if (!lines.empty()) {
            bool known = false;
            for (const char* m : kWifiMessages) known = known || lines[0] == m;
            verdict(c, Verdict::Fail, std::string(known ? "wlanpower printed \"" : "unexpected message \"") + lines[0] + "\"");
        } else if (!ran.err_text.empty())
            verdict(c, Verdict::Fail, "wlanpower wrote to standard error: " + first_line(ran.err_text));
        else if (ran.traced && accepted == 0)
            verdict(c, Verdict::Fail, "wlanpower ended quietly, but the board's trace shows no request the driver took");
        else
            verdict(c, Verdict::Pass, std::string("wlanpower ") + step.arg + ": the driver took the request, exit status 0");
        judge_trace_read(c, ran);
        record(ctx, c);
    }
}
