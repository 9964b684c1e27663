// The USB power core shared by the three daemons: controller version, port presence and status
// (otg_status.cpp), and port power switching (otg_switch.cpp).
//
// The core is compiled once per profile. The default profile is that of otgpower and otgpowersave
// (four version texts, the port-0 host-role rule, the PHY sleep attribute "peri_sleepm" and the
// module power class). Compiled with OTG_PROFILE_IDDQ defined it is the profile of otgpoweriddq
// (three version texts, no port-0 rule, the PHY IDDQ attribute "peri_iddq", no module power class).
#pragma once

#define OTG_POWER_ON 0
#define OTG_POWER_OFF 1
#define OTG_POWER_QUERY 2

#ifdef OTG_PROFILE_IDDQ
#define OTG_VERSION_COUNT 3
#else
#define OTG_VERSION_COUNT 4
#endif

// Version table, searched in index order; index 1 is recognised but not supported.
extern const char otg_versions[OTG_VERSION_COUNT][6];
// Index of the running controller version in otg_versions, or -1 (not read, or not recognised).
extern int otg_version_index;

// Reads the controller version once at start-up: 0 when it is recognised and supported, else -1.
int read_otg_version(void);
// 0 when the port's device directory is readable, else -1.
int otg_port_present(int port);
// 1 when the port is in use and must stay powered; 0 when it may be powered off or cannot be read.
int otg_port_status(int port);
// Powers a port on or off (OTG_POWER_ON, OTG_POWER_OFF) or returns its status (OTG_POWER_QUERY).
// 0 done (or an unknown action), 1 OFF refused while the port is in use, -1 control word unreadable
// (or the port-select attribute missing), -2 an attribute of the switch missing.
int otg_port_power(int port, int action);

// Pure pieces of the status read, used by the functions above.
//
// Parses one attribute line: when it begins with the first prefix_len characters of prefix and a
// hexadecimal number follows, stores the number and returns 0; otherwise returns -1.
int otg_parse_line(const char* line, const char* prefix, int prefix_len, unsigned int* value);
// The port status from the port number, the GOTGCTL word and the bus-connected value.
int otg_status_decide(int port, unsigned int gotgctl, unsigned int busconnected);
// Reads a port's GOTGCTL word: 0 with the word, -1 when gotgctl cannot be opened (no message),
// -2 after "Failed to read gotgctl" or "gotgctl txt is error".
int otg_read_gotgctl(int port, unsigned int* gotgctl);
// Puts the port digit into a per-port path written for port 0 (the '0' of "lm0", index 15).
void otg_patch_port(char* path, int port);
