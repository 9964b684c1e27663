// The USB side of the simulated board: a small model of the OTG controller's kernel driver behind
// the attribute files of the board folder.
//
// Power: what is written to a port's PHY power attribute ("peri_sleepm" or "peri_iddq": "0"
// powered, "1" unpowered), or to the PHY-control device's "por" ("on"/"off", for the port last
// selected through "index" with "A"/"B"), powers the port up or down. The state lives in
// state/usb.port<N>.powered ("1"/"0"; a port is powered until told otherwise).
//
// Status: before a port's gotgctl or busconnected attribute is read it is rewritten from the
// port's role, its bus-valid indications, the attached device (state/usb.port<N>.attached, set by
// `boardsim attach|detach`, else the setting usb.port<N>.attached) and the power state. An
// attached device shows only while the port is powered. A setting usb.port<N>.gotgctl or
// usb.port<N>.busconnected fixes the attribute's content instead (C escapes allowed; a value in
// double quotes is taken inside them, so "" is an empty file). A missing
// attribute file stays missing.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "boardfiles/board_names.h"
#include "boardsim.h"
#include "bringup/otg.h"
#include "usb_model.h"

namespace {

const char PORT_DIR_PREFIX[] = OTG_PORT_DIR_PREFIX;  // followed by the port digit
const char PHY_CONTROL_DIR[] = OTG_PHY_CONTROL_DIR "/";
const char MODULE_CLASS_DIR[] = OTG_MODULE_CLASS_DIR "/";

std::string state_path(const std::string& name) { return boardsim::board_dir() + "/" + boardfiles::kStateDir + "/" + name; }

std::string port_key(int port, const char* what) {
    return "usb.port" + std::to_string(port) + "." + what;
}

// Port number and attribute name of "/sys/devices/lm<N>/<attr>", or -1.
int split_port_path(const std::string& sys_path, std::string* attr) {
    size_t n = sizeof PORT_DIR_PREFIX - 1;
    if (sys_path.compare(0, n, PORT_DIR_PREFIX) != 0 || sys_path.size() < n + 3) return -1;
    char digit = sys_path[n];
    if (digit < '0' || digit > '9' || sys_path[n + 1] != '/') return -1;
    *attr = sys_path.substr(n + 2);
    return digit - '0';
}

bool port_powered(int port) {
    return boardsim::usb_state_read(state_path("usb.port" + std::to_string(port) + ".powered"), "1") == "1";
}

void set_port_powered(int port, bool powered) {
    boardsim::usb_state_write(state_path("usb.port" + std::to_string(port) + ".powered"), powered ? "1" : "0");
}

bool port_attached(int port) {
    std::string fallback = std::to_string(boardsim::setting_number(port_key(port, "attached")));
    return boardsim::usb_state_read(state_path("usb.port" + std::to_string(port) + ".attached"), fallback) == "1";
}

std::string gotgctl_text(int port) {
    bool peripheral = boardsim::setting(port_key(port, "role")) == "peripheral";
    bool device = port_attached(port) && port_powered(port);
    std::string valid = boardsim::setting(port_key(port, "busvalid"));
    if (valid == "auto") valid = peripheral ? (device ? "ab" : "none") : "ab";
    unsigned int word = peripheral ? OTG_GOTGCTL_PERIPHERAL : 0;
    if (valid.find('a') != std::string::npos) word |= OTG_GOTGCTL_A_VALID;
    if (valid.find('b') != std::string::npos) word |= OTG_GOTGCTL_B_VALID;
    char text[40];
    snprintf(text, sizeof text, OTG_GOTGCTL_PREFIX "%08x\n", word);
    return text;
}

std::string busconnected_text(int port) {
    bool device = port_attached(port) && port_powered(port);
    return device ? OTG_BUSCONNECTED_PREFIX "1\n" : OTG_BUSCONNECTED_PREFIX "0\n";
}

void usb_before_read(const std::string& sys_path, const std::string& real_path) {
    std::string attr;
    int port = split_port_path(sys_path, &attr);
    if (port < 0 || (attr != OTG_ATTR_GOTGCTL && attr != OTG_ATTR_BUSCONNECTED)) return;
    if (!boardsim::usb_file_exists(real_path)) return;  // a missing attribute stays missing
    const std::string unset = "\x01";
    std::string fixed = boardsim::setting(port_key(port, attr.c_str()), unset);
    std::string text;
    if (fixed != unset) {
        // A value in double quotes is taken inside them, so that "" gives an empty file.
        if (fixed.size() >= 2 && fixed.front() == '"' && fixed.back() == '"') fixed = fixed.substr(1, fixed.size() - 2);
        text = boardsim::usb_unescape(fixed);
    }
    else text = attr == OTG_ATTR_GOTGCTL ? gotgctl_text(port) : busconnected_text(port);
    boardsim::usb_state_write(real_path, text);
}

void usb_after_write(const std::string& sys_path, const std::string&, const std::string& bytes) {
    std::string attr;
    int port = split_port_path(sys_path, &attr);
    if (port >= 0) {
        if (attr == OTG_ATTR_SLEEPM || attr == OTG_ATTR_IDDQ) {
            if (bytes == OTG_PHY_POWERED) set_port_powered(port, true);
            else if (bytes == OTG_PHY_UNPOWERED) set_port_powered(port, false);
        }
        return;
    }
    size_t n = sizeof PHY_CONTROL_DIR - 1;
    if (sys_path.compare(0, n, PHY_CONTROL_DIR) == 0) {
        std::string name = sys_path.substr(n);
        if (name == OTG_PHY_ATTR_INDEX && (bytes == OTG_PORT0_LETTER || bytes == OTG_PORT1_LETTER)) {
            boardsim::usb_state_write(state_path("usb.phy_index"), bytes == OTG_PORT0_LETTER ? "0" : "1");
        } else if (name == OTG_PHY_ATTR_POR && (bytes == OTG_POR_ON || bytes == OTG_POR_OFF)) {
            int selected = boardsim::usb_state_read(state_path("usb.phy_index"), "0") == "1" ? 1 : 0;
            set_port_powered(selected, bytes == OTG_POR_ON);
        }
        return;
    }
    n = sizeof MODULE_CLASS_DIR - 1;
    if (sys_path.compare(0, n, MODULE_CLASS_DIR) == 0) {
        std::string name = sys_path.substr(n);
        if ((name == OTG_MODULE_ATTR_ON || name == OTG_MODULE_ATTR_OFF) && !bytes.empty() &&
            bytes.find('/') == std::string::npos)
            boardsim::usb_state_write(state_path("usb.module." + bytes), name == OTG_MODULE_ATTR_ON ? "on" : "off");
    }
}

const boardsim::SysfsHook usb_hook = {usb_before_read, usb_after_write};

bool listed(const std::string& list, const std::string& item) {
    std::string cur;
    for (size_t i = 0; i <= list.size(); i++) {
        if (i == list.size() || list[i] == ',' || list[i] == ' ') {
            if (!cur.empty() && cur == item) return true;
            cur.clear();
        } else {
            cur += list[i];
        }
    }
    return false;
}

void make_dirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); i++)
        if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
}

