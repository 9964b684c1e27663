// SPDX-License-Identifier: (GPL-2.0 OR MIT)
/*
 * The Wi-Fi power driver behind /dev/wifi_power, the same model as the preloaded board's.
 *
 * Four argument-less requests of type 'm': 1 power up, 2 power down, 3 power up (second way),
 * 4 power down (second way). Each is accepted (0) unless its number is listed in wifi_refuse,
 * in which case it fails with EIO. Any other request fails with ENOTTY. wifi_present=0 leaves
 * the node out. The module's power after the last accepted request is debugfs wifi_power.
 */
#include <linux/debugfs.h>
#include <linux/fs.h>
#include <linux/miscdevice.h>
#include <linux/module.h>

#include "sim.h"
#include "bringup/wifi_power.h"

static DEFINE_MUTEX(wifi_lock);
static int wifi_power = -1;	/* -1 until a request is accepted */
static bool registered;

static long wifi_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	unsigned int n = cmd & 0xff;

	if (n < 1 || n > WIFI_POWER_REQUEST_COUNT || cmd != WIFI_POWER_REQUEST(n))
		return -ENOTTY;
	if (sim_config.wifi_refuse & (1u << n))
		return -EIO;
	mutex_lock(&wifi_lock);
	wifi_power = n == 1 || n == 3;
	mutex_unlock(&wifi_lock);
	return 0;
}

static const struct file_operations wifi_fops = {
	.owner = THIS_MODULE,
	.open = nonseekable_open,
	.unlocked_ioctl = wifi_ioctl,
	.compat_ioctl = wifi_ioctl,
	.llseek = noop_llseek,
};

static struct miscdevice wifi_misc = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = WIFI_POWER_NAME,
	.fops = &wifi_fops,
	.mode = 0600,
};

/* "1" or "0", or nothing before the first accepted request. */
static int show_power(const struct sim_text_file *f, char *buf, size_t size)
{
	int len = 0;

	mutex_lock(&wifi_lock);
	if (wifi_power >= 0)
		len = scnprintf(buf, size, "%d\n", wifi_power);
	mutex_unlock(&wifi_lock);
	return len;
}

static const struct sim_text_file power_file = { "wifi_power", 0444, show_power, NULL, NULL };

int sim_wifi_init(struct dentry *dir)
{
	int err;

	sim_debugfs_add(dir, &power_file);
	if (!sim_config.wifi_present)
		return 0;
	err = misc_register(&wifi_misc);
	registered = err == 0;
	return err;
}

void sim_wifi_exit(void)
{
	if (registered)
		misc_deregister(&wifi_misc);
	registered = false;
}
