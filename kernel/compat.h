/* SPDX-License-Identifier: (GPL-2.0 OR MIT) */
/*
 * What differs between the kernels the module builds for (Debian's 6.1 and 6.12 among them),
 * gathered here so that the drivers read the same on all of them.
 */
#ifndef BRINGUP_SIM_COMPAT_H
#define BRINGUP_SIM_COMPAT_H

#include <linux/version.h>

/* A bus's match callback takes a const driver from 6.11 on. */
#if KERNEL_VERSION(6, 11, 0) <= LINUX_VERSION_CODE
#define SIM_MATCH_DRIVER const struct device_driver
#else
#define SIM_MATCH_DRIVER struct device_driver
#endif

/* Class attribute callbacks take a const class and attribute from 6.4 on. */
#if KERNEL_VERSION(6, 4, 0) <= LINUX_VERSION_CODE
#define SIM_CLASS const struct class
#define SIM_CLASS_ATTRIBUTE const struct class_attribute
#else
#define SIM_CLASS struct class
#define SIM_CLASS_ATTRIBUTE struct class_attribute
#endif

#endif
