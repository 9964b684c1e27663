/* SPDX-License-Identifier: (GPL-2.0 OR MIT) */
/*
 * The simulated board's profiles: named sets of settings in board.conf form ("key = value"
 * lines, '#' starts a comment). A board takes every part of "default" first, then the parts of
 * the profile it is made with, then its own settings, a later key overriding an earlier one.
 * Shared by the preloaded board (`boardsim create --profile NAME`) and the kernel board (the
 * module parameter profile=NAME, keys with '.' as '_'), so both boards start alike.
 */
#ifndef BRINGUP_BOARD_PROFILES_H
#define BRINGUP_BOARD_PROFILES_H

struct board_profile {
	const char *name;
	const char *settings;
};

/*
 * The profiles as PROFILE(name, settings) rows, for each reader to lay out as its own table:
 * BOARD_PROFILES(BOARD_PROFILE_ROW) gives the initialisers of a struct board_profile array.
 *
 * The audio output driver: audio.rate (bytes per second), audio.ring (ring bytes),
 * audio.content (tone or counter). The USB controller: usb.version (the version file's text and
 * a line end; "none" for no file), usb.ports (the lm devices present, e.g. "0,1"), usb.phy
 * ("sleepm", "iddq" or "both": the PHY power attributes of each port), usb.phy_control and
 * usb.mod_class (1 or 0: the PHY-control device and the module power class exist),
 * usb.port<N>.role ("host" or "peripheral"), usb.port<N>.attached (a device on the port).
 * otg-iddq: a PHY with only the IDDQ attribute and no module power class; otg-gadget: port 0
 * wired as a peripheral (a gadget port), port 1 as a host. The Wi-Fi power driver: present,
 * refusing the requests listed in wifi.refuse; wifi-second: only the second request of each
 * direction is taken; wifi-refuse: every request is refused; wifi-absent: no node.
 */
#define BOARD_PROFILE_ROW(name, settings) { name, settings },

#define BOARD_PROFILES(PROFILE) \
	PROFILE("default",                                                                   \
	  "# audio output driver: bytes per second, ring bytes, content (tone or counter)\n" \
	  "audio.rate = 192000\n"                                                            \
	  "audio.ring = 65536\n"                                                             \
	  "audio.content = tone\n")                                                          \
	PROFILE("counter", "audio.content = counter\n")                                      \
	PROFILE("default",                                                                   \
	  "usb.version = 2.94a\n"                                                            \
	  "usb.ports = 0,1\n"                                                                \
	  "usb.phy = both\n"                                                                 \
	  "usb.phy_control = 1\n"                                                            \
	  "usb.mod_class = 1\n"                                                              \
	  "usb.port0.role = host\n"                                                          \
	  "usb.port1.role = host\n"                                                          \
	  "usb.port0.attached = 0\n"                                                         \
	  "usb.port1.attached = 0\n")                                                        \
	PROFILE("otg-2.60a", "usb.version = 2.60a\n")                                        \
	PROFILE("otg-2.94a", "usb.version = 2.94a\n")                                        \
	PROFILE("otg-3.10a", "usb.version = 3.10a\n")                                        \
	PROFILE("otg-2.20a", "usb.version = 2.20a\n")                                        \
	PROFILE("otg-iddq", "usb.version = 2.94a\nusb.phy = iddq\nusb.mod_class = 0\n")      \
	PROFILE("otg-gadget", "usb.version = 2.94a\nusb.port0.role = peripheral\n")          \
	PROFILE("default", "wifi.present = 1\n")                                             \
	PROFILE("wifi-second", "wifi.refuse = 1,2\n")                                        \
	PROFILE("wifi-refuse", "wifi.refuse = 1,2,3,4\n")                                    \
	PROFILE("wifi-absent", "wifi.present = 0\n")

#endif
