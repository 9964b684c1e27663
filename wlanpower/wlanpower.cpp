// wlanpower: switches the Wi-Fi module on (argument 1) or off (any other number).
//
// Usage: wlanpower <state>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

static const char WIFI_POWER_DEVICE[] = "/dev/wifi_power";

// Requests of the Wi-Fi power driver; the second of a direction is tried when the first is refused.
static const unsigned long WIFI_POWER_UP = _IO('m', 1);
static const unsigned long WIFI_POWER_DOWN = _IO('m', 2);
static const unsigned long WIFI_POWER_UP_RETRY = _IO('m', 3);
static const unsigned long WIFI_POWER_DOWN_RETRY = _IO('m', 4);

int main(int argc, char** argv) {
    if (argc != 2) {
        puts("wrong number of arguments");
        return -1;
    }
    // Base 10 like strtol, kept to its low 32 bits.
    int32_t state = (int32_t)(uint32_t)strtol(argv[1], NULL, 10);

    int fd = open(WIFI_POWER_DEVICE, O_RDWR);
    if (fd == -1) {
        puts("Device open failed !!!");
        return 0;
    }
    if (state == 1) {
        if (ioctl(fd, WIFI_POWER_UP) < 0 && ioctl(fd, WIFI_POWER_UP_RETRY) < 0) {
            puts("Set Wi-Fi power up error!!!");
            return 0;
        }
    } else {
        if (ioctl(fd, WIFI_POWER_DOWN) < 0 && ioctl(fd, WIFI_POWER_DOWN_RETRY) < 0) {
            puts("Set Wi-Fi power down error!!!");
            return 0;
        }
    }
    close(fd);
    return 0;
}