void make_attr(const std::string& dir, const char* name, const std::string& missing) {
    if (!listed(missing, name)) boardsim::usb_state_write(dir + "/" + name, "");
}

// Makes the USB part of a new board's sys/ and state/ from its settings.
void usb_build() {
    const std::string& board = boardsim::board_dir();
    make_dirs(board + "/" + boardfiles::kStateDir);
    std::string version = boardsim::setting("usb.version");
    if (version != "none") {
        std::string path = board + OTG_VERSION_PATH;
        make_dirs(path.substr(0, path.rfind('/')));
        // A text in double quotes is the file's whole content; otherwise a line end is added.
        bool quoted = version.size() >= 2 && version.front() == '"' && version.back() == '"';
        boardsim::usb_state_write(path, quoted ? boardsim::usb_unescape(version.substr(1, version.size() - 2))
                                               : boardsim::usb_unescape(version) + "\n");
    }
    std::string ports = boardsim::setting("usb.ports");
    std::string phy = boardsim::setting("usb.phy");
    for (int port = 0; port < 2; port++) {
        boardsim::usb_state_write(state_path("usb.port" + std::to_string(port) + ".powered"), "1");
        if (!listed(ports, std::to_string(port))) continue;
        std::string sys_dir = PORT_DIR_PREFIX + std::to_string(port);
        std::string dir = board + sys_dir;
        make_dirs(dir);
        std::string missing = boardsim::setting(port_key(port, "missing"));
        for (const char* attr : {OTG_ATTR_GOTGCTL, OTG_ATTR_BUSCONNECTED, OTG_ATTR_PULLUP, OTG_ATTR_OTG_DISABLE})
            make_attr(dir, attr, missing);
        if (phy == "sleepm" || phy == "both") make_attr(dir, OTG_ATTR_SLEEPM, missing);
        if (phy == "iddq" || phy == "both") make_attr(dir, OTG_ATTR_IDDQ, missing);
        // Show the status the port starts with.
        for (const char* attr : {OTG_ATTR_GOTGCTL, OTG_ATTR_BUSCONNECTED})
            usb_before_read(sys_dir + "/" + attr, dir + "/" + attr);
    }
    if (boardsim::setting_number("usb.phy_control")) {
        std::string dir = board + OTG_PHY_CONTROL_DIR;
        make_dirs(dir);
        std::string missing = boardsim::setting("usb.phy_control.missing");
        for (const char* attr : {OTG_PHY_ATTR_INDEX, OTG_PHY_ATTR_POR, OTG_PHY_ATTR_OTG_DISABLE})
            make_attr(dir, attr, missing);
    }
    if (boardsim::setting_number("usb.mod_class")) {
        std::string dir = board + OTG_MODULE_CLASS_DIR;
        make_dirs(dir);
        for (const char* attr : {OTG_MODULE_ATTR_ON, OTG_MODULE_ATTR_OFF}) make_attr(dir, attr, "");
    }
}

__attribute__((constructor)) void register_usb_model() {
    boardsim::register_sysfs_hook(&usb_hook);
    boardsim::register_builder(usb_build);
}

}  // namespace
