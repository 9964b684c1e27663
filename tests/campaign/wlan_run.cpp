// wlanpower runs: random argument vectors and driver answers. The request sent follows the
// argument read as a decimal number kept to its low 32 bits (1: power up, else down); a refused
// request is followed by the second request of its direction; messages and exit statuses as the
// rules say.
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bringup/wifi_power.h"
#include "campaign.h"
#include "wlanpower/messages.h"

namespace campaign {

namespace {

const char kNode[] = WIFI_POWER_NODE;

// The up and down requests, then their second tries, in the order the rules use them.
const unsigned long kRequests[] = {0, WIFI_POWER_UP, WIFI_POWER_DOWN, WIFI_POWER_UP_RETRY, WIFI_POWER_DOWN_RETRY};

std::string random_argument(Rng& rng) {
    static const std::vector<std::string> pool = {
        "1", "0", "+1", "01", "1abc", " 1", "\t1", "-1", "2", "", "0x1", "off", "on",
        "4294967297", "4294967296", "-4294967295", "99999999999999999999", "1 ", "+", "-", "00001"};
    if (rng.chance(0.7)) return rng.pick(pool);
    std::string a;
    const int n = int(rng.between(0, 12));
    for (int i = 0; i < n; ++i) a += char(rng.pick(std::vector<int>{'0', '1', '9', ' ', '-', '+', 'x', 'a', '\t', '7'}));
    return a;
}

}  // namespace

Outcome run_wlanpower(Rng& rng, const RunDirs& dirs, double) {
    Outcome outcome;
    std::vector<std::string> args;
    const int argc = int(rng.pick(std::vector<int>{1, 1, 1, 1, 1, 0, 2, 3}));
    for (int i = 0; i < argc; ++i) args.push_back(random_argument(rng));
    std::vector<std::string> settings;
    std::string refuse;
    bool refused[5] = {false, false, false, false, false};
    for (int request = 1; request <= 4; ++request)
        if (rng.chance(0.35)) {
            refuse += (refuse.empty() ? "" : ",") + std::to_string(request);
            refused[request] = true;
            outcome.faults++;
        }
    if (!refuse.empty()) settings.push_back("wifi.refuse=" + refuse);
    const bool present = rng.chance(0.9);
    if (!present) {
        settings.push_back("wifi.present=0");
        outcome.faults++;
    }
    outcome.schedule = "wlanpower";
    for (const std::string& a : args) outcome.schedule += " '" + a + "'";
    outcome.schedule += " on";
    for (const std::string& s : settings) outcome.schedule += " " + s;

    std::string error;
    if (!make_board(dirs.board, settings, &error)) {
        outcome.fail(error);
        return outcome;
    }
    Process p = start_on_board(dirs, "wlanpower", args);
    int status = 0;
    if (p.child.pid < 0 || !wait_for(p, 30, &status)) {
        outcome.fail("wlanpower did not end within 30 s");
        return outcome;
    }

    // What the rules call for.
    std::string out;
    int code = 0;
    std::vector<std::string> requests;  // "request result"
    if (args.size() != 1) {
        out = std::string(wifimsg::kUsage) + "\n";
        code = 255;
    } else if (!present) {
        out = std::string(wifimsg::kOpenFailed) + "\n";
    } else {
        const bool up = int32_t(uint32_t(strtol(args[0].c_str(), nullptr, 10))) == 1;
        const int first = up ? 1 : 2;
        requests.push_back(testutil::request_text(kRequests[first]) + (refused[first] ? " -1" : " 0"));
        if (refused[first]) {
            requests.push_back(testutil::request_text(kRequests[first + 2]) + (refused[first + 2] ? " -1" : " 0"));
            if (refused[first + 2]) out = std::string(up ? wifimsg::kPowerUpFailed : wifimsg::kPowerDownFailed) + "\n";
        }
    }
    check_clean_end(testutil::read_file(p.err_path), status, &outcome, true, code);
    const std::string got = testutil::read_file(p.out_path);
    if (got != out) outcome.fail("output \"" + got + "\", expected \"" + out + "\"");

    std::vector<std::string> sent;
    int opens = 0;
    for (const testutil::TraceLine& t : trace_of(dirs.board)) {
        if (t.path != kNode) continue;
        if (t.op == "open") ++opens;
        if (t.op == "ioctl") sent.push_back(t.detail + " " + std::to_string(t.result));
    }
    if (opens != (args.size() == 1 ? 1 : 0)) outcome.fail(std::to_string(opens) + " opens of the node");
    if (sent != requests) {
        std::string s;
        for (const std::string& r : sent) s += "[" + r + "]";
        std::string w;
        for (const std::string& r : requests) w += "[" + r + "]";
        outcome.fail("requests " + s + ", expected " + w);
    }
    return outcome;
}

}  // namespace campaign
