// SPDX-License-Identifier: (GPL-2.0 OR MIT)
/*
 * The kernel board: the simulated board's drivers inside Linux, for running the bring-up
 * programs against a real kernel before the hardware exists.
 *
 * Settings come as module parameters named after the preloaded board's board.conf keys, '.'
 * written '_' (audio.rate is audio_rate). Each is taken from, in this order: the parameter, the
 * profile named by profile= (the shared include/bringup/board_profiles.h), the profile
 * "default", the built-in default. Every value is checked at load; a bad one fails the load
 * with EINVAL and a message naming it.
 */
#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/ctype.h>
#include <linux/debugfs.h>
#include <linux/fs.h>
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/uaccess.h>

#include "sim.h"
#include "bringup/audio_stream.h"
#include "bringup/board_profiles.h"

#define SIM_PARAM(name, desc) \
	static char *name; \
	module_param(name, charp, 0444); \
	MODULE_PARM_DESC(name, desc)

SIM_PARAM(profile, "board profile: default, counter, otg-2.60a, ... (see bringup_sim(4))");
SIM_PARAM(audio_present, "1: /dev/qvaudio_out exists [1]");
SIM_PARAM(audio_ring, "ring size in bytes [65536]");
SIM_PARAM(audio_rate, "bytes per second the hardware produces [192000]");
SIM_PARAM(audio_align, "the hardware position moves in steps of this many bytes [4]");
SIM_PARAM(audio_content, "tone or counter [tone]");
SIM_PARAM(audio_tone_hz, "the tone's frequency in hertz, up to three decimals [440]");
SIM_PARAM(audio_fault_absent_opens, "the first N opens fail with ENOENT [0]");
SIM_PARAM(audio_fault_size, "the size request answers this number");
SIM_PARAM(audio_fault_hwpos_fail, "CALLS: these hardware-position requests fail");
SIM_PARAM(audio_fault_readpos_fail, "CALLS: these read-position requests fail");
SIM_PARAM(audio_fault_hwpos_range, "CALLS: these hardware-position requests answer outside the ring");
SIM_PARAM(audio_fault_readpos_range, "CALLS: these read-position requests answer outside the ring");
SIM_PARAM(audio_fault_short_read, "CALLS: these reads return half");
SIM_PARAM(audio_fault_read_error, "CALLS: these reads fail");
SIM_PARAM(wifi_present, "1: /dev/wifi_power exists [1]");
SIM_PARAM(wifi_refuse, "the requests refused, e.g. 1,3");
SIM_PARAM(usb_version, "the controller version text, none for no version file [2.94a]");
SIM_PARAM(usb_ports, "the ports present: 0,1, 0, 1 or none [0,1]");
SIM_PARAM(usb_phy, "the PHY power attributes: sleepm, iddq or both [both]");
SIM_PARAM(usb_port0_missing, "attributes of port 0 left out, e.g. busconnected,peri_otg_disable");
SIM_PARAM(usb_port1_missing, "attributes of port 1 left out");
SIM_PARAM(usb_phy_control, "1: the PHY-control device exists [1]");
SIM_PARAM(usb_phy_control_missing, "attributes of the PHY-control device left out");
SIM_PARAM(usb_mod_class, "1: the module power class exists [1]");
SIM_PARAM(usb_port0_role, "host or peripheral [host]");
SIM_PARAM(usb_port1_role, "host or peripheral [host]");
SIM_PARAM(usb_port0_busvalid, "auto, none, a, b or ab [auto]");
SIM_PARAM(usb_port1_busvalid, "auto, none, a, b or ab [auto]");
SIM_PARAM(usb_port0_attached, "1: a device is attached to port 0 [0]");
SIM_PARAM(usb_port1_attached, "1: a device is attached to port 1 [0]");
SIM_PARAM(usb_controller, "0: the controller registers only when debugfs controller gets 1 [1]");

