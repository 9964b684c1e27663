// What configlist prints: on standard output the vendor line, then for each configuration a block
// (its number, its attributes in these formats, an empty line); an error as kErrorPrefix on
// standard error, then its text on standard output. An attribute's format takes its value (%d) or
// the words it is decoded into (%s). bringup-check reads the report back with these.
#pragma once

namespace configmsg {

const char kVendorLine[] = "EGL_VENDOR = %s, version %d.%d\n";
const char kConfigLine[] = "Config number %d in returned configs\n";

// The attributes, in the order of a block. The caveat and the buffer type share a line, and so do
// the colour depth and the four channels.
const char kConfigId[] = " EGL_CONFIG_ID %d\n";
const char kCaveat[] = " Config caveat: %s ";
const char kBufferType[] = " Colour buffer type: %s\n";
const char kDepth[] = " Colour depth: %d";
const char kRed[] = "     Red   %d ";
const char kGreen[] = "     Green %d ";
const char kBlue[] = "     Blue  %d ";
const char kAlpha[] = "     Alpha %d\n";
const char kZBits[] = " Z-buffer bits: %d\n";
const char kSamples[] = " %dx anti-aliasing\n";
const char kSurfaces[] = " Surfaces: %s\n ";
const char kApis[] = " API support: %s\n";

const char kErrorPrefix[] = "Error: ";
const char kMsgAttribFailed[] = "eglGetConfigAttrib failed (%d, %d)\n";
const char kMsgListingFailed[] = "Listing EGL configs failed";

}  // namespace configmsg
