/* SPDX-License-Identifier: (GPL-2.0 OR MIT) */
// The Wi-Fi power driver's character device: its node and its four argument-less requests.
// The second request of a direction is an alternative way the driver offers when the first fails.
//
// Included by the programs (C++) and by the kernel board (C, inside the kernel).
#pragma once

#ifdef __KERNEL__
#include <linux/ioctl.h>
#else
#include <sys/ioctl.h>
#endif

#define WIFI_POWER_NAME "wifi_power"
#define WIFI_POWER_NODE "/dev/" WIFI_POWER_NAME
#define WIFI_POWER_IOC_TYPE 'm'
#define WIFI_POWER_REQUEST_COUNT 4

// Request n of the driver (1 to WIFI_POWER_REQUEST_COUNT): 1 up, 2 down, 3 up and 4 down the
// second way.
#define WIFI_POWER_REQUEST(n) _IO(WIFI_POWER_IOC_TYPE, n)

#ifndef __KERNEL__
static const unsigned long WIFI_POWER_UP = WIFI_POWER_REQUEST(1);
static const unsigned long WIFI_POWER_DOWN = WIFI_POWER_REQUEST(2);
static const unsigned long WIFI_POWER_UP_RETRY = WIFI_POWER_REQUEST(3);
static const unsigned long WIFI_POWER_DOWN_RETRY = WIFI_POWER_REQUEST(4);
#endif
