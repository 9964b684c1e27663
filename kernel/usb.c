// SPDX-License-Identifier: (GPL-2.0 OR MIT)
/*
 * The USB OTG controller, the same model as the preloaded board's:
 *
 * - the bus "logicmodule" with the driver "dwc_otg", whose attribute "version" gives the
 *   controller version, and one device per port, lm0 and lm1, with no parent, so they show as
 *   /sys/devices/lm0 and /sys/devices/lm1;
 * - the PHY-control platform device "usb_phy_control" (index, por, otgdisable);
 * - the module power class "qvl_mod" (class attributes mod_on, mod_off).
 *
 * Power: a port is powered until told otherwise. "0" written to its peri_sleepm or peri_iddq
 * powers it up, "1" down; "A"/"B" written to usb_phy_control/index selects port 0/1 and
 * "on"/"off" written to usb_phy_control/por powers the selected port (port 0 when none was
 * selected).
 *
 * Status: gotgctl is "GOTGCTL = 0x%08x" with bit 16 for a peripheral port and the two bus-valid
 * bits from the port's busvalid setting ("auto": a peripheral port shows both while a device is
 * attached and the port is powered, none otherwise; a host port always shows both);
 * busconnected is "Bus Connected = 0x1" while a device is attached and the port powered, else
 * 0x0. So an attached device shows only while its port is powered.
 *
 * Attributes that take values start empty and read back exactly what was last written. Each
 * takes one value per write; a value the model does not know is refused with EINVAL and
 * changes nothing.
 */
#include <linux/debugfs.h>
#include <linux/device.h>
#include <linux/module.h>
#include <linux/platform_device.h>
#include <linux/slab.h>
#include <linux/string.h>

#include "compat.h"
#include "sim.h"
#include "bringup/otg.h"

#define MODULES_MAX 8
#define MODULE_NAME_MAX 32

static DEFINE_MUTEX(usb_lock);
static bool powered[2] = { true, true };
static bool attached[2];
static int phy_index;
static struct {
	char name[MODULE_NAME_MAX];
	bool on;
} modules[MODULES_MAX];

/* A value attribute: what was last written to it, and the values it takes. */
struct value_attr {
	struct device_attribute attr;
	const char *const *accepts;	/* NULL-ended */
	char value[2][SIM_TEXT];	/* per port; the PHY-control device uses [0] */
	size_t len[2];
};

/*
 * What the value attributes take: a PHY's power state (peri_sleepm, peri_iddq,
 * peri_otg_disable), a switch turned on or off (pullup, por, otgdisable) and the port the
 * PHY control acts on (index).
 */
static const char *const phy_power_values[] = { OTG_PHY_POWERED, OTG_PHY_UNPOWERED, NULL };
static const char *const switch_values[] = { OTG_POR_ON, OTG_POR_OFF, NULL };
static const char *const port_index_values[] = { OTG_PORT0_LETTER, OTG_PORT1_LETTER, NULL };

/* The index of the value written among `accepts`, or -1; a value holding a NUL is none. */
static int accepted(const char *const *accepts, const char *buf, size_t count)
{
	size_t len = count && buf[count - 1] == '\n' ? count - 1 : count;
	int i;

	if (memchr(buf, '\0', len))
		return -1;
	for (i = 0; accepts[i]; i++)
		if (sysfs_streq(buf, accepts[i]))
			return i;
	return -1;
}

static struct bus_type lm_bus;

/* A port's device, allocated when it registers and freed by its release. */
struct lm_port {
	struct device dev;
	int index;
};

static struct lm_port *lm_ports[2];

static int port_of(struct device *dev)
{
	return container_of(dev, struct lm_port, dev)->index;
}

/* Called with usb_lock held: the port's power changed or the value attribute took a value. */
static void value_taken(struct value_attr *va, int port, int which)
{
	const char *name = va->attr.attr.name;

	if (!strcmp(name, OTG_ATTR_SLEEPM) || !strcmp(name, OTG_ATTR_IDDQ))
		powered[port] = which == 0;
	else if (!strcmp(name, OTG_PHY_ATTR_INDEX))
		phy_index = which;
	else if (!strcmp(name, OTG_PHY_ATTR_POR))
		powered[phy_index] = which == 0;
}

static ssize_t value_show(struct device *dev, struct device_attribute *attr, char *buf)
{
	struct value_attr *va = container_of(attr, struct value_attr, attr);
	int port = dev->bus == &lm_bus ? port_of(dev) : 0;
	ssize_t len;

	mutex_lock(&usb_lock);
	len = va->len[port];
	memcpy(buf, va->value[port], len);
	mutex_unlock(&usb_lock);
	return len;
}