/* Each parameter with its board.conf key and the value it has when nothing gives one. */
static const struct {
	const char *key;
	char **param;
	const char *fallback;
} sim_params[] = {
	{ "audio.present", &audio_present, "1" },
	{ "audio.ring", &audio_ring, "65536" },
	{ "audio.rate", &audio_rate, "192000" },
	{ "audio.align", &audio_align, "4" },
	{ "audio.content", &audio_content, "tone" },
	{ "audio.tone_hz", &audio_tone_hz, "440" },
	{ "audio.fault.absent_opens", &audio_fault_absent_opens, "0" },
	{ "audio.fault.size", &audio_fault_size, "" },
	{ "audio.fault.hwpos_fail", &audio_fault_hwpos_fail, "" },
	{ "audio.fault.readpos_fail", &audio_fault_readpos_fail, "" },
	{ "audio.fault.hwpos_range", &audio_fault_hwpos_range, "" },
	{ "audio.fault.readpos_range", &audio_fault_readpos_range, "" },
	{ "audio.fault.short_read", &audio_fault_short_read, "" },
	{ "audio.fault.read_error", &audio_fault_read_error, "" },
	{ "wifi.present", &wifi_present, "1" },
	{ "wifi.refuse", &wifi_refuse, "" },
	{ "usb.version", &usb_version, "none" },
	{ "usb.ports", &usb_ports, "0,1" },
	{ "usb.phy", &usb_phy, "both" },
	{ "usb.port0.missing", &usb_port0_missing, "" },
	{ "usb.port1.missing", &usb_port1_missing, "" },
	{ "usb.phy_control", &usb_phy_control, "1" },
	{ "usb.phy_control.missing", &usb_phy_control_missing, "" },
	{ "usb.mod_class", &usb_mod_class, "1" },
	{ "usb.port0.role", &usb_port0_role, "host" },
	{ "usb.port1.role", &usb_port1_role, "host" },
	{ "usb.port0.busvalid", &usb_port0_busvalid, "auto" },
	{ "usb.port1.busvalid", &usb_port1_busvalid, "auto" },
	{ "usb.port0.attached", &usb_port0_attached, "0" },
	{ "usb.port1.attached", &usb_port1_attached, "0" },
	{ "usb.controller", &usb_controller, "1" },
};

struct sim_config sim_config;
struct sim_audio_faults sim_audio_faults;
DEFINE_MUTEX(sim_faults_lock);

static struct dentry *sim_debugfs;

bool sim_listed(const char *list, const char *item)
{
	size_t n = strlen(item);

	while (*list) {
		size_t len = strcspn(list, ", ");

		if (len == n && n > 0 && strncmp(list, item, n) == 0)
			return true;
		list += len;
		if (*list)
			list++;
	}
	return false;
}

/* The call number at *p, moving *p past its digits; false when there is none or it is too big. */
static bool call_number(const char **p, long long *out)
{
	*out = 0;
	if (!isdigit(**p))
		return false;
	for (; isdigit(**p); (*p)++) {
		if (*out > (LLONG_MAX - 9) / 10)
			return false;
		*out = *out * 10 + (**p - '0');
	}
	return true;
}

int sim_calls_parse(const char *text, struct sim_calls *calls)
{
	const char *p = text;

	if (strlen(text) >= sizeof(calls->text))
		return -EINVAL;
	memset(calls, 0, sizeof(*calls));
	strscpy(calls->text, text, sizeof(calls->text));
	while (*p) {
		long long first, last;

		if (*p == ',' || *p == ' ') {
			p++;
			continue;
		}
		if (calls->count == SIM_CALLS_MAX || !call_number(&p, &first))
			return -EINVAL;
		last = first;
		if (*p == '-') {
			p++;
			last = -1;
			if (isdigit(*p) && (!call_number(&p, &last) || last < first))
				return -EINVAL;
		}
		if (*p && *p != ',' && *p != ' ')
			return -EINVAL;
		calls->first[calls->count] = first;
		calls->last[calls->count] = last;
		calls->count++;
	}
	return 0;
}

bool sim_calls_in(const struct sim_calls *calls, long long call)
{
	int i;

	for (i = 0; i < calls->count; i++)
		if (call >= calls->first[i] && (calls->last[i] < 0 || call <= calls->last[i]))
			return true;
	return false;
}

