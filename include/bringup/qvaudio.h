// The audio output driver's character device: its node and its ioctl requests.
//
// Every request carries an int-sized argument slot, type letter 'A', and is answered through
// ioctl's return value (-1 on failure). Requests without an argument are still numbered as _IOW.
#pragma once

#include <sys/ioctl.h>

#define QVAUDIO_NODE "/dev/qvaudio_out"
#define QVAUDIO_IOC_TYPE 'A'

// Size of the ring in bytes; argument: the integer 0.
static const unsigned long kCmdOutSize = _IOW(QVAUDIO_IOC_TYPE, 0, int);
// Hardware write position, bytes from the ring's start; no argument.
static const unsigned long kCmdOutHwPos = _IOW(QVAUDIO_IOC_TYPE, 1, int);
// Moves the application read position; argument: a position in bytes.
static const unsigned long kCmdOutSetReadPos = _IOW(QVAUDIO_IOC_TYPE, 2, int);
// Starts the output; argument: the integer 1.
static const unsigned long kCmdOutSetup = _IOW(QVAUDIO_IOC_TYPE, 7, int);
// Application read position, bytes from the ring's start; no argument.
static const unsigned long kCmdOutReadPos = _IOW(QVAUDIO_IOC_TYPE, 9, int);
