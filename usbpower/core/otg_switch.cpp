// Writing side of the USB power core: powers a port on or off through the PHY attributes of the
// running controller version.
//
// Values are written as bare texts through buffered streams, so each takes effect when its file
// is closed: the close order is the order in which the attributes change. Every required file of
// a step is opened before any value is written, so a missing attribute changes nothing.
#include <stdio.h>
#include <string.h>

#include "bringup/otg.h"
#include "../messages.h"
#include "otg_core.h"

// Values by action code (OTG_POWER_ON, OTG_POWER_OFF).
static const char otg_switch_words[2][8] = {OTG_POR_ON, OTG_POR_OFF};
static const char otg_switch_digits[2][2] = {OTG_PHY_POWERED, OTG_PHY_UNPOWERED};
// Port-select letters by port number.
static const char otg_port_letters[2][2] = {OTG_PORT0_LETTER, OTG_PORT1_LETTER};

// Path rows by version index. Row 0 ("2.60a") is used as it is; the other rows get the port
// digit at index 15 before each use.
#ifndef OTG_PROFILE_IDDQ
#define OTG_PHY_POWER_PATH OTG_SLEEPM_PATH
#else
#define OTG_PHY_POWER_PATH OTG_IDDQ_PATH
#endif
static char otg_phy_power_paths[OTG_VERSION_COUNT][64] = {
    OTG_PHY_POR_PATH,
    OTG_PHY_POWER_PATH,
    OTG_PHY_POWER_PATH,
#ifndef OTG_PROFILE_IDDQ
    OTG_PHY_POWER_PATH,
#endif
};
static char otg_disable_paths[OTG_VERSION_COUNT][64] = {
    OTG_PHY_OTG_DISABLE_PATH,
    OTG_OTG_DISABLE_PATH,
    OTG_OTG_DISABLE_PATH,
#ifndef OTG_PROFILE_IDDQ
    OTG_OTG_DISABLE_PATH,
#endif
};


#ifndef OTG_PROFILE_IDDQ
static char otg_module_name[8] = "usb0";

// Tells the module power class which module goes on or off; skipped when the class is absent.
static void otg_module_switch(const char* path) {
    FILE* f = fopen(path, "w");
    if (!f) return;
    fputs(otg_module_name, f);
    fclose(f);
}
#endif

static const unsigned int GOTGCTL_PERIPHERAL = OTG_GOTGCTL_PERIPHERAL;

// The "2.60a" method: the PHY-control device serves both ports through its port-select attribute.
static int otg_switch_phy_control(int port, int action, unsigned int gotgctl) {
    FILE* index = fopen(OTG_PHY_INDEX_PATH, "w");
    if (!index) return -1;
    fputs(otg_port_letters[port], index);
    fclose(index);

    const char* word = otg_switch_words[action];
    if (!(gotgctl & GOTGCTL_PERIPHERAL)) {
        FILE* por = fopen(otg_phy_power_paths[0], "w");
        if (!por) return -2;
        fputs(word, por);
        fclose(por);
        return 0;
    }

    char pullup_path[32];
    strcpy(pullup_path, OTG_PULLUP_PATH);
    otg_patch_port(pullup_path, port);
    FILE* files[3] = {NULL, NULL, NULL};
    files[0] = fopen(otg_phy_power_paths[0], "w");
    if (files[0]) files[1] = fopen(pullup_path, "w");
    if (files[1]) files[2] = fopen(otg_disable_paths[0], "w");
    if (!files[2]) {
        for (int i = 0; i < 3; i++)
            if (files[i]) fclose(files[i]);
        return -2;
    }
    for (int i = 0; i < 3; i++) fputs(word, files[i]);
    for (int i = 0; i < 3; i++) fclose(files[i]);
    return 0;
}

// The per-port method: the PHY power and OTG-disable attributes under the port's lm device.
static int otg_switch_per_port(int port, int action, unsigned int gotgctl) {
    char* phy_path = otg_phy_power_paths[otg_version_index];
    char* disable_path = otg_disable_paths[otg_version_index];
    otg_patch_port(phy_path, port);
    otg_patch_port(disable_path, port);
#ifndef OTG_PROFILE_IDDQ
    otg_module_name[3] = (char)('0' + port);
#endif
    const char* digit = otg_switch_digits[action];

    FILE* phy = fopen(phy_path, "w");
    if (!phy) return -2;
    if (!(gotgctl & GOTGCTL_PERIPHERAL)) {
#ifndef OTG_PROFILE_IDDQ
        if (action == OTG_POWER_ON) {
            otg_module_switch(OTG_MODULE_ON_PATH);
            fputs(digit, phy);
        } else {
            fputs(digit, phy);
            otg_module_switch(OTG_MODULE_OFF_PATH);
        }
#else
        fputs(digit, phy);
#endif
        fclose(phy);
        return 0;
    }

    FILE* disable = fopen(disable_path, "w");
    if (!disable) {
        fclose(phy);
        return -2;
    }
#ifndef OTG_PROFILE_IDDQ
    if (action == OTG_POWER_ON) otg_module_switch(OTG_MODULE_ON_PATH);
#endif
    fputs(digit, phy);
    fputs(digit, disable);
#ifndef OTG_PROFILE_IDDQ
    if (action == OTG_POWER_OFF) otg_module_switch(OTG_MODULE_OFF_PATH);
#endif
    fclose(phy);
    fclose(disable);
    return 0;
}

int otg_port_power(int port, int action) {
    if ((unsigned int)action > OTG_POWER_OFF) return action == OTG_POWER_QUERY ? otg_port_status(port) : 0;

    if (action == OTG_POWER_OFF && otg_port_status(port) == 1) {
        puts(usbmsg::kHasDevices);
        return 1;
    }
    unsigned int gotgctl = 0;
    if (otg_read_gotgctl(port, &gotgctl) != 0) return -1;
    if (otg_version_index == 0) return otg_switch_phy_control(port, action, gotgctl);
    return otg_switch_per_port(port, action, gotgctl);
}
