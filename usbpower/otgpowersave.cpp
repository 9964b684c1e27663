// otgpowersave: keeps USB port 0 powered down while neither port is in use, powering it up for a
// moment in every cycle to look again. Port 1 is only queried, never switched.
//
// Usage: otgpowersave
#include <stdio.h>
#include <unistd.h>

#include "messages.h"
#include "otg_core.h"

static const unsigned int OTG_SETTLE_US = 500000;  // after a power-on, before the query
static const unsigned int OTG_CYCLE_S = 1;         // after each cycle

static int port0_present;
static int port1_present;
static int port0_powered;

int main(void) {
    // Messages must reach a log file or pipe as they happen: the daemon only ends when killed.
    setvbuf(stdout, NULL, _IOLBF, 0);

    if (read_otg_version() == -1) {
        puts(usbmsg::kUnsupported);
        return -1;
    }
    port0_present = otg_port_present(0) == 0;
    port1_present = otg_port_present(1) == 0;
    if (!port0_present && !port1_present) {
        otg_port_power(0, OTG_POWER_OFF);
        return 0;
    }
    port0_powered = port1_present;

    for (;;) {
        if (!port0_powered) {
            otg_port_power(0, OTG_POWER_ON);
            usleep(OTG_SETTLE_US);
        }
        int in_use = port0_present ? otg_port_power(0, OTG_POWER_QUERY) : 0;
        if (port1_present) in_use |= otg_port_power(1, OTG_POWER_QUERY);
        port0_powered = 1;
        if (in_use == 0) {
            otg_port_power(0, OTG_POWER_OFF);
            port0_powered = 0;
        }
        sleep(OTG_CYCLE_S);
    }
}
