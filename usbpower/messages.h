// What the USB power daemons print, one line each (puts gives the line end).
#pragma once

namespace usbmsg {

// The controller's version is missing or not one the daemon's profile drives: it ends with 255
// (main returns -1, which its parent sees as 255).
const char kUnsupported[] = "This dwc_otg version not support. Please check!";
const int kUnsupportedStatus = 255;
// A device came between the look at a port and the switch: the port stays powered.
const char kHasDevices[] = "Has devices on this port,can't power off!";
// A port's status attributes could not be read, or do not start with their prefix.
const char kGotgctlReadFailed[] = "Failed to read gotgctl";
const char kGotgctlBad[] = "gotgctl txt is error";
const char kBusconnectedReadFailed[] = "Failed to read busconnected";
const char kBusconnectedBad[] = "busconnected txt is error";

}  // namespace usbmsg