static ssize_t value_store(struct device *dev, struct device_attribute *attr, const char *buf,
			   size_t count)
{
	struct value_attr *va = container_of(attr, struct value_attr, attr);
	int port = dev->bus == &lm_bus ? port_of(dev) : 0;
	int which = accepted(va->accepts, buf, count);

	if (which < 0 || count > sizeof(va->value[port]))
		return -EINVAL;
	mutex_lock(&usb_lock);
	memcpy(va->value[port], buf, count);
	va->len[port] = count;
	value_taken(va, port, which);
	mutex_unlock(&usb_lock);
	return count;
}

#define VALUE_ATTR(var, name, values) \
	static struct value_attr var = { \
		.attr = __ATTR(name, 0644, value_show, value_store), .accepts = values }

VALUE_ATTR(attr_pullup, pullup, switch_values);
VALUE_ATTR(attr_sleepm, peri_sleepm, phy_power_values);
VALUE_ATTR(attr_iddq, peri_iddq, phy_power_values);
VALUE_ATTR(attr_otg_disable, peri_otg_disable, phy_power_values);
VALUE_ATTR(attr_index, index, port_index_values);
VALUE_ATTR(attr_por, por, switch_values);
VALUE_ATTR(attr_otgdisable, otgdisable, switch_values);

static ssize_t gotgctl_show(struct device *dev, struct device_attribute *attr, char *buf)
{
	int port = port_of(dev);
	const char *valid = sim_config.usb_busvalid[port];
	bool peripheral = sim_config.usb_peripheral[port];
	bool device;
	u32 word = peripheral ? OTG_GOTGCTL_PERIPHERAL : 0;

	mutex_lock(&usb_lock);
	device = attached[port] && powered[port];
	mutex_unlock(&usb_lock);
	if (!strcmp(valid, "auto"))
		valid = peripheral && !device ? "none" : "ab";
	if (strchr(valid, 'a'))
		word |= OTG_GOTGCTL_A_VALID;
	if (strchr(valid, 'b'))
		word |= OTG_GOTGCTL_B_VALID;
	return sysfs_emit(buf, OTG_GOTGCTL_PREFIX "%08x\n", word);
}

static ssize_t busconnected_show(struct device *dev, struct device_attribute *attr, char *buf)
{
	int port = port_of(dev);
	bool device;

	mutex_lock(&usb_lock);
	device = attached[port] && powered[port];
	mutex_unlock(&usb_lock);
	return sysfs_emit(buf, OTG_BUSCONNECTED_PREFIX "%d\n", device);
}

static DEVICE_ATTR_RO(gotgctl);
static DEVICE_ATTR_RO(busconnected);

static struct attribute *lm_attrs[] = {
	&dev_attr_gotgctl.attr,
	&dev_attr_busconnected.attr,
	&attr_pullup.attr.attr,
	&attr_sleepm.attr.attr,
	&attr_iddq.attr.attr,
	&attr_otg_disable.attr.attr,
	NULL,
};

/* The PHY attributes the board has, less those its settings leave out. */
static umode_t lm_visible(struct kobject *kobj, struct attribute *attr, int n)
{
	int port = port_of(kobj_to_dev(kobj));

	if (sim_listed(sim_config.usb_port_missing[port], attr->name))
		return 0;
	if (attr == &attr_sleepm.attr.attr && !sim_config.usb_sleepm)
		return 0;
	if (attr == &attr_iddq.attr.attr && !sim_config.usb_iddq)
		return 0;
	return attr->mode;
}

static const struct attribute_group lm_group = {
	.attrs = lm_attrs,
	.is_visible = lm_visible,
};

static const struct attribute_group *lm_groups[] = { &lm_group, NULL };

static int lm_match(struct device *dev, SIM_MATCH_DRIVER *drv)
{
	return 1;
}

static struct bus_type lm_bus = {
	.name = "logicmodule",
	.match = lm_match,
};

static int otg_probe(struct device *dev)
{
	return 0;
}

static ssize_t version_show(struct device_driver *drv, char *buf)
{
	return sysfs_emit(buf, "%s\n", sim_config.usb_version);
}

static DRIVER_ATTR_RO(version);

static struct attribute *otg_attrs[] = { &driver_attr_version.attr, NULL };
ATTRIBUTE_GROUPS(otg);

static struct device_driver otg_driver = {
	.name = "dwc_otg",
	.owner = THIS_MODULE,
	.bus = &lm_bus,
	.probe = otg_probe,
};

static bool bus_registered, driver_registered, controller_registered;

