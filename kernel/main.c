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
#include "bringup/audio_stream_core.h"
#include "bringup/board_profiles.h"
#include "bringup/board_settings.h"

static char *profile;
module_param(profile, charp, 0444);
MODULE_PARM_DESC(profile, "board profile: default, counter, otg-2.60a, ... (see bringup_sim(4))");

/* The settings' indices, in the order of include/bringup/board_settings.h: SET_audio_rate, ... */
#define ROW_INDEX(name, ...) SET_##name,
enum {
	BOARD_SETTINGS(ROW_INDEX, ROW_INDEX, ROW_INDEX, ROW_INDEX, ROW_INDEX, ROW_INDEX, ROW_INDEX)
	SIM_SETTINGS
};

/*
 * Each board setting is a text parameter of its own name, checked at load against its row of
 * include/bringup/board_settings.h; NULL when not given.
 */
static char *sim_params[SIM_SETTINGS];

#define SIM_PARAM(name, desc)						\
	module_param_named(name, sim_params[SET_##name], charp, 0444);	\
	MODULE_PARM_DESC(name, desc);

#define PARAM_NUMBER(name, key, def, low, high, units, text) \
	SIM_PARAM(name, text " [" #def "]")
#define PARAM_OPTIONAL(name, key, low, high, units, text) SIM_PARAM(name, text)
#define PARAM_WORD(name, key, def, words, text) SIM_PARAM(name, text ": " words " [" def "]")
#define PARAM_LIST(name, key, def, items, text) SIM_PARAM(name, text ": " items " [" def "]")
#define PARAM_CALLS(name, key, text) SIM_PARAM(name, "CALLS: " text)
#define PARAM_TEXT(name, key, def, text) SIM_PARAM(name, text " [" def "]")
#define PARAM_HERTZ(name, key, def, text) SIM_PARAM(name, text " [" def "]")

BOARD_SETTINGS(PARAM_NUMBER, PARAM_OPTIONAL, PARAM_WORD, PARAM_LIST, PARAM_CALLS, PARAM_TEXT,
	       PARAM_HERTZ)

enum sim_kind { KIND_NUMBER, KIND_OPTIONAL, KIND_WORD, KIND_LIST, KIND_CALLS, KIND_TEXT,
		KIND_HERTZ };

/* What each setting takes, by its index. */
static const struct sim_setting {
	const char *name;
	const char *key;
	enum sim_kind kind;
	const char *def;
	long long low, high;
	const char *words;
} sim_settings[] = {
#define ROW_NUMBER(name, key, def, low, high, units, text) \
	{ #name, key, KIND_NUMBER, #def, low, high, NULL },
#define ROW_OPTIONAL(name, key, low, high, units, text) \
	{ #name, key, KIND_OPTIONAL, "", low, high, NULL },
#define ROW_WORD(name, key, def, words, text) { #name, key, KIND_WORD, def, 0, 0, words },
#define ROW_LIST(name, key, def, items, text) { #name, key, KIND_LIST, def, 0, 0, items },
#define ROW_CALLS(name, key, text) { #name, key, KIND_CALLS, "", 0, 0, NULL },
#define ROW_TEXT(name, key, def, text) { #name, key, KIND_TEXT, def, 0, 0, NULL },
#define ROW_HERTZ(name, key, def, text) { #name, key, KIND_HERTZ, def, 0, 0, NULL },
	BOARD_SETTINGS(ROW_NUMBER, ROW_OPTIONAL, ROW_WORD, ROW_LIST, ROW_CALLS, ROW_TEXT, ROW_HERTZ)
};

static const struct board_profile board_profiles[] = { BOARD_PROFILES(BOARD_PROFILE_ROW) };

struct sim_config sim_config;
struct sim_audio_faults sim_audio_faults;
/* Guards sim_audio_faults, which debugfs may change while requests read them. */
DEFINE_MUTEX(sim_faults_lock);

static struct dentry *sim_debugfs;

/* Each setting's value as text, and as a number for those that are numbers or words. */
static char sim_values[SIM_SETTINGS][BOARD_SETTING_MAX + 1] __initdata;
static long long sim_numbers[SIM_SETTINGS] __initdata;

/* The index of the n bytes at `item` among the space-separated `words`, or -1. */
static int word_index(const char *words, const char *item, size_t n)
{
	int i;

	for (i = 0; *words; i++) {
		size_t len = strcspn(words, " ");

		if (len == n && n > 0 && !strncmp(words, item, n))
			return i;
		words += len;
		if (*words)
			words++;
	}
	return -1;
}

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

		if (*p == ',') {
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
		if (*p && *p != ',')
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
	long long value = 0;

	if (*text && (kstrtoll(text, 0, &value) || value < SIM_SIZE_LOW || value > INT_MAX))
		return -EINVAL;
	faults->size_set = *text != '\0';
	faults->size = value;
	strscpy(faults->size_text, text, sizeof(faults->size_text));
	return 0;
}

/*
 * The value of `key` in a profile's settings text: where it starts and its length, blanks at
 * either end left out; false when the profile has none. A later line replaces an earlier one.
 */
static bool profile_value(const char *settings, const char *key, const char **value,
			  size_t *size)
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
				*value = v;
				*size = vlen;
				found = true;
			}
		}
		settings += line;
		if (*settings)
			settings++;
	}
	return found;
}

/* Refuses a setting's value, naming its parameter. */
static int refuse(const struct sim_setting *s, const char *value)
{
	pr_err("%s=%s: not a value it takes\n", s->name, value);
	return -EINVAL;
}

/*
 * The setting's text: its parameter, else the named profile's, else the profile "default"'s,
 * else the built-in default, whole. A value longer than BOARD_SETTING_MAX is refused, never cut.
 */
static int __init setting_text(int index, char *out)
{
	const struct sim_setting *s = &sim_settings[index];
	const char *value = s->def;
	size_t len = strlen(s->def);
	int i, pass;
	bool found = false;

	if (sim_params[index]) {
		value = sim_params[index];
		len = strlen(value);
		found = true;
	}
	for (pass = 0; pass < 2 && !found; pass++) {
		const char *which = pass == 0 && profile ? profile : "default";

		for (i = ARRAY_SIZE(board_profiles) - 1; i >= 0 && !found; i--)
			if (!strcmp(board_profiles[i].name, which))
				found = profile_value(board_profiles[i].settings, s->key, &value,
						      &len);
	}
	if (len > BOARD_SETTING_MAX) {
		pr_err("%s: a value of more than %d characters is not one it takes\n",
		       s->name, BOARD_SETTING_MAX);
		return -EINVAL;
	}
	memcpy(out, value, len);
	out[len] = '\0';
	return 0;
}

/* Whether every comma-separated item of `list` is one of the `items`. */
static bool list_known(const char *list, const char *items)
{
	while (*list) {
		size_t len = strcspn(list, ",");

		if (len && word_index(items, list, len) < 0)
			return false;
		list += len;
		if (*list)
			list++;
	}
	return true;
}

/* Reads and checks setting i into sim_values[i] (and sim_numbers[i]). */
static int __init read_setting(int i)
{
	const struct sim_setting *s = &sim_settings[i];
	char *text = sim_values[i];
	long long *number = &sim_numbers[i];
	struct sim_calls calls;

	*number = 0;
	if (setting_text(i, text))
		return -EINVAL;
	switch (s->kind) {
	case KIND_OPTIONAL:
		if (!*text)
			return 0;
		fallthrough;
	case KIND_NUMBER:
		if (kstrtoll(text, 0, number) || *number < s->low || *number > s->high)
			return refuse(s, text);
		return 0;
	case KIND_WORD:
		*number = word_index(s->words, text, strlen(text));
		return *number < 0 ? refuse(s, text) : 0;
	case KIND_LIST:
		return list_known(text, s->words) ? 0 : refuse(s, text);
	case KIND_CALLS:
		return sim_calls_parse(text, &calls) ? refuse(s, text) : 0;
	case KIND_HERTZ:
		return audio_stream_parse_mhz(text, number) || *number <= 0 ? refuse(s, text) : 0;
	case KIND_TEXT:
		return 0;
	}
	return -EINVAL;
}

#define VALUE(name) (sim_values[SET_##name])
#define NUMBER(name) (sim_numbers[SET_##name])

static int __init read_audio(struct sim_config *c, struct sim_audio_faults *f)
{
	c->audio_present = NUMBER(audio_present);
	c->audio_ring = NUMBER(audio_ring);
	c->audio_rate = NUMBER(audio_rate);
	c->audio_align = NUMBER(audio_align);
	c->audio_counter = NUMBER(audio_content) == 1;
	c->audio_tone_mhz = NUMBER(audio_tone_hz);
	f->absent_opens = NUMBER(audio_fault_absent_opens);
	if (sim_parse_size(VALUE(audio_fault_size), f))
		return refuse(&sim_settings[SET_audio_fault_size], VALUE(audio_fault_size));
	sim_calls_parse(VALUE(audio_fault_hwpos_fail), &f->hwpos_fail);
	sim_calls_parse(VALUE(audio_fault_readpos_fail), &f->readpos_fail);
	sim_calls_parse(VALUE(audio_fault_hwpos_range), &f->hwpos_range);
	sim_calls_parse(VALUE(audio_fault_readpos_range), &f->readpos_range);
	sim_calls_parse(VALUE(audio_fault_short_read), &f->short_read);
	sim_calls_parse(VALUE(audio_fault_read_error), &f->read_error);
	return 0;
}

static void __init read_wifi(struct sim_config *c)
{
	static const char *const requests[] = { "1", "2", "3", "4" };
	int n;

	c->wifi_present = NUMBER(wifi_present);
	for (n = 1; n <= ARRAY_SIZE(requests); n++)
		if (sim_listed(VALUE(wifi_refuse), requests[n - 1]))
			c->wifi_refuse |= 1u << n;
}

static void __init read_usb(struct sim_config *c)
{
	enum { PHY_SLEEPM, PHY_IDDQ, PHY_BOTH };
	static const char *const busvalids[] = { "auto", "none", "a", "b", "ab" };
	const long long role[2] = { NUMBER(usb_port0_role), NUMBER(usb_port1_role) };
	const long long valid[2] = { NUMBER(usb_port0_busvalid), NUMBER(usb_port1_busvalid) };
	const bool attached[2] = { NUMBER(usb_port0_attached), NUMBER(usb_port1_attached) };
	int port;

	strscpy(c->usb_version, VALUE(usb_version), sizeof(c->usb_version));
	c->usb_version_present = strcmp(c->usb_version, "none") != 0;
	c->usb_sleepm = NUMBER(usb_phy) != PHY_IDDQ;
	c->usb_iddq = NUMBER(usb_phy) != PHY_SLEEPM;
	c->usb_phy_control = NUMBER(usb_phy_control);
	strscpy(c->usb_phy_control_missing, VALUE(usb_phy_control_missing),
		sizeof(c->usb_phy_control_missing));
	c->usb_mod_class = NUMBER(usb_mod_class);
	c->usb_controller = NUMBER(usb_controller);
	strscpy(c->usb_port_missing[0], VALUE(usb_port0_missing), sizeof(c->usb_port_missing[0]));
	strscpy(c->usb_port_missing[1], VALUE(usb_port1_missing), sizeof(c->usb_port_missing[1]));
	for (port = 0; port < 2; port++) {
		c->usb_port_present[port] = sim_listed(VALUE(usb_ports), port ? "1" : "0");
		c->usb_peripheral[port] = role[port] == 1;
		strscpy(c->usb_busvalid[port], busvalids[valid[port]],
			sizeof(c->usb_busvalid[port]));
		c->usb_attached[port] = attached[port];
	}
}

static int __init read_settings(void)
{
	int i, err = 0;

	if (profile) {
		bool known = false;

		for (i = 0; i < ARRAY_SIZE(board_profiles); i++)
			known = known || !strcmp(board_profiles[i].name, profile);
		if (!known) {
			pr_err("profile=%s: not a value it takes\n", profile);
			return -EINVAL;
		}
	}
	for (i = 0; i < SIM_SETTINGS; i++)
		err |= read_setting(i);
	if (err)
		return -EINVAL;
	err = read_audio(&sim_config, &sim_audio_faults);
	read_wifi(&sim_config);
	read_usb(&sim_config);
	return err;
}

/* debugfs */

/* The text written to a debugfs file: one value, an optional line end, no NUL before its end. */
int sim_user_text(const char __user *ubuf, size_t count, char *buf, size_t size)
{
	size_t len = count;

	if (count >= size)
		return -EINVAL;
	if (copy_from_user(buf, ubuf, count))
		return -EFAULT;
	buf[count] = '\0';
	if (len && buf[len - 1] == '\n')
		buf[--len] = '\0';
	if (strlen(buf) != len)
		return -EINVAL;
	return 0;
}

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
	char buf[BOARD_SETTING_MAX + 2];
	int err;

	if (!f->set || *ppos != 0)
		return -EINVAL;
	err = sim_user_text(ubuf, count, buf, sizeof(buf));
	if (!err)
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

/* A number file's write: the kernel's own, once the text is known to hold no NUL. */
ssize_t sim_attr_write(struct file *file, const char __user *ubuf, size_t count, loff_t *ppos)
{
	char buf[SIM_NUMBER_TEXT];
	int err = sim_user_text(ubuf, count, buf, sizeof(buf));

	return err ? err : debugfs_attr_write(file, ubuf, count, ppos);
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
