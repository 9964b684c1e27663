/* SPDX-License-Identifier: (GPL-2.0 OR MIT) */
/*
 * The simulated board's settings, one row each: the board.conf key of the preloaded board, the
 * module parameter of the kernel board (the key with '.' as '_'), the default, what the setting
 * takes and its units. Both boards, bringup-check, the judge and the documentation read them
 * from here, so the two boards cannot disagree about a setting.
 *
 * Plain C, for the kernel and the programs alike: a list of rows for the reader to expand with
 * the row macros it needs (each a macro of the reader's own taking the arguments below).
 *
 *   NUMBER(name, key, def, low, high, units, text)
 *       a whole number from low to high, in C notation (0x2EE00 is 192000); def when not given
 *   OPTIONAL(name, key, low, high, units, text)
 *       a whole number from low to high, or nothing (the default: the fault is off)
 *   WORD(name, key, def, words, text)
 *       one of the words (space-separated)
 *   LIST(name, key, def, items, text)
 *       a comma-separated list of the items (space-separated), each at most once in effect;
 *       the empty list too
 *   CALLS(name, key, text)
 *       which calls of a kind, counted from 1: "3", "2,5", "4-6", "7-" (7 and every later one);
 *       none by default
 *   TEXT(name, key, def, text)
 *       any text of up to BOARD_SETTING_MAX characters; "none" for no such file
 *   HERTZ(name, key, def, text)
 *       a frequency in hertz above 0 with at most three decimals (440.5)
 */
#ifndef BRINGUP_BOARD_SETTINGS_H
#define BRINGUP_BOARD_SETTINGS_H

#include "bringup/audio_stream_core.h"

/* The longest value a setting takes, in characters. */
#define BOARD_SETTING_MAX 255

#define BOARD_INT_MAX 2147483647LL
#define BOARD_INT_MIN (-2147483647LL - 1)

#define BOARD_SETTINGS(NUMBER, OPTIONAL, WORD, LIST, CALLS, TEXT, HERTZ) \
	NUMBER(audio_present, "audio.present", 1, 0, 1, "", \
	       "1: the audio node /dev/qvaudio_out exists") \
	NUMBER(audio_ring, "audio.ring", 65536, 1, BOARD_INT_MAX, "bytes", \
	       "the ring size") \
	NUMBER(audio_rate, "audio.rate", 192000, 1, AUDIO_STREAM_RATE_MAX, "bytes/s", \
	       "bytes per second the hardware produces") \
	NUMBER(audio_align, "audio.align", 4, 1, BOARD_INT_MAX, "bytes", \
	       "the hardware position moves in steps of this many bytes") \
	WORD(audio_content, "audio.content", "tone", "tone counter", \
	     "what the hardware plays: a tone or a counter") \
	HERTZ(audio_tone_hz, "audio.tone_hz", "440", \
	      "the tone's frequency, up to three decimals") \
	NUMBER(audio_fault_absent_opens, "audio.fault.absent_opens", 0, 0, BOARD_INT_MAX, \
	       "opens", "the first N opens fail with ENOENT") \
	OPTIONAL(audio_fault_size, "audio.fault.size", BOARD_INT_MIN, BOARD_INT_MAX, "", \
		 "the size request answers this number") \
	CALLS(audio_fault_hwpos_fail, "audio.fault.hwpos_fail", \
	      "these hardware-position requests fail with EIO") \
	CALLS(audio_fault_readpos_fail, "audio.fault.readpos_fail", \
	      "these read-position requests fail with EIO") \
	CALLS(audio_fault_hwpos_range, "audio.fault.hwpos_range", \
	      "these hardware-position requests answer outside the ring") \
	CALLS(audio_fault_readpos_range, "audio.fault.readpos_range", \
	      "these read-position requests answer outside the ring") \
	CALLS(audio_fault_short_read, "audio.fault.short_read", \
	      "these reads return half") \
	CALLS(audio_fault_read_error, "audio.fault.read_error", \
	      "these reads fail with EIO") \
	NUMBER(wifi_present, "wifi.present", 1, 0, 1, "", \
	       "1: the Wi-Fi node /dev/wifi_power exists") \
	LIST(wifi_refuse, "wifi.refuse", "", "1 2 3 4", \
	     "the requests refused with EIO") \
	TEXT(usb_version, "usb.version", "2.94a", \
	     "the controller version text; none: no version file") \
	LIST(usb_ports, "usb.ports", "0,1", "0 1 none", \
	     "the ports present") \
	WORD(usb_phy, "usb.phy", "both", "sleepm iddq both", \
	     "the PHY power attributes of each port") \
	LIST(usb_port0_missing, "usb.port0.missing", "", BOARD_PORT_ATTRS, \
	     "attributes of port 0 left out") \
	LIST(usb_port1_missing, "usb.port1.missing", "", BOARD_PORT_ATTRS, \
	     "attributes of port 1 left out") \
	NUMBER(usb_phy_control, "usb.phy_control", 1, 0, 1, "", \
	       "1: the PHY-control device exists") \
	LIST(usb_phy_control_missing, "usb.phy_control.missing", "", "index por otgdisable", \
	     "attributes of the PHY-control device left out") \
	NUMBER(usb_mod_class, "usb.mod_class", 1, 0, 1, "", \
	       "1: the module power class exists") \
	WORD(usb_port0_role, "usb.port0.role", "host", "host peripheral", \
	     "what port 0 is wired as") \
	WORD(usb_port1_role, "usb.port1.role", "host", "host peripheral", \
	     "what port 1 is wired as") \
	WORD(usb_port0_busvalid, "usb.port0.busvalid", "auto", "auto none a b ab", \
	     "the bus-valid bits of port 0") \
	WORD(usb_port1_busvalid, "usb.port1.busvalid", "auto", "auto none a b ab", \
	     "the bus-valid bits of port 1") \
	NUMBER(usb_port0_attached, "usb.port0.attached", 0, 0, 1, "", \
	       "1: a device is attached to port 0") \
	NUMBER(usb_port1_attached, "usb.port1.attached", 0, 0, 1, "", \
	       "1: a device is attached to port 1") \
	NUMBER(usb_controller, "usb.controller", 1, 0, 1, "", \
	       "0: the controller registers only when told to")

#define BOARD_PORT_ATTRS "gotgctl busconnected pullup peri_sleepm peri_iddq peri_otg_disable"

#endif
