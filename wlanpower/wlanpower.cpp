// wlanpower: switches the Wi-Fi module on (argument 1) or off (any other number).
//
// Usage: wlanpower <state>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "bringup/wifi_power.h"
#include "messages.h"

static const char WIFI_POWER_DEVICE[] = WIFI_POWER_NODE;

int main(int argc, char** argv) {
    if (argc != 2) {
        puts(wifimsg::kUsage);
        return -1;
    }
    // Base 10 like strtol, kept to its low 32 bits.
    int32_t state = (int32_t)(uint32_t)strtol(argv[1], NULL, 10);

    int fd = open(WIFI_POWER_DEVICE, O_RDWR);
    if (fd == -1) {
        puts(wifimsg::kOpenFailed);
        return 0;
    }
    if (state == 1) {
        if (ioctl(fd, WIFI_POWER_UP) < 0 && ioctl(fd, WIFI_POWER_UP_RETRY) < 0) {
            puts(wifimsg::kPowerUpFailed);
            return 0;
        }
    } else {
        if (ioctl(fd, WIFI_POWER_DOWN) < 0 && ioctl(fd, WIFI_POWER_DOWN_RETRY) < 0) {
            puts(wifimsg::kPowerDownFailed);
            return 0;
        }
    }
    close(fd);
    return 0;
}
