/* SPDX-License-Identifier: (GPL-2.0 OR MIT) */
/*
 * The kernel board: the simulated board's drivers inside Linux. The settings (module parameters
 * and their run-time counterparts in debugfs), and what each driver part offers the others.
 */
#ifndef BRINGUP_SIM_H
#define BRINGUP_SIM_H

#include <linux/dcache.h>
#include <linux/fs.h>
#include <linux/mutex.h>
#include <linux/types.h>

#include "bringup/board_settings.h"

/* Calls of one kind counted from 1: "3", "2,5", "4-6", "7-" (7 and every later one). */
#define SIM_CALLS_MAX 8
#define SIM_CALLS_TEXT (BOARD_SETTING_MAX + 1)
struct sim_calls {
	int count;
	long long first[SIM_CALLS_MAX];
	long long last[SIM_CALLS_MAX];	/* -1: no end */
	char text[SIM_CALLS_TEXT];
};

int sim_calls_parse(const char *text, struct sim_calls *calls);
bool sim_calls_in(const struct sim_calls *calls, long long call);

/* Whether `item` is one of the comma-separated words of `list`. */
bool sim_listed(const char *list, const char *item);

#define SIM_TEXT (BOARD_SETTING_MAX + 1)

/* The settings the module was loaded with, profile and parameters resolved and checked. */
struct sim_config {
	bool audio_present;
	long long audio_ring;
	long long audio_rate;
	long long audio_align;
	bool audio_counter;
	long long audio_tone_mhz;

	bool wifi_present;
	unsigned int wifi_refuse;	/* bit n: request n is refused */

	bool usb_version_present;
	char usb_version[SIM_TEXT];
	bool usb_port_present[2];
	bool usb_sleepm;
	bool usb_iddq;
	char usb_port_missing[2][SIM_TEXT];
	bool usb_phy_control;
	char usb_phy_control_missing[SIM_TEXT];
	bool usb_mod_class;
	bool usb_peripheral[2];
	char usb_busvalid[2][8];	/* auto, none, a, b, ab */
	bool usb_attached[2];
	bool usb_controller;
};

extern struct sim_config sim_config;

/* The audio faults, which debugfs may change while the module runs. */
struct sim_audio_faults {
	bool size_set;
	int size;
	char size_text[SIM_TEXT];
	long long absent_opens;
	struct sim_calls hwpos_fail;
	struct sim_calls readpos_fail;
	struct sim_calls hwpos_range;
	struct sim_calls readpos_range;
	struct sim_calls short_read;
	struct sim_calls read_error;
};

extern struct sim_audio_faults sim_audio_faults;
/* Guards sim_audio_faults. */
extern struct mutex sim_faults_lock;

/*
 * The size request's answer goes back through ioctl's return value: a negative one reaches the
 * program as -1 with its negation as errno, and the kernel's own codes from 512 up must never
 * reach a program at all, so the answers it can give faithfully are SIM_SIZE_LOW to INT_MAX.
 */
#define SIM_SIZE_LOW (-511)
int sim_parse_size(const char *text, struct sim_audio_faults *faults);

/*
 * A debugfs file of text: show writes its text (a line) and returns the length; set, when there
 * is one, takes what was written, the line end taken off, and returns 0 or an error number.
 */
struct sim_text_file {
	const char *name;
	umode_t mode;
	int (*show)(const struct sim_text_file *file, char *buf, size_t size);
	int (*set)(const struct sim_text_file *file, const char *text);
	void *data;
};

void sim_debugfs_add(struct dentry *dir, const struct sim_text_file *file);

/*
 * Copies what a program wrote to a debugfs file into buf (size bytes, for the value, a line end
 * and the NUL): 0, or EINVAL for text too long or holding a NUL before its end (less an
 * optional line end), EFAULT for a bad buffer. The line end is taken off.
 */
int sim_user_text(const char __user *ubuf, size_t count, char *buf, size_t size);

/*
 * A debugfs file holding a number, read and written as the kernel's attribute files are
 * ("%llu" and a line end), except that a value holding a NUL is refused.
 */
#define SIM_NUMBER_TEXT 24
ssize_t sim_attr_write(struct file *file, const char __user *ubuf, size_t count, loff_t *ppos);
#define SIM_ATTRIBUTE(fops, get, set)						\
static int fops##_open(struct inode *inode, struct file *file)			\
{										\
	return simple_attr_open(inode, file, get, set, "%llu\n");		\
}										\
static const struct file_operations fops = {					\
	.owner = THIS_MODULE,							\
	.open = fops##_open,							\
	.release = simple_attr_release,						\
	.read = debugfs_attr_read,						\
	.write = sim_attr_write,						\
}

int sim_audio_init(struct dentry *dir);
void sim_audio_exit(void);
int sim_wifi_init(struct dentry *dir);
void sim_wifi_exit(void);
int sim_usb_init(struct dentry *dir);
void sim_usb_exit(void);

#endif