int sim_parse_size(const char *text, struct sim_audio_faults *faults)
{
	long value = 0;

	if (*text && kstrtol(text, 0, &value))
		return -EINVAL;
	faults->size_set = *text != '\0';
	faults->size = value;
	strscpy(faults->size_text, text, sizeof(faults->size_text));
	return 0;
}

/* The value of `key` in a profile's settings text, copied into out; false when it has none. */
static bool profile_value(const char *settings, const char *key, char *out, size_t size)
{
	bool found = false;

	while (*settings) {
		size_t line = strcspn(settings, "\n");
		const char *eq = memchr(settings, '=', line);
		const char *k = settings, *v;
		size_t klen, vlen;

		if (eq && *settings != '#') {
			while (k < eq && isspace(*k))
				k++;
			klen = eq - k;
			while (klen && isspace(k[klen - 1]))
				klen--;
			v = eq + 1;
			while (v < settings + line && isspace(*v))
				v++;
			vlen = settings + line - v;
			while (vlen && isspace(v[vlen - 1]))
				vlen--;
			if (klen == strlen(key) && !strncmp(k, key, klen)) {
				/* A later line replaces an earlier one. */
				strscpy(out, v, min(size, vlen + 1));
				found = true;
			}
		}
		settings += line;
		if (*settings)
			settings++;
	}
	return found;
}

/* The setting `key`: its parameter, else the profile's part, else default's, else fallback. */
static void setting(const char *key, char *out, size_t size)
{
	const char *name = profile ? profile : "default";
	bool found = false;
	int i, pass;

	for (i = 0; i < ARRAY_SIZE(sim_params); i++) {
		if (strcmp(sim_params[i].key, key))
			continue;
		if (*sim_params[i].param) {
			strscpy(out, *sim_params[i].param, size);
			return;
		}
		strscpy(out, sim_params[i].fallback, size);
	}
	for (pass = 0; pass < 2 && !found; pass++) {
		const char *which = pass == 0 ? name : "default";

		for (i = ARRAY_SIZE(board_profiles) - 1; i >= 0 && !found; i--)
			if (!strcmp(board_profiles[i].name, which))
				found = profile_value(board_profiles[i].settings, key, out, size);
	}
}

/* Refuses a setting's value, naming the parameter (the key with '.' as '_'). */
static int refuse(const char *key, const char *value)
{
	char name[SIM_TEXT];
	char *dot;

	strscpy(name, key, sizeof(name));
	while ((dot = strchr(name, '.')))
		*dot = '_';
	pr_err("%s=%s: not a value it takes\n", name, value);
	return -EINVAL;
}

static int get_text(const char *key, char *out, size_t size)
{
	char value[SIM_TEXT * 2];

	setting(key, value, sizeof(value));
	if (strlen(value) >= size)
		return refuse(key, value);
	strscpy(out, value, size);
	return 0;
}

static int get_number(const char *key, long long low, long long high, long long *out)
{
	char value[SIM_TEXT];

	setting(key, value, sizeof(value));
	if (kstrtoll(value, 0, out) || *out < low || *out > high)
		return refuse(key, value);
	return 0;
}

static int get_flag(const char *key, bool *out)
{
	long long value;
	int err = get_number(key, 0, 1, &value);

	*out = value == 1;
	return err;
}

/* One of the words of `choices` (NULL-ended); its index. */
static int get_choice(const char *key, const char *const *choices, int *out)
{
	char value[SIM_TEXT];
	int i;

	setting(key, value, sizeof(value));
	for (i = 0; choices[i]; i++) {
		if (!strcmp(value, choices[i])) {
			*out = i;
			return 0;
		}
	}
	return refuse(key, value);
}

static int get_calls(const char *key, struct sim_calls *calls)
{
	char value[SIM_TEXT];

	setting(key, value, sizeof(value));
	if (sim_calls_parse(value, calls))
		return refuse(key, value);
	return 0;
}

