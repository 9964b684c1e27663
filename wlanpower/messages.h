// What wlanpower prints, one line each (puts gives the line end); it prints only when something
// went wrong.
#pragma once

namespace wifimsg {

const char kUsage[] = "wrong number of arguments";
const char kOpenFailed[] = "Device open failed !!!";
const char kPowerUpFailed[] = "Set Wi-Fi power up error!!!";
const char kPowerDownFailed[] = "Set Wi-Fi power down error!!!";

}  // namespace wifimsg
