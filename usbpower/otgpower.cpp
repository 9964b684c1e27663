// otgpower and otgpoweriddq: keep the selected USB ports powered down while nothing is attached,
// powering each idle port up for a moment in every cycle to look again.
//
// Usage: otgpower [A|B|AB]   (anything else, or nothing, selects both ports)
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "messages.h"
#include "otg_core.h"

static const unsigned int OTG_SETTLE_US = 500000;  // after a power-on, before the query
static const unsigned int OTG_CYCLE_US = 500000;   // after each cycle

enum { OTG_PORTS = 2 };
static int port_managed[OTG_PORTS];
static int port_powered[OTG_PORTS];

int main(int argc, char** argv) {
    // Messages must reach a log file or pipe as they happen: the daemon only ends when killed.
    setvbuf(stdout, NULL, _IOLBF, 0);

    int selected[OTG_PORTS] = {1, 1};
    if (argc > 1) {
        if (strcmp(argv[1], "A") == 0) selected[1] = 0;
        else if (strcmp(argv[1], "B") == 0) selected[0] = 0;
    }

    if (read_otg_version() == -1) {
        puts(usbmsg::kUnsupported);
        return -1;
    }

    int managed_count = 0;
    for (int port = 0; port < OTG_PORTS; port++) {
        if (selected[port] && otg_port_present(port) == 0) {
            port_managed[port] = 1;
            managed_count++;
        } else {
            otg_port_power(port, OTG_POWER_OFF);
        }
    }
    if (managed_count == 0) return 0;
    for (int port = 0; port < OTG_PORTS; port++) port_powered[port] = port_managed[port];

    for (;;) {
        for (int port = 0; port < OTG_PORTS; port++) {
            if (!port_managed[port]) continue;
            if (!port_powered[port]) {
                otg_port_power(port, OTG_POWER_ON);
                usleep(OTG_SETTLE_US);
            }
            port_powered[port] = 1;
            if (otg_port_power(port, OTG_POWER_QUERY) != 1) {
                otg_port_power(port, OTG_POWER_OFF);
                port_powered[port] = 0;
            }
        }
        usleep(OTG_CYCLE_US);
    }
}