/* A list of items each of which is one of `items` (NULL-ended); the empty list too. */
static int get_list(const char *key, const char *const *items, char *out, size_t size)
{
	char value[SIM_TEXT];
	const char *p;
	int i;

	setting(key, value, sizeof(value));
	for (p = value; *p;) {
		size_t len = strcspn(p, ", ");
		bool known = len == 0;

		for (i = 0; items[i] && !known; i++)
			known = strlen(items[i]) == len && !strncmp(p, items[i], len);
		if (!known)
			return refuse(key, value);
		p += len;
		if (*p)
			p++;
	}
	strscpy(out, value, size);
	return 0;
}

static const char *const contents[] = { "tone", "counter", NULL };
static const char *const phys[] = { "sleepm", "iddq", "both", NULL };
static const char *const roles[] = { "host", "peripheral", NULL };
static const char *const busvalids[] = { "auto", "none", "a", "b", "ab", NULL };
static const char *const port_attrs[] = { "gotgctl", "busconnected", "pullup", "peri_sleepm",
					  "peri_iddq", "peri_otg_disable", NULL };
static const char *const phy_attrs[] = { "index", "por", "otgdisable", NULL };
static const char *const wifi_requests[] = { "1", "2", "3", "4", NULL };
static const char *const port_numbers[] = { "0", "1", "none", NULL };

static int read_audio(struct sim_config *c, struct sim_audio_faults *f)
{
	char text[SIM_TEXT];
	int content = 0, err = 0;

	err |= get_flag("audio.present", &c->audio_present);
	err |= get_number("audio.ring", 1, INT_MAX, &c->audio_ring);
	err |= get_number("audio.rate", 0, AUDIO_STREAM_RATE_MAX, &c->audio_rate);
	err |= get_number("audio.align", 1, INT_MAX, &c->audio_align);
	err |= get_choice("audio.content", contents, &content);
	c->audio_counter = content == 1;
	setting("audio.tone_hz", text, sizeof(text));
	if (audio_stream_parse_mhz(text, &c->audio_tone_mhz))
		err |= refuse("audio.tone_hz", text);
	err |= get_number("audio.fault.absent_opens", 0, LLONG_MAX, &f->absent_opens);
	setting("audio.fault.size", text, sizeof(text));
	if (sim_parse_size(text, f))
		err |= refuse("audio.fault.size", text);
	err |= get_calls("audio.fault.hwpos_fail", &f->hwpos_fail);
	err |= get_calls("audio.fault.readpos_fail", &f->readpos_fail);
	err |= get_calls("audio.fault.hwpos_range", &f->hwpos_range);
	err |= get_calls("audio.fault.readpos_range", &f->readpos_range);
	err |= get_calls("audio.fault.short_read", &f->short_read);
	err |= get_calls("audio.fault.read_error", &f->read_error);
	return err ? -EINVAL : 0;
}

static int read_wifi(struct sim_config *c)
{
	char list[SIM_TEXT];
	int n, err = 0;

	err |= get_flag("wifi.present", &c->wifi_present);
	err |= get_list("wifi.refuse", wifi_requests, list, sizeof(list));
	for (n = 1; n <= 4; n++)
		if (sim_listed(list, wifi_requests[n - 1]))
			c->wifi_refuse |= 1u << n;
	return err ? -EINVAL : 0;
}

