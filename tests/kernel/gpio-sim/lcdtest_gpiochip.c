// SPDX-License-Identifier: GPL-2.0
/*
 * A GPIO chip with nothing behind it, for the virtual-machine check: Debian's
 * kernels carry no gpio-sim, gpio-mockup or expander a guest could use, so the
 * check loads this one. Its 16 lines keep their levels and directions in
 * memory; the kernel's gpio trace events log every request the tool makes.
 * An input reads 1, as if a pull-up held it and no module drove it.
 * Writing 0 to /sys/module/lcdtest_gpiochip/parameters/plugged removes the
 * chip under its users, as unplugging a USB bridge does; 1 brings it back.
 */
#include <linux/bitmap.h>
#include <linux/gpio/driver.h>
#include <linux/kstrtox.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <linux/spinlock.h>

#define LINES 16

static DEFINE_SPINLOCK(lock);         /* guards both maps, changed from any context */
static DECLARE_BITMAP(levels, LINES); /* what each output drives */
static DECLARE_BITMAP(inputs, LINES); /* set: the line is an input */

static int sim_get_direction(struct gpio_chip* gc, unsigned int offset) {
    return test_bit(offset, inputs) ? GPIO_LINE_DIRECTION_IN : GPIO_LINE_DIRECTION_OUT;
}

static int sim_direction_input(struct gpio_chip* gc, unsigned int offset) {
    unsigned long flags;

    spin_lock_irqsave(&lock, flags);
    __set_bit(offset, inputs);
    spin_unlock_irqrestore(&lock, flags);
    return 0;
}

static int sim_direction_output(struct gpio_chip* gc, unsigned int offset, int value) {
    unsigned long flags;

    spin_lock_irqsave(&lock, flags);
    __assign_bit(offset, levels, value);
    __clear_bit(offset, inputs);
    spin_unlock_irqrestore(&lock, flags);
    return 0;
}

static int sim_get(struct gpio_chip* gc, unsigned int offset) {
    return test_bit(offset, inputs) ? 1 : test_bit(offset, levels);
}

static void sim_set(struct gpio_chip* gc, unsigned int offset, int value) {
    unsigned long flags;

    spin_lock_irqsave(&lock, flags);
    __assign_bit(offset, levels, value);
    spin_unlock_irqrestore(&lock, flags);
}

static void sim_set_multiple(struct gpio_chip* gc, unsigned long* mask, unsigned long* bits) {
    unsigned long flags;

    spin_lock_irqsave(&lock, flags);
    bitmap_replace(levels, levels, bits, mask, LINES);
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

static bool plugged;

static int set_plugged(const char* value, const struct kernel_param* kp) {
    bool want;
    int err = kstrtobool(value, &want);

    if (err || want == plugged) return err;
    if (want) {
        /* Every line starts as an input, as a real chip's pins come out of reset. */
        bitmap_fill(inputs, LINES);
        err = gpiochip_add_data(&chip, NULL);
        if (err) return err;
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

static int __init sim_init(void) {
    return plugged ? 0 : set_plugged("1", NULL);
}

static void __exit sim_exit(void) {
    if (plugged) gpiochip_remove(&chip);
}

module_init(sim_init);
module_exit(sim_exit);
MODULE_DESCRIPTION("In-memory GPIO chip for lcdtest's kernel check");
MODULE_LICENSE("GPL");