static void lm_release(struct device *dev)
{
	kfree(container_of(dev, struct lm_port, dev));
}

static int register_controller(void)
{
	struct lm_port *lm;
	int port, err;

	if (sim_config.usb_version_present)
		otg_driver.groups = otg_groups;
	err = driver_register(&otg_driver);
	if (err)
		return err;
	driver_registered = true;
	for (port = 0; port < 2; port++) {
		if (!sim_config.usb_port_present[port])
			continue;
		lm = kzalloc(sizeof(*lm), GFP_KERNEL);
		if (!lm)
			return -ENOMEM;
		lm->index = port;
		lm->dev.bus = &lm_bus;
		lm->dev.groups = lm_groups;
		lm->dev.release = lm_release;
		dev_set_name(&lm->dev, "lm%d", port);
		err = device_register(&lm->dev);
		if (err) {
			put_device(&lm->dev);
			return err;
		}
		lm_ports[port] = lm;
	}
	controller_registered = true;
	return 0;
}

static void unregister_controller(void)
{
	int port;

	for (port = 0; port < 2; port++) {
		if (lm_ports[port])
			device_unregister(&lm_ports[port]->dev);
		lm_ports[port] = NULL;
	}
	if (driver_registered)
		driver_unregister(&otg_driver);
	driver_registered = false;
	controller_registered = false;
}

/* The PHY-control device. */

static struct attribute *phy_attrs[] = {
	&attr_index.attr.attr,
	&attr_por.attr.attr,
	&attr_otgdisable.attr.attr,
	NULL,
};

static umode_t phy_visible(struct kobject *kobj, struct attribute *attr, int n)
{
	return sim_listed(sim_config.usb_phy_control_missing, attr->name) ? 0 : attr->mode;
}

static const struct attribute_group phy_group = {
	.attrs = phy_attrs,
	.is_visible = phy_visible,
};

static const struct attribute_group *phy_groups[] = { &phy_group, NULL };
static struct platform_device *phy_pdev;

/* The module power class: the name of a module written to mod_on or mod_off. */

/* What was last written to mod_on [0] and mod_off [1]. */
static struct {
	char value[SIM_TEXT];
	size_t len;
} mod_values[2];

/* The module's slot in modules[], a free one for a new name, or -1 when all are taken. */
static int module_slot(const char *name, size_t len)
{
	int i, free = -1;

	for (i = 0; i < MODULES_MAX; i++) {
		if (!modules[i].name[0]) {
			if (free < 0)
				free = i;
		} else if (strlen(modules[i].name) == len && !strncmp(modules[i].name, name, len)) {
			return i;
		}
	}
	return free;
}

static ssize_t mod_show(int which, char *buf)
{
	ssize_t len;

	mutex_lock(&usb_lock);
	len = mod_values[which].len;
	memcpy(buf, mod_values[which].value, len);
	mutex_unlock(&usb_lock);
	return len;
}

/*
 * A module name: 1 to 31 bytes, none a blank, a control character (NUL among them), DEL or '/';
 * bytes from 0x80 up (UTF-8 letters) are taken on every kernel and architecture. Up to
 * MODULES_MAX different names are kept; a further one is refused with ENOSPC.
 */
static ssize_t mod_store(int which, const char *buf, size_t count)
{
	size_t len = count && buf[count - 1] == '\n' ? count - 1 : count;
	size_t i;
	int slot;

	if (len == 0 || len >= MODULE_NAME_MAX)
		return -EINVAL;
	for (i = 0; i < len; i++) {
		unsigned char c = buf[i];

		if (c <= ' ' || c == '/' || c == 0x7f)
			return -EINVAL;
	}
	mutex_lock(&usb_lock);
	slot = module_slot(buf, len);
	if (slot >= 0) {
		memcpy(mod_values[which].value, buf, count);
		mod_values[which].len = count;
		memcpy(modules[slot].name, buf, len);
		modules[slot].name[len] = '\0';
		modules[slot].on = which == 0;
	}
	mutex_unlock(&usb_lock);
	return slot >= 0 ? count : -ENOSPC;
}

static ssize_t mod_on_show(SIM_CLASS *c, SIM_CLASS_ATTRIBUTE *a,
			   char *buf)
{
	return mod_show(0, buf);
}

static ssize_t mod_on_store(SIM_CLASS *c, SIM_CLASS_ATTRIBUTE *a,
			    const char *buf, size_t count)
{
	return mod_store(0, buf, count);
}

static ssize_t mod_off_show(SIM_CLASS *c, SIM_CLASS_ATTRIBUTE *a,
			    char *buf)
{
	return mod_show(1, buf);
}

