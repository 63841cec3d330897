// SPDX-License-Identifier: GPL-2.0
/*
 * A GPIO chip for the virtual-machine check: Debian's kernels carry no
 * gpio-sim, gpio-mockup or expander a guest could use, so the check loads
 * this one. Its 16 lines keep their levels and directions in memory; the
 * kernel's gpio trace events log every request the tool makes.
 *
 * Behind it hangs an HD44780 module (hd44780_model.c) on the lines the
 * parameter `wiring` names, in the tool's own terms:
 *   wiring=RS=7,RW=6,E0=8,D4=2,D5=3,D6=4,D7=5[,invert=E0+RS]
 * `invert=` names lines that pass an inverter between pin and module. An
 * input reads what the module drives while it drives, else 1 (the pull-up);
 * with `wiring` empty nothing hangs there and every input reads 1. `fault`
 * holds data lines at a level at the module ("D5=0", "D6=1", "D2=open").
 * Writing either parameter puts a freshly powered module on the chip.
 * /sys/kernel/debug/lcdtest_gpiochip/module shows what it holds and the bus
 * rules broken. Writing 0 to `plugged` removes the chip under its users, as
 * unplugging a USB bridge does; 1 brings it back.
 */
#include <linux/bitmap.h>
#include <linux/debugfs.h>
#include <linux/gpio/driver.h>
#include <linux/kstrtox.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <linux/seq_file.h>
#include <linux/spinlock.h>
#include <linux/timekeeping.h>

#include "hd44780_model.h"

#define LINES 16

static DEFINE_SPINLOCK(lock);         /* guards the chip, the wiring and the module */
static DECLARE_BITMAP(levels, LINES); /* what each output drives */
static DECLARE_BITMAP(inputs, LINES); /* set: the line is an input */

static struct lcd_module module;
static bool module_on;
static int offset_of[LCD_LINES]; /* -1: the module line is not wired */
static u16 inverted;             /* module lines behind an inverter */
static char wiring[160];
static char fault[64] = "none";

/* The module's lines as the chip drives them through the wiring now. */
static void module_lines(u16 *lines, u16 *driven)
{
	int line;

	*lines = *driven = 0;
	for (line = 0; line < LCD_LINES; line++) {
		int offset = offset_of[line];

		if (offset < 0 || test_bit(offset, inputs))
			continue;
		*driven |= BIT(line);
		if (test_bit(offset, levels) != !!(inverted & BIT(line)))
			*lines |= BIT(line);
	}
}

/* Called with the lock held after any change of a level or a direction. */
static void changed(void)
{
	u16 lines, driven;

	if (!module_on)
		return;
	module_lines(&lines, &driven);
	lcd_module_apply(&module, lines, driven, ktime_get_ns());
}

static int sim_get_direction(struct gpio_chip *gc, unsigned int offset)
{
	return test_bit(offset, inputs) ? GPIO_LINE_DIRECTION_IN : GPIO_LINE_DIRECTION_OUT;
}

static int sim_direction_input(struct gpio_chip *gc, unsigned int offset)
{
	unsigned long flags;

	spin_lock_irqsave(&lock, flags);
	__set_bit(offset, inputs);
	changed();
	spin_unlock_irqrestore(&lock, flags);
	return 0;
}

static int sim_direction_output(struct gpio_chip *gc, unsigned int offset, int value)
{
	unsigned long flags;

	spin_lock_irqsave(&lock, flags);
	__assign_bit(offset, levels, value);
	__clear_bit(offset, inputs);
	changed();
	spin_unlock_irqrestore(&lock, flags);
	return 0;
}

