// `boardsim record`: reads what a board shows of the attributes and devices the suite uses and
// writes it as board settings, so that the board can be replayed on the simulated one.
//
// Nothing here changes the board: attributes are only tested and read, and the audio device only
// answers its read-only queries (ring size, positions); the set-up request is never sent and the
// Wi-Fi power node is only tested for presence.
#include "record.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bringup/otg.h"
#include "bringup/qvaudio.h"
#include "bringup/wifi_power.h"

namespace boardsim {

std::string conf_escape(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            default:
                // '#' would start a comment and '"' ends a quoted value; spaces are kept inside
                // the quotes the recorder puts around texts.
                if (c < 0x20 || c >= 0x7f || c == '#' || c == '"') {
                    char esc[8];
                    snprintf(esc, sizeof esc, "\\x%02x", c);
                    out += esc;
                } else {
                    out += char(c);
                }
        }
    }
    return out;
}

long long snap_rate(double measured) {
    static const int kSampleRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};
    static const int kFrameBytes[] = {2, 4, 8};
    long long best = 0;
    double best_error = 0.03;  // a nominal rate within 3% is taken as the one measured
    for (int r : kSampleRates)
        for (int f : kFrameBytes) {
            double nominal = double(r) * f;
            double error = fabs(measured - nominal) / nominal;
            if (error < best_error) {
                best_error = error;
                best = (long long)nominal;
            }
        }
    if (best) return best;
    long long rounded = llround(measured / 4.0) * 4;
    return rounded > 0 ? rounded : 0;
}

std::vector<Setting> status_settings(int port, const std::string* gotgctl, const std::string* busconnected) {
    std::vector<Setting> out;
    std::string key = "usb.port" + std::to_string(port) + ".";
    bool modelled = false, host = false;
    if (gotgctl) {
        unsigned int word = 0;
        const unsigned int kModelBits = OTG_GOTGCTL_PERIPHERAL | OTG_GOTGCTL_A_VALID | OTG_GOTGCTL_B_VALID;
        size_t n = sizeof OTG_GOTGCTL_PREFIX - 1;
        if (gotgctl->compare(0, n, OTG_GOTGCTL_PREFIX) == 0 &&
            sscanf(std::string(*gotgctl, n).c_str(), "%x", &word) == 1) {
            char model[40];
            snprintf(model, sizeof model, OTG_GOTGCTL_PREFIX "%08x\n", word);
            host = !(word & OTG_GOTGCTL_PERIPHERAL);
            out.push_back({key + "role", host ? "host" : "peripheral"});
            modelled = (word & ~kModelBits) == 0 && *gotgctl == model;
            if (modelled) {
                std::string valid;
                if (word & OTG_GOTGCTL_A_VALID) valid += "a";
                if (word & OTG_GOTGCTL_B_VALID) valid += "b";
                out.push_back({key + "busvalid", valid.empty() ? "none" : valid});
            }
        }
        if (!modelled) out.push_back({key + "gotgctl", "\"" + conf_escape(*gotgctl) + "\""});
    }
    if (busconnected) {
        // A device shows in the model only while the port is powered; a host port with a device
        // counts as in use and stays powered, so it reads as found. Any other text is kept.
        if (*busconnected == OTG_BUSCONNECTED_PREFIX "0\n")
            out.push_back({key + "attached", "0"});
        else if (*busconnected == OTG_BUSCONNECTED_PREFIX "1\n" && modelled && host)
            out.push_back({key + "attached", "1"});
        else
            out.push_back({key + "busconnected", "\"" + conf_escape(*busconnected) + "\""});
    }
    return out;
}

namespace {

enum class Found { Missing, Unreadable, Read };

struct Attribute {
    Found found = Found::Missing;
    std::string text;
};

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool is_dir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The first page of an attribute, as a sysfs read gives it.
Attribute read_attribute(const std::string& path) {
    Attribute a;
    if (!exists(path)) return a;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        a.found = Found::Unreadable;
        return a;
    }
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    if (n < 0) {
        a.found = Found::Unreadable;
        return a;
    }
    a.found = Found::Read;
    a.text.assign(buf, size_t(n));
    return a;
}

class Recorder {
  public:
    explicit Recorder(const std::string& root) : root_(root) {}