static ssize_t mod_off_store(SIM_CLASS *c, SIM_CLASS_ATTRIBUTE *a,
			     const char *buf, size_t count)
{
	return mod_store(1, buf, count);
}

static CLASS_ATTR_RW(mod_on);
static CLASS_ATTR_RW(mod_off);

static struct attribute *mod_attrs[] = {
	&class_attr_mod_on.attr,
	&class_attr_mod_off.attr,
	NULL,
};
ATTRIBUTE_GROUPS(mod);

static struct class mod_class = {
	.name = "qvl_mod",
	.class_groups = mod_groups,
};

static bool class_registered;

/* debugfs */

static int attached_get(void *data, u64 *val)
{
	mutex_lock(&usb_lock);
	*val = attached[(long)data];
	mutex_unlock(&usb_lock);
	return 0;
}

static int attached_set(void *data, u64 val)
{
	if (val > 1)
		return -EINVAL;
	mutex_lock(&usb_lock);
	attached[(long)data] = val;
	mutex_unlock(&usb_lock);
	return 0;
}

SIM_ATTRIBUTE(attached_fops, attached_get, attached_set);

static int powered_get(void *data, u64 *val)
{
	mutex_lock(&usb_lock);
	*val = powered[(long)data];
	mutex_unlock(&usb_lock);
	return 0;
}

SIM_ATTRIBUTE(powered_fops, powered_get, NULL);

/* One line per module named so far: the name, then "on" or "off". */
static int show_modules(const struct sim_text_file *f, char *buf, size_t size)
{
	int i, len = 0;

	mutex_lock(&usb_lock);
	for (i = 0; i < MODULES_MAX; i++)
		if (modules[i].name[0])
			len += scnprintf(buf + len, size - len, "%s %s\n", modules[i].name,
					 modules[i].on ? "on" : "off");
	mutex_unlock(&usb_lock);
	return len;
}

static int controller_get(void *data, u64 *val)
{
	mutex_lock(&usb_lock);
	*val = controller_registered;
	mutex_unlock(&usb_lock);
	return 0;
}

/* 1 registers the controller, once: a controller that binds after boot. */
static int controller_set(void *data, u64 val)
{
	int err = 0;

	if (val != 1)
		return -EINVAL;
	mutex_lock(&usb_lock);
	if (!controller_registered) {
		err = register_controller();
		if (err)
			unregister_controller();
	}
	mutex_unlock(&usb_lock);
	return err;
}

SIM_ATTRIBUTE(controller_fops, controller_get, controller_set);

static const struct sim_text_file modules_file = { "module", 0444, show_modules, NULL, NULL };

int sim_usb_init(struct dentry *dir)
{
	int err;

	attached[0] = sim_config.usb_attached[0];
	attached[1] = sim_config.usb_attached[1];
	err = bus_register(&lm_bus);
	if (err)
		return err;
	bus_registered = true;
	if (sim_config.usb_controller) {
		err = register_controller();
		if (err)
			goto fail;
	}
	if (sim_config.usb_phy_control) {
		phy_pdev = platform_device_alloc("usb_phy_control", PLATFORM_DEVID_NONE);
		if (!phy_pdev) {
			err = -ENOMEM;
			goto fail;
		}
		phy_pdev->dev.groups = phy_groups;
		err = platform_device_add(phy_pdev);
		if (err) {
			platform_device_put(phy_pdev);
			phy_pdev = NULL;
			goto fail;
		}
	}
	if (sim_config.usb_mod_class) {
		err = class_register(&mod_class);
		if (err)
			goto fail;
		class_registered = true;
	}
	debugfs_create_file_unsafe("port0_attached", 0644, dir, (void *)0L, &attached_fops);
	debugfs_create_file_unsafe("port1_attached", 0644, dir, (void *)1L, &attached_fops);
	debugfs_create_file_unsafe("port0_powered", 0444, dir, (void *)0L, &powered_fops);
	debugfs_create_file_unsafe("port1_powered", 0444, dir, (void *)1L, &powered_fops);
	debugfs_create_file_unsafe("controller", 0644, dir, NULL, &controller_fops);
	sim_debugfs_add(dir, &modules_file);
	return 0;

fail:
	sim_usb_exit();
	return err;
}

void sim_usb_exit(void)
{
	if (class_registered)
		class_unregister(&mod_class);
	class_registered = false;
	if (phy_pdev)
		platform_device_unregister(phy_pdev);
	phy_pdev = NULL;
	unregister_controller();
	if (bus_registered)
		bus_unregister(&lm_bus);
	bus_registered = false;
}