static int read_usb(struct sim_config *c)
{
	static const char *const keys[2][4] = {
		{ "usb.port0.missing", "usb.port0.role", "usb.port0.busvalid",
		  "usb.port0.attached" },
		{ "usb.port1.missing", "usb.port1.role", "usb.port1.busvalid",
		  "usb.port1.attached" },
	};
	char ports[SIM_TEXT];
	int port, phy = 0, role = 0, valid = 0, err = 0;

	err |= get_text("usb.version", c->usb_version, sizeof(c->usb_version));
	c->usb_version_present = strcmp(c->usb_version, "none") != 0;
	err |= get_list("usb.ports", port_numbers, ports, sizeof(ports));
	err |= get_choice("usb.phy", phys, &phy);
	c->usb_sleepm = phy != 1;
	c->usb_iddq = phy != 0;
	err |= get_flag("usb.phy_control", &c->usb_phy_control);
	err |= get_list("usb.phy_control.missing", phy_attrs, c->usb_phy_control_missing,
			sizeof(c->usb_phy_control_missing));
	err |= get_flag("usb.mod_class", &c->usb_mod_class);
	err |= get_flag("usb.controller", &c->usb_controller);
	for (port = 0; port < 2; port++) {
		c->usb_port_present[port] = sim_listed(ports, port_numbers[port]);
		err |= get_list(keys[port][0], port_attrs, c->usb_port_missing[port],
				sizeof(c->usb_port_missing[port]));
		err |= get_choice(keys[port][1], roles, &role);
		c->usb_peripheral[port] = role == 1;
		err |= get_choice(keys[port][2], busvalids, &valid);
		strscpy(c->usb_busvalid[port], busvalids[valid],
			sizeof(c->usb_busvalid[port]));
		err |= get_flag(keys[port][3], &c->usb_attached[port]);
	}
	return err ? -EINVAL : 0;
}

static int read_settings(void)
{
	int i, err = 0;

	if (profile) {
		bool known = false;

		for (i = 0; i < ARRAY_SIZE(board_profiles); i++)
			known = known || !strcmp(board_profiles[i].name, profile);
		if (!known)
			return refuse("profile", profile);
	}
	err |= read_audio(&sim_config, &sim_audio_faults);
	err |= read_wifi(&sim_config);
	err |= read_usb(&sim_config);
	return err ? -EINVAL : 0;
}

/* debugfs text files */

static ssize_t text_read(struct file *file, char __user *ubuf, size_t count, loff_t *ppos)
{
	const struct sim_text_file *f = file->private_data;
	char *buf;
	int len;
	ssize_t ret;

	if (!f->show)
		return -EINVAL;
	buf = kmalloc(PAGE_SIZE, GFP_KERNEL);
	if (!buf)
		return -ENOMEM;
	len = f->show(f, buf, PAGE_SIZE);
	ret = simple_read_from_buffer(ubuf, count, ppos, buf, len);
	kfree(buf);
	return ret;
}

static ssize_t text_write(struct file *file, const char __user *ubuf, size_t count, loff_t *ppos)
{
	const struct sim_text_file *f = file->private_data;
	char buf[SIM_TEXT];
	int err;

	if (!f->set)
		return -EINVAL;
	if (*ppos != 0 || count >= sizeof(buf))
		return -EINVAL;
	if (copy_from_user(buf, ubuf, count))
		return -EFAULT;
	buf[count] = '\0';
	if (count && buf[count - 1] == '\n')
		buf[count - 1] = '\0';
	err = f->set(f, buf);
	if (err)
		return err;
	*ppos = count;
	return count;
}

static const struct file_operations text_fops = {
	.owner = THIS_MODULE,
	.open = simple_open,
	.read = text_read,
	.write = text_write,
	.llseek = default_llseek,
};

void sim_debugfs_add(struct dentry *dir, const struct sim_text_file *file)
{
	debugfs_create_file(file->name, file->mode, dir, (void *)file, &text_fops);
}

static int __init sim_init(void)
{
	int err = read_settings();

	if (err)
		return err;
	sim_debugfs = debugfs_create_dir("bringup_sim", NULL);
	err = sim_audio_init(sim_debugfs);
	if (err)
		goto fail;
	err = sim_wifi_init(sim_debugfs);
	if (err)
		goto fail_audio;
	err = sim_usb_init(sim_debugfs);
	if (err)
		goto fail_wifi;
	return 0;

fail_wifi:
	sim_wifi_exit();
fail_audio:
	sim_audio_exit();
fail:
	debugfs_remove_recursive(sim_debugfs);
	return err;
}

static void __exit sim_exit(void)
{
	debugfs_remove_recursive(sim_debugfs);
	sim_usb_exit();
	sim_wifi_exit();
	sim_audio_exit();
}

module_init(sim_init);
module_exit(sim_exit);

MODULE_DESCRIPTION("Simulated bring-up board: audio output, USB OTG controller, Wi-Fi power");
MODULE_LICENSE("Dual MIT/GPL");