static int sim_get(struct gpio_chip *gc, unsigned int offset)
{
	unsigned long flags;
	int line, value = 1;

	spin_lock_irqsave(&lock, flags);
	if (!test_bit(offset, inputs)) {
		value = test_bit(offset, levels);
	} else if (module_on) {
		for (line = 0; line < LCD_LINES; line++)
			if (offset_of[line] == offset)
				value = !!(lcd_module_pins(&module, ktime_get_ns()) & BIT(line)) ^
					!!(inverted & BIT(line));
	}
	spin_unlock_irqrestore(&lock, flags);
	return value;
}

static void sim_set(struct gpio_chip *gc, unsigned int offset, int value)
{
	unsigned long flags;

	spin_lock_irqsave(&lock, flags);
	__assign_bit(offset, levels, value);
	changed();
	spin_unlock_irqrestore(&lock, flags);
}

/* All the lines of one request change at one moment (see lcd_module_apply). */
static void sim_set_multiple(struct gpio_chip *gc, unsigned long *mask, unsigned long *bits)
{
	unsigned long flags;

	spin_lock_irqsave(&lock, flags);
	bitmap_replace(levels, levels, bits, mask, LINES);
	changed();
	spin_unlock_irqrestore(&lock, flags);
}

static struct gpio_chip chip = {
	.label = "lcdtest-sim",
	.owner = THIS_MODULE,
	.base = -1,
	.ngpio = LINES,
	.get_direction = sim_get_direction,
	.direction_input = sim_direction_input,
	.direction_output = sim_direction_output,
	.get = sim_get,
	.set = sim_set,
	.set_multiple = sim_set_multiple,
};

/* -- parameters ---------------------------------------------------------- */

/* Parses "RS=7,E0=8,...,invert=E0+RS" into offsets and inverted lines. */
static int parse_wiring(const char *text, int *offsets, u16 *invert)
{
	const char *item = skip_spaces(text);
	int line;

	for (line = 0; line < LCD_LINES; line++)
		offsets[line] = -1;
	*invert = 0;
	while (*item && *item != '\n') {
		size_t length = strcspn(item, ",\n");
		const char *equals = strnchr(item, length, '=');
		const char *value = equals ? equals + 1 : NULL;
		size_t value_length = equals ? length - (value - item) : 0;
		char number[8];
		unsigned int offset;

		if (!equals)
			return -EINVAL;
		if (equals - item == 6 && !strncmp(item, "invert", 6)) {
			while (value_length) {
				size_t name = strcspn(value, "+,\n");

				line = lcd_line_named(value, min(name, value_length));
				if (line < 0)
					return -EINVAL;
				*invert |= BIT(line);
				if (name >= value_length)
					break;
				value += name + 1;
				value_length -= name + 1;
			}
		} else {
			line = lcd_line_named(item, equals - item);
			if (line < 0 || value_length == 0 || value_length >= sizeof(number))
				return -EINVAL;
			memcpy(number, value, value_length);
			number[value_length] = 0;
			if (kstrtouint(number, 10, &offset) || offset >= LINES || offsets[line] >= 0)
				return -EINVAL;
			offsets[line] = offset;
		}
		item += length;
		if (*item == ',')
			item++;
	}
	return 0;
}

/* A fresh module on the chip as it stands; none when nothing is wired. */
static void seat_module(void)
{
	u16 wired = 0, lines, driven;
	u8 low, high;
	int line;

	for (line = 0; line < LCD_LINES; line++)
		if (offset_of[line] >= 0)
			wired |= BIT(line);
	module_on = wired != 0;
	if (!module_on)
		return;
	lcd_parse_fault(fault, &low, &high); /* checked when it was set */
	module_lines(&lines, &driven);
	lcd_module_power_on(&module, wired, low, high, lines, driven, ktime_get_ns());
}

static int set_wiring(const char *value, const struct kernel_param *kp)
{
	int offsets[LCD_LINES];
	unsigned long flags;
	u16 invert;
	int err = parse_wiring(value, offsets, &invert);

	if (err)
		return err;
	spin_lock_irqsave(&lock, flags);
	memcpy(offset_of, offsets, sizeof(offsets));
	inverted = invert;
	strscpy(wiring, value, sizeof(wiring));
	strim(wiring);
	seat_module();
	spin_unlock_irqrestore(&lock, flags);
	return 0;
}

