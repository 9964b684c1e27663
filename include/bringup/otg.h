/* SPDX-License-Identifier: (GPL-2.0 OR MIT) */
// The USB OTG controller's sysfs interface: the driver's version file, the per-port devices and
// their attributes, the PHY-control device, the module power class, and the GOTGCTL word.
//
// Paths are string literals so that programs can build fixed tables from them. Per-port paths are
// written for port 0; the port's digit replaces the '0' of "lm0" at OTG_PORT_DIGIT_INDEX.
#pragma once

#define OTG_VERSION_PATH "/sys/bus/logicmodule/drivers/dwc_otg/version"

// The version texts the driver reports, five characters each: the PHY-control device method, a
// version recognised but not driven, and the two of the per-port method (the IDDQ PHY has only
// the first).
#define OTG_VERSION_PHY_CONTROL "2.60a"
#define OTG_VERSION_RECOGNISED "2.20a"
#define OTG_VERSION_PER_PORT "2.94a"
#define OTG_VERSION_PER_PORT_2 "3.10a"

// Per-port devices: OTG_PORT_DIR_PREFIX followed by the port digit.
#define OTG_PORT_DIR_PREFIX "/sys/devices/lm"
#define OTG_PORT0_DIR OTG_PORT_DIR_PREFIX "0"
#define OTG_PORT1_DIR OTG_PORT_DIR_PREFIX "1"
enum { OTG_PORT_DIGIT_INDEX = sizeof(OTG_PORT_DIR_PREFIX) - 1 };

// Attributes of a port's device.
#define OTG_ATTR_GOTGCTL "gotgctl"
#define OTG_ATTR_BUSCONNECTED "busconnected"
#define OTG_ATTR_PULLUP "pullup"
#define OTG_ATTR_SLEEPM "peri_sleepm"
#define OTG_ATTR_IDDQ "peri_iddq"
#define OTG_ATTR_OTG_DISABLE "peri_otg_disable"

#define OTG_GOTGCTL_PATH OTG_PORT0_DIR "/" OTG_ATTR_GOTGCTL
#define OTG_BUSCONNECTED_PATH OTG_PORT0_DIR "/" OTG_ATTR_BUSCONNECTED
#define OTG_PULLUP_PATH OTG_PORT0_DIR "/" OTG_ATTR_PULLUP
#define OTG_SLEEPM_PATH OTG_PORT0_DIR "/" OTG_ATTR_SLEEPM
#define OTG_IDDQ_PATH OTG_PORT0_DIR "/" OTG_ATTR_IDDQ
#define OTG_OTG_DISABLE_PATH OTG_PORT0_DIR "/" OTG_ATTR_OTG_DISABLE

// The PHY-control device: "index" selects the port ("A" or "B"), "por" powers it ("on"/"off"),
// "otgdisable" switches its OTG function.
#define OTG_PHY_CONTROL_DIR "/sys/devices/platform/usb_phy_control"
#define OTG_PHY_ATTR_INDEX "index"
#define OTG_PHY_ATTR_POR "por"
#define OTG_PHY_ATTR_OTG_DISABLE "otgdisable"
#define OTG_PHY_INDEX_PATH OTG_PHY_CONTROL_DIR "/" OTG_PHY_ATTR_INDEX
#define OTG_PHY_POR_PATH OTG_PHY_CONTROL_DIR "/" OTG_PHY_ATTR_POR
#define OTG_PHY_OTG_DISABLE_PATH OTG_PHY_CONTROL_DIR "/" OTG_PHY_ATTR_OTG_DISABLE

// The module power class: the module's name written to "mod_on" or "mod_off".
#define OTG_MODULE_CLASS_DIR "/sys/class/qvl_mod"
#define OTG_MODULE_ATTR_ON "mod_on"
#define OTG_MODULE_ATTR_OFF "mod_off"
#define OTG_MODULE_ON_PATH OTG_MODULE_CLASS_DIR "/" OTG_MODULE_ATTR_ON
#define OTG_MODULE_OFF_PATH OTG_MODULE_CLASS_DIR "/" OTG_MODULE_ATTR_OFF

// First line of each status attribute: the prefix, then the value in hexadecimal.
#define OTG_GOTGCTL_PREFIX "GOTGCTL = 0x"
#define OTG_BUSCONNECTED_PREFIX "Bus Connected = 0x"

// GOTGCTL bits: connector ID (set: B-device, the peripheral role) and the A- and B-side bus-valid
// indications.
#define OTG_GOTGCTL_PERIPHERAL (1u << 16)
#define OTG_GOTGCTL_A_VALID (1u << 18)
#define OTG_GOTGCTL_B_VALID (1u << 19)

// Values written to the power attributes: a port's PHY power attribute takes "0" (powered) or "1"
// (unpowered), OTG disable the same digits, the PHY-control device's "por" takes "on" or "off",
// and its "index" the port letter.
#define OTG_PHY_POWERED "0"
#define OTG_PHY_UNPOWERED "1"
#define OTG_POR_ON "on"
#define OTG_POR_OFF "off"
#define OTG_PORT0_LETTER "A"
#define OTG_PORT1_LETTER "B"
