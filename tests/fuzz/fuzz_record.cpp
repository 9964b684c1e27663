// Fuzz entry for the recorder's reading of a port's status texts: any two texts give settings that
// board.conf keeps intact and that make the simulated board show exactly those texts.
#include <stdio.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bringup/otg.h"
#include "record.h"
#include "usb_model.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "recorded status: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte splits the rest into the gotgctl and the busconnected text.
    if (size == 0) return 0;
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t cut = rest.empty() ? 0 : data[0] % (rest.size() + 1);
    const std::string gotgctl = rest.substr(0, cut), busconnected = rest.substr(cut);
    std::string role, busvalid;
    bool attached_set = false, gotgctl_fixed = false;
    for (const boardsim::Setting& s : boardsim::status_settings(1, &gotgctl, &busconnected)) {
        check(s.key.rfind("usb.port1.", 0) == 0, "key of another port");
        for (char c : s.value) check(c >= 0x20 && c < 0x7f && c != '#', "value board.conf would not keep");
        std::string name = s.key.substr(10);
        if (name == "gotgctl" || name == "busconnected") {
            check(s.value.size() >= 2 && s.value.front() == '"' && s.value.back() == '"', "text not quoted");
            std::string text = boardsim::usb_unescape(s.value.substr(1, s.value.size() - 2));
            check(text == (name == "gotgctl" ? gotgctl : busconnected), "text not kept");
            gotgctl_fixed = gotgctl_fixed || name == "gotgctl";
        } else if (name == "role") {
            role = s.value;
        } else if (name == "busvalid") {
            busvalid = s.value;
        } else if (name == "attached") {
            attached_set = true;
            check(busconnected == (s.value == "1" ? OTG_BUSCONNECTED_PREFIX "1\n" : OTG_BUSCONNECTED_PREFIX "0\n"),
                  "attached from another text");
        } else {
            check(false, "unknown setting");
        }
    }
    check(gotgctl_fixed != !busvalid.empty(), "gotgctl neither kept nor modelled");
    if (!busvalid.empty()) {
        // What the USB model prints for these settings.
        unsigned int word = role == "peripheral" ? OTG_GOTGCTL_PERIPHERAL : 0;
        if (busvalid.find('a') != std::string::npos) word |= OTG_GOTGCTL_A_VALID;
        if (busvalid.find('b') != std::string::npos) word |= OTG_GOTGCTL_B_VALID;
        char model[40];
        snprintf(model, sizeof model, OTG_GOTGCTL_PREFIX "%08x\n", word);
        check(gotgctl == model, "modelled text differs");
    }
    (void)attached_set;
    return 0;
}