    std::string settings() {
        record_usb();
        record_audio();
        record_wifi();
        std::string out;
        for (const std::string& line : lines_) out += line + "\n";
        return out;
    }

  private:
    std::string root_;
    std::vector<std::string> lines_;
    std::vector<std::string> denied_;

    void set(const std::string& key, const std::string& value) { lines_.push_back(key + " = " + value); }
    void note(const std::string& text) { lines_.push_back("# " + text); }

    // Notes what an attribute held; an attribute that exists but cannot be read is denied on the
    // recording as well.
    Attribute look(const char* sys_path) {
        Attribute a = read_attribute(root_ + sys_path);
        switch (a.found) {
            case Found::Missing: note(std::string(sys_path) + ": missing"); break;
            case Found::Unreadable: note(std::string(sys_path) + ": present, not readable"); break;
            case Found::Read: note(std::string(sys_path) + ": \"" + conf_escape(a.text) + "\""); break;
        }
        return a;
    }

    void record_usb() {
        note("USB controller");
        Attribute version = look(OTG_VERSION_PATH);
        if (version.found == Found::Missing) {
            set("usb.version", "none");
        } else {
            if (version.found == Found::Unreadable) denied_.push_back(OTG_VERSION_PATH);
            // Quoted: the file's whole content, line end or not.
            set("usb.version", "\"" + conf_escape(version.text) + "\"");
        }

        const char* const kPortAttrs[] = {OTG_ATTR_GOTGCTL, OTG_ATTR_BUSCONNECTED, OTG_ATTR_PULLUP,
                                          OTG_ATTR_OTG_DISABLE, OTG_ATTR_SLEEPM, OTG_ATTR_IDDQ};
        std::string ports;
        bool any_sleepm = false, any_iddq = false;
        std::vector<int> present;
        std::vector<std::vector<std::string>> found(2);
        for (int port = 0; port < 2; port++) {
            std::string dir = OTG_PORT_DIR_PREFIX + std::to_string(port);
            if (!is_dir(root_ + dir)) {
                note(dir + ": missing");
                continue;
            }
            present.push_back(port);
            ports += (ports.empty() ? "" : ",") + std::to_string(port);
            for (const char* attr : kPortAttrs)
                if (exists(root_ + dir + "/" + attr)) found[size_t(port)].push_back(attr);
            for (const std::string& a : found[size_t(port)]) {
                any_sleepm = any_sleepm || a == OTG_ATTR_SLEEPM;
                any_iddq = any_iddq || a == OTG_ATTR_IDDQ;
            }
        }
        set("usb.ports", ports.empty() ? "none" : ports);
        std::string phy = any_sleepm && !any_iddq ? "sleepm" : any_iddq && !any_sleepm ? "iddq" : "both";
        set("usb.phy", phy);
        for (int port : present) record_port(port, phy, found[size_t(port)]);

        note("PHY-control device");
        if (is_dir(root_ + OTG_PHY_CONTROL_DIR)) {
            set("usb.phy_control", "1");
            std::string missing;
            for (const char* attr : {OTG_PHY_ATTR_INDEX, OTG_PHY_ATTR_POR, OTG_PHY_ATTR_OTG_DISABLE}) {
                std::string path = std::string(OTG_PHY_CONTROL_DIR) + "/" + attr;
                if (!exists(root_ + path)) missing += (missing.empty() ? "" : ",") + std::string(attr);
                look(path.c_str());
            }
            if (!missing.empty()) set("usb.phy_control.missing", missing);
        } else {
            note(std::string(OTG_PHY_CONTROL_DIR) + ": missing");
            set("usb.phy_control", "0");
        }

        note("module power class");
        if (is_dir(root_ + OTG_MODULE_CLASS_DIR)) {
            set("usb.mod_class", "1");
            for (const char* attr : {OTG_MODULE_ON_PATH, OTG_MODULE_OFF_PATH})
                if (!exists(root_ + attr)) note(std::string(attr) + ": missing (the recording has it)");
        } else {
            note(std::string(OTG_MODULE_CLASS_DIR) + ": missing");
            set("usb.mod_class", "0");
        }
        for (const std::string& path : denied_) set("fault.deny", path);
    }

