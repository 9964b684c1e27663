// The Wi-Fi power driver's character device: its node and its four argument-less requests.
// The second request of a direction is an alternative way the driver offers when the first fails.
#pragma once

#include <sys/ioctl.h>

#define WIFI_POWER_NODE "/dev/wifi_power"
#define WIFI_POWER_IOC_TYPE 'm'
#define WIFI_POWER_REQUEST_COUNT 4

static const unsigned long WIFI_POWER_UP = _IO(WIFI_POWER_IOC_TYPE, 1);
static const unsigned long WIFI_POWER_DOWN = _IO(WIFI_POWER_IOC_TYPE, 2);
static const unsigned long WIFI_POWER_UP_RETRY = _IO(WIFI_POWER_IOC_TYPE, 3);
static const unsigned long WIFI_POWER_DOWN_RETRY = _IO(WIFI_POWER_IOC_TYPE, 4);
