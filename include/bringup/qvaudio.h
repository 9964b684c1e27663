/* SPDX-License-Identifier: (GPL-2.0 OR MIT) */
// The audio output driver's character device: its node and its ioctl requests.
//
// Every request carries an int-sized argument slot, type letter 'A', and is answered through
// ioctl's return value (-1 on failure). Requests without an argument are still numbered as _IOW.
//
// Included by the programs (C++) and by the kernel board (C, inside the kernel): the facts are
// macros, and the programs' named constants are made from them.
#pragma once

#ifdef __KERNEL__
#include <linux/ioctl.h>
#else
#include <sys/ioctl.h>
#endif

#define QVAUDIO_NAME "qvaudio_out"
#define QVAUDIO_NODE "/dev/" QVAUDIO_NAME
#define QVAUDIO_IOC_TYPE 'A'

// Size of the ring in bytes; argument: the integer 0.
#define QVAUDIO_CMD_OUT_SIZE _IOW(QVAUDIO_IOC_TYPE, 0, int)
// Hardware write position, bytes from the ring's start; no argument.
#define QVAUDIO_CMD_OUT_HWPOS _IOW(QVAUDIO_IOC_TYPE, 1, int)
// Moves the application read position; argument: a position in bytes.
#define QVAUDIO_CMD_OUT_SET_READPOS _IOW(QVAUDIO_IOC_TYPE, 2, int)
// Starts the output; argument: the integer 1.
#define QVAUDIO_CMD_OUT_SETUP _IOW(QVAUDIO_IOC_TYPE, 7, int)
// Application read position, bytes from the ring's start; no argument.
#define QVAUDIO_CMD_OUT_READPOS _IOW(QVAUDIO_IOC_TYPE, 9, int)

#ifndef __KERNEL__
static const unsigned long kCmdOutSize = QVAUDIO_CMD_OUT_SIZE;
static const unsigned long kCmdOutHwPos = QVAUDIO_CMD_OUT_HWPOS;
static const unsigned long kCmdOutSetReadPos = QVAUDIO_CMD_OUT_SET_READPOS;
static const unsigned long kCmdOutSetup = QVAUDIO_CMD_OUT_SETUP;
static const unsigned long kCmdOutReadPos = QVAUDIO_CMD_OUT_READPOS;
#endif
