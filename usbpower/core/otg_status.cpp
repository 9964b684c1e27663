// Reading side of the USB power core: the controller version, port presence and port status.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "bringup/otg.h"
#include "../messages.h"
#include "otg_core.h"

// Version texts, five characters each; the table length is fixed by the profile.
const char otg_versions[OTG_VERSION_COUNT][6] = {
    OTG_VERSION_PHY_CONTROL,  // PHY-control device method
    OTG_VERSION_RECOGNISED,   // recognised, not supported
    OTG_VERSION_PER_PORT,     // per-port method
#ifndef OTG_PROFILE_IDDQ
    OTG_VERSION_PER_PORT_2,   // per-port method
#endif
};
enum { OTG_VERSION_UNSUPPORTED = 1 };

static const char GOTGCTL_PREFIX[] = OTG_GOTGCTL_PREFIX;
static const char BUSCONNECTED_PREFIX[] = OTG_BUSCONNECTED_PREFIX;

static const unsigned int GOTGCTL_PERIPHERAL = OTG_GOTGCTL_PERIPHERAL;                // connector ID: B-device
static const unsigned int GOTGCTL_BUS_VALID = OTG_GOTGCTL_A_VALID | OTG_GOTGCTL_B_VALID;  // A and B session valid

enum { OTG_PATH_SIZE = 32, OTG_LINE_SIZE = 32 };

int otg_version_index = -1;
static char otg_version_text[6];

int read_otg_version(void) {
    otg_version_index = -1;
    FILE* f = fopen(OTG_VERSION_PATH, "r");
    if (f) {
        if (fread(otg_version_text, 1, sizeof otg_version_text, f) > 0) {
            for (int i = 0; i < OTG_VERSION_COUNT; i++) {
                if (strncmp(otg_version_text, otg_versions[i], 5) == 0) {
                    otg_version_index = i;
                    break;
                }
            }
        }
        fclose(f);
    }
    if (otg_version_index == -1 || otg_version_index == OTG_VERSION_UNSUPPORTED) return -1;
    return 0;
}

int otg_port_present(int port) {
    const char* dir = port == 0 ? OTG_PORT0_DIR : OTG_PORT1_DIR;
    return euidaccess(dir, R_OK) == 0 ? 0 : -1;
}

void otg_patch_port(char* path, int port) { path[OTG_PORT_DIGIT_INDEX] = (char)('0' + port); }

int otg_parse_line(const char* line, const char* prefix, int prefix_len, unsigned int* value) {
    if (strncmp(line, prefix, (size_t)prefix_len) != 0) return -1;
    // The prefix alone, or the prefix followed by no hexadecimal number, is as bad as no prefix.
    return sscanf(line + prefix_len, "%x", value) == 1 ? 0 : -1;
}

// Reads the first line of a port's attribute and parses the number after its prefix.
// 0 with the value; -1 when the file cannot be opened (quietly); -2 after a printed message.
static int read_port_word(const char* port0_path, int port, const char* prefix,
                          const char* read_message, const char* text_message,
                          unsigned int* value) {
    char path[OTG_PATH_SIZE];
    char line[OTG_LINE_SIZE];
    strcpy(path, port0_path);
    otg_patch_port(path, port);
    FILE* f = fopen(path, "r");
    if (!f) return -1;
    int result = 0;
    if (!fgets(line, sizeof line, f)) {
        puts(read_message);
        result = -2;
    } else if (otg_parse_line(line, prefix, (int)strlen(prefix), value) != 0) {
        puts(text_message);
        result = -2;
    }
    fclose(f);
    return result;
}

int otg_read_gotgctl(int port, unsigned int* gotgctl) {
    return read_port_word(OTG_GOTGCTL_PATH, port, GOTGCTL_PREFIX, usbmsg::kGotgctlReadFailed,
                          usbmsg::kGotgctlBad, gotgctl);
}

// The daemons' own reading of the in-use rule. The judge keeps a copy apart on purpose
// (judge/usbpolicy.cpp, port_in_use): it is the independent oracle this one is tested against.
int otg_status_decide(int port, unsigned int gotgctl, unsigned int busconnected) {
    int bus_valid = (gotgctl & GOTGCTL_BUS_VALID) == GOTGCTL_BUS_VALID;
    if (gotgctl & GOTGCTL_PERIPHERAL) return bus_valid ? 1 : 0;
#ifndef OTG_PROFILE_IDDQ
    // Port 0 in the host role counts as in use until both bus-valid indications are up.
    if (port == 0 && !bus_valid) return 1;
#else
    (void)port;
#endif
    return busconnected == 1 ? 1 : 0;
}

int otg_port_status(int port) {
    unsigned int gotgctl = 0;
    unsigned int busconnected = 0;
    if (otg_read_gotgctl(port, &gotgctl) != 0) return 0;
    if (read_port_word(OTG_BUSCONNECTED_PATH, port, BUSCONNECTED_PREFIX,
                       usbmsg::kBusconnectedReadFailed, usbmsg::kBusconnectedBad,
                       &busconnected) != 0)
        return 0;
    return otg_status_decide(port, gotgctl, busconnected);
}