    void record_port(int port, const std::string& phy, const std::vector<std::string>& found) {
        std::string dir = OTG_PORT_DIR_PREFIX + std::to_string(port);
        std::string key = "usb.port" + std::to_string(port) + ".";
        note("port " + std::to_string(port));
        std::vector<std::string> expected = {OTG_ATTR_GOTGCTL, OTG_ATTR_BUSCONNECTED, OTG_ATTR_PULLUP,
                                             OTG_ATTR_OTG_DISABLE};
        if (phy != "iddq") expected.push_back(OTG_ATTR_SLEEPM);
        if (phy != "sleepm") expected.push_back(OTG_ATTR_IDDQ);
        std::string missing;
        for (const std::string& attr : expected) {
            bool here = false;
            for (const std::string& f : found) here = here || f == attr;
            if (!here) missing += (missing.empty() ? "" : ",") + attr;
        }
        if (!missing.empty()) set(key + "missing", missing);
        for (const char* attr : {OTG_ATTR_PULLUP, OTG_ATTR_OTG_DISABLE, OTG_ATTR_SLEEPM, OTG_ATTR_IDDQ})
            look((dir + "/" + attr).c_str());

        std::string gotgctl_path = dir + "/" + OTG_ATTR_GOTGCTL;
        Attribute gotgctl = look(gotgctl_path.c_str());
        if (gotgctl.found == Found::Unreadable) denied_.push_back(gotgctl_path);
        std::string busconnected_path = dir + "/" + OTG_ATTR_BUSCONNECTED;
        Attribute busconnected = look(busconnected_path.c_str());
        if (busconnected.found == Found::Unreadable) denied_.push_back(busconnected_path);
        for (const Setting& setting : status_settings(port, gotgctl.found == Found::Read ? &gotgctl.text : nullptr,
                                                      busconnected.found == Found::Read ? &busconnected.text : nullptr))
            set(setting.key, setting.value);
    }

    void record_audio() {
        note("audio output device");
        std::string node = root_ + QVAUDIO_NODE;
        int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            int err = errno;
            note(std::string(QVAUDIO_NODE) + ": cannot be opened: " + strerror(err));
            set("audio.present", err == ENOENT ? "0" : "1");
            if (err != ENOENT) set("audio.fault.absent_opens", "1000000");
            return;
        }
        set("audio.present", "1");
        long size = ioctl(fd, kCmdOutSize, 0UL);
        long hw1 = ioctl(fd, kCmdOutHwPos);
        long rd = ioctl(fd, kCmdOutReadPos);
        struct timespec t1, t2;
        clock_gettime(CLOCK_MONOTONIC, &t1);
        usleep(100000);
        long hw2 = ioctl(fd, kCmdOutHwPos);
        clock_gettime(CLOCK_MONOTONIC, &t2);
        close(fd);
        note("ring size " + std::to_string(size) + ", hardware position " + std::to_string(hw1) + " then " +
             std::to_string(hw2) + ", read position " + std::to_string(rd));
        if (size > 0) set("audio.ring", std::to_string(size));
        else set("audio.fault.size", std::to_string(size));
        if (hw1 < 0) set("audio.fault.hwpos_fail", "1-");
        else if (size > 0 && hw1 >= size) set("audio.fault.hwpos_range", "1-");
        if (rd < 0) set("audio.fault.readpos_fail", "1-");
        else if (size > 0 && rd >= size) set("audio.fault.readpos_range", "1-");
        if (size > 0 && hw1 >= 0 && hw2 >= 0 && hw1 < size && hw2 < size) {
            double dt = double(t2.tv_sec - t1.tv_sec) + double(t2.tv_nsec - t1.tv_nsec) * 1e-9;
            long moved = ((hw2 - hw1) % size + size) % size;
            if (moved == 0) {
                note("the hardware position did not move: output stopped (the recording keeps the default rate)");
            } else {
                note("the hardware moved " + std::to_string(moved) + " bytes in " + std::to_string(dt) + " s");
                set("audio.rate", std::to_string(snap_rate(double(moved) / dt)));
            }
        }
    }

    void record_wifi() {
        note("Wi-Fi power device");
        bool here = exists(root_ + WIFI_POWER_NODE);
        note(std::string(WIFI_POWER_NODE) + (here ? ": present" : ": missing"));
        set("wifi.present", here ? "1" : "0");
    }
};

}  // namespace

std::string record_settings(const std::string& root) { return Recorder(root).settings(); }

}  // namespace boardsim