static int get_wiring(char *buffer, const struct kernel_param *kp)
{
	return sysfs_emit(buffer, "%s\n", wiring);
}

static const struct kernel_param_ops wiring_ops = { .set = set_wiring, .get = get_wiring };
module_param_cb(wiring, &wiring_ops, NULL, 0644);
MODULE_PARM_DESC(wiring, "module lines on chip offsets: RS=7,RW=6,E0=8,D4=2,...[,invert=E0+RS]; empty: no module");

static int set_fault(const char *value, const struct kernel_param *kp)
{
	unsigned long flags;
	u8 low, high;
	int err = lcd_parse_fault(value, &low, &high);

	if (err)
		return err;
	spin_lock_irqsave(&lock, flags);
	strscpy(fault, value, sizeof(fault));
	strim(fault);
	seat_module();
	spin_unlock_irqrestore(&lock, flags);
	return 0;
}

static int get_fault(char *buffer, const struct kernel_param *kp)
{
	return sysfs_emit(buffer, "%s\n", fault);
}

static const struct kernel_param_ops fault_ops = { .set = set_fault, .get = get_fault };
module_param_cb(fault, &fault_ops, NULL, 0644);
MODULE_PARM_DESC(fault, "data lines held at the module: none, D5=0, D6=1, D2=open, ...");

static bool plugged;

static int set_plugged(const char *value, const struct kernel_param *kp)
{
	bool want;
	int err = kstrtobool(value, &want);

	if (err || want == plugged)
		return err;
	if (want) {
		unsigned long flags;

		/* Every line starts as an input, as a real chip's pins come out of
		 * reset, and the module powers up with the chip, as on a USB bridge. */
		spin_lock_irqsave(&lock, flags);
		bitmap_fill(inputs, LINES);
		seat_module();
		spin_unlock_irqrestore(&lock, flags);
		/* 6.1 keeps a chip removed under requested lines registered for good
		 * (their release finds no chip and keeps their references), so the
		 * chip comes back at a new base, and a new number, not the last ones. */
		chip.base = -1;
		err = gpiochip_add_data(&chip, NULL);
		if (err)
			return err;
	} else {
		gpiochip_remove(&chip);
	}
	plugged = want;
	return 0;
}

static const struct kernel_param_ops plugged_ops = {
	.set = set_plugged,
	.get = param_get_bool,
};
module_param_cb(plugged, &plugged_ops, &plugged, 0644);

/* -- the module's state -------------------------------------------------- */

static int state_show(struct seq_file *s, void *unused)
{
	unsigned long flags;
	struct lcd_module copy;
	bool on;

	spin_lock_irqsave(&lock, flags);
	copy = module;
	on = module_on;
	spin_unlock_irqrestore(&lock, flags);
	seq_printf(s, "wiring %s\n", on ? wiring : "-");
	if (on)
		lcd_module_show(s, &copy, ktime_get_ns());
	return 0;
}
DEFINE_SHOW_ATTRIBUTE(state);

static struct dentry *debug_dir;

static int __init sim_init(void)
{
	int err = plugged ? 0 : set_plugged("1", NULL);

	if (err)
		return err;
	debug_dir = debugfs_create_dir("lcdtest_gpiochip", NULL);
	debugfs_create_file("module", 0444, debug_dir, NULL, &state_fops);
	return 0;
}

static void __exit sim_exit(void)
{
	debugfs_remove_recursive(debug_dir);
	if (plugged)
		gpiochip_remove(&chip);
}

module_init(sim_init);
module_exit(sim_exit);
MODULE_DESCRIPTION("In-memory GPIO chip with an HD44780 module behind it, for lcdtest's kernel check");
MODULE_LICENSE("GPL");
