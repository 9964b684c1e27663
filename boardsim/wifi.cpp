// The Wi-Fi power driver of the simulated board, behind "/dev/wifi_power".
//
// Four argument-less requests of type 'm': 1 power up, 2 power down, 3 power up (second way),
// 4 power down (second way). Each is accepted (result 0) unless its number is listed in the setting
// wifi.refuse (e.g. "1,3"), in which case it fails with EIO. Any other request fails with ENOTTY.
// The setting wifi.present = 0 takes the node away. The module's power after the last accepted
// request is kept in state/wifi.power ("1" on, "0" off).
#include <errno.h>
#include <sys/ioctl.h>

#include <string>

#include "boardfiles/board_names.h"
#include "boardsim.h"
#include "bringup/wifi_power.h"
#include "usb_model.h"

namespace {

bool wifi_present() { return boardsim::setting_number("wifi.present") != 0; }

int wifi_open(int, int) { return 0; }

// Whether request number n (1 to 4) is listed in wifi.refuse.
bool wifi_refused(int n) {
    std::string list = boardsim::setting("wifi.refuse");
    std::string item;
    for (size_t i = 0; i <= list.size(); i++) {
        if (i == list.size() || list[i] == ',' || list[i] == ' ') {
            if (item == std::to_string(n)) return true;
            item.clear();
        } else {
            item += list[i];
        }
    }
    return false;
}

long wifi_ioctl(int, unsigned long request, unsigned long) {
    int n = int(request & 0xff);
    if (request != WIFI_POWER_REQUEST(n) || n < 1 || n > WIFI_POWER_REQUEST_COUNT) {
        errno = ENOTTY;
        return -1;
    }
    if (wifi_refused(n)) {
        errno = EIO;
        return -1;
    }
    bool up = n == 1 || n == 3;
    boardsim::usb_state_write(boardsim::board_dir() + "/" + boardfiles::kStateDir + "/wifi.power", up ? "1" : "0");
    return 0;
}

ssize_t wifi_read(int, void*, size_t) {
    errno = EINVAL;
    return -1;
}

void wifi_close(int) {}

const boardsim::Device wifi_device = {WIFI_POWER_NODE, wifi_present, wifi_open, wifi_ioctl,
                                      wifi_read,          wifi_close,   nullptr};

__attribute__((constructor)) void register_wifi_driver() {
    boardsim::register_device(&wifi_device);
}

}  // namespace
