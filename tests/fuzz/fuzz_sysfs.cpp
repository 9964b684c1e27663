// Fuzz entry for the USB power core's reading of sysfs texts: the controller version, gotgctl and
// busconnected of each port come from the input and go through the core's own file reading and
// parsing (the core is compiled with its opens renamed to the stand-ins below).
//
// Input: byte 0 says which files are missing (bit 0 version, bits 1-2 gotgctl of port 0/1, bits
// 3-4 busconnected of port 0/1, bit 5 port 1's directory, bit 6 every attribute opened for
// writing); bytes 1 to 4 are the lengths of the version text and of the texts of port 0's gotgctl,
// port 0's busconnected and port 1's gotgctl; the texts follow in that order, and whatever is left
// is port 1's busconnected.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "bringup/otg.h"
#include "otg_core.h"
#include "usbpower/messages.h"

namespace {

enum Text { kVersion, kGotgctl0, kBusconnected0, kGotgctl1, kBusconnected1, kTextCount };

std::string g_text[kTextCount];
unsigned g_missing = 0;
int g_writes = 0;
int g_messages = 0;

const char* const kPaths[kTextCount] = {
    OTG_VERSION_PATH,
    OTG_GOTGCTL_PATH,
    OTG_BUSCONNECTED_PATH,
    OTG_PORT1_DIR "/" OTG_ATTR_GOTGCTL,
    OTG_PORT1_DIR "/" OTG_ATTR_BUSCONNECTED,
};

const char* const kMessages[] = {
    usbmsg::kGotgctlReadFailed, usbmsg::kGotgctlBad,  usbmsg::kBusconnectedReadFailed,
    usbmsg::kBusconnectedBad,   usbmsg::kHasDevices,
};

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "fuzz_sysfs: %s\n", what);
    abort();
}

}  // namespace

extern "C" FILE* fuzz_fopen(const char* path, const char* mode) {
    if (strncmp(path, "/sys/", 5) != 0) fail("the core opened a path outside /sys");
    if (mode[0] == 'w') {
        if (g_missing & 0x40) return nullptr;
        ++g_writes;
        return fopen("/dev/null", "w");
    }
    if (strcmp(mode, "r") != 0) fail("unexpected open mode");
    for (int i = 0; i < kTextCount; ++i) {
        if (strcmp(path, kPaths[i]) != 0) continue;
        if (g_missing & (1u << i)) return nullptr;
        // An empty attribute reads as end of file at once.
        if (g_text[i].empty()) return fopen("/dev/null", "r");
        return fmemopen(&g_text[i][0], g_text[i].size(), "r");
    }
    fail("the core read an attribute that is not a status text");
}

extern "C" int fuzz_euidaccess(const char* path, int) {
    if (strcmp(path, OTG_PORT0_DIR) == 0) return 0;
    if (strcmp(path, OTG_PORT1_DIR) == 0) return (g_missing & 0x20) ? -1 : 0;
    fail("presence test on an unexpected path");
}

extern "C" int fuzz_puts(const char* text) {
    for (const char* m : kMessages)
        if (strcmp(text, m) == 0) {
            ++g_messages;
            return 0;
        }
    fail("a message outside the core's fixed texts");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    g_missing = data[0];
    size_t pos = 5;
    for (int i = 0; i < kTextCount; ++i) {
        size_t len = i + 1 < kTextCount ? data[1 + i] : size - pos;
        if (len > size - pos) len = size - pos;
        g_text[i].assign(reinterpret_cast<const char*>(data + pos), len);
        pos += len;
    }

    if (read_otg_version() != 0) {
        if (otg_version_index != -1 && otg_version_index != 1) fail("refused a supported version");
        return 0;
    }
    if (otg_version_index < 0 || otg_version_index >= OTG_VERSION_COUNT || otg_version_index == 1)
        fail("accepted version index out of the table");
    for (int port = 0; port < 2; ++port) {
        if (otg_port_present(port) != 0) continue;
        const int status = otg_port_status(port);
        if (status != 0 && status != 1) fail("status neither 0 nor 1");
        if (otg_port_power(port, OTG_POWER_QUERY) != status) fail("query differs from status");
        const int on = otg_port_power(port, OTG_POWER_ON);
        if (on < -2 || on > 0) fail("power-on result out of range");
        // A port in use is never switched off: the refusal comes before any write.
        const int writes = g_writes;
        const int off = otg_port_power(port, OTG_POWER_OFF);
        if (status == 1 && (off != 1 || g_writes != writes)) fail("powered off a port in use");
        if (status == 0 && (off < -2 || off > 0)) fail("power-off result out of range");
    }
    return 0;
}
