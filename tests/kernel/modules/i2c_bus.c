// SPDX-License-Identifier: GPL-2.0
/*
 * An I2C adapter for the virtual-machine check with port expanders on it,
 * each with an HD44780 module (hd44780_model.c) behind its pins. It is a real
 * adapter to the kernel: i2c-dev gives it a /dev/i2c-N, and the smbus_* trace
 * events log what the tool sends. Parameters, each taking effect when written:
 *
 *   devices=pcf8574@0x27;pcf8574@0x3f:D7=P0,D6=P1,...;mcp23008@0x20;mcp23017@0x24:D0=GPA0,...
 *	the expanders and their pin maps (module lines on pins; BL the
 *	backlight, on one pin or several). Without a map a PCF8574 is wired as
 *	the common backpack (RS=P0,RW=P1,E0=P2,BL=P3,D4..D7=P4..P7), an
 *	MCP23008 the same way on GP0..GP7, an MCP23017 on both ports
 *	(D0..D7=GPA0..GPA7, RS=GPB0,RW=GPB1,E0=GPB2,E1=GPB3,BL=GPB4). A
 *	backlight is lit by a high pin through a transistor's base, which pulls
 *	the pin low whenever nothing drives it; invert=BL lights it by a low
 *	pin instead, and then the base holds the pin high. "no-module" alone
 *	instead of a map is an expander with no module, every pin loaded low
 *	(a relay board). Writing it powers every expander and module up afresh.
 *   unplugged=0x27,...   transfers to these fail with ENODEV, as to a device
 *	pulled off the bus; plugged back, it powers up afresh.
 *   fault=0x27:D6=1;...  a data line held at a level at that device's module
 *	("D5=0", "D6=1", "D2=open"); the module powers up afresh, the
 *	expander keeps its state.
 *   power_on_modules     written, every module powers up afresh behind its
 *	expander's pins as they stand.
 *
 * An address with nothing on it fails with ENXIO, as a real bus's NACK does.
 * /sys/kernel/debug/lcdtest_i2c/devices shows each expander's registers and
 * its module's state.
 *
 * The PCF8574 is quasi-bidirectional: a pin written 0 pulls low, a pin written
 * 1 is a weak pull-up and reads what the line is; each byte written sets the
 * pins, each byte read samples them (send/receive byte, or plain I2C). The
 * MCP23008 and MCP23017 are register-based: IODIR, IPOL, GPPU, GPIO (reads
 * the pins, writes the latch), OLAT and IOCON (BANK on the MCP23017, SEQOP)
 * act; the interrupt registers keep what is written and INTF/INTCAP read 0.
 * An input's pull-up (GPPU) holds RS, RW or E high as a PCF8574's released
 * pin does; an input without one leaves the line to the module.
 * A write's first byte sets the register pointer; sequential mode steps it
 * after each byte (over the gap between the ports' blocks with BANK=1, back to
 * 0 after the last register); byte mode keeps it, or with BANK=0 toggles it
 * between the A and B registers of a pair.
 */
#include <linux/debugfs.h>
#include <linux/delay.h>
#include <linux/i2c.h>
#include <linux/kstrtox.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <linux/mutex.h>
#include <linux/seq_file.h>
#include <linux/timekeeping.h>

#include "hd44780_model.h"

#define MAX_DEVICES 8
#define PINS 16
#define BYTE_NS 90000 /* nine clocks at 100 kHz: the pins of a later byte change this much later */

enum kind { PCF8574, MCP23008, MCP23017 };
static const char *const kind_names[] = { "pcf8574", "mcp23008", "mcp23017" };
static const char *const default_maps[] = {
	"RS=P0,RW=P1,E0=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7",
	"RS=GP0,RW=GP1,E0=GP2,BL=GP3,D4=GP4,D5=GP5,D6=GP6,D7=GP7",
	"D0=GPA0,D1=GPA1,D2=GPA2,D3=GPA3,D4=GPA4,D5=GPA5,D6=GPA6,D7=GPA7,"
	"RS=GPB0,RW=GPB1,E0=GPB2,E1=GPB3,BL=GPB4",
};

/* The registers of one MCP230xx port, in the order of their BANK=1 addresses. */
enum { IODIR, IPOL, GPINTEN, DEFVAL, INTCON, IOCON, GPPU, INTF, INTCAP, GPIO, OLAT, PORT_REGS };
static const char *const register_names[PORT_REGS] = {
	"IODIR", "IPOL", "GPINTEN", "DEFVAL", "INTCON", "IOCON", "GPPU", "INTF", "INTCAP", "GPIO", "OLAT",
};
#define IOCON_BANK 0x80
#define IOCON_SEQOP 0x20
#define BANK1_PORT_B 0x10

struct expander {
	enum kind kind;
	u8 address;
	bool unplugged;
	char map[160];
	int line_on_pin[PINS]; /* a module line, LCD_BL, or -1 */
	u16 wired;
	u16 loaded; /* pins pulled low whenever nothing drives them: a lit-high backlight's base, relays */
	u16 lifted; /* pins held high then: the base of a backlight lit by a low pin */
	bool no_module;
	u8 stuck_low, stuck_high;
	struct lcd_module module;
	u8 latch;                      /* PCF8574: the pins as written */
	u8 regs[2][PORT_REGS];         /* MCP230xx, per port */
	u8 pointer;
};

static DEFINE_MUTEX(lock); /* guards everything below; transfers run in process context */
static struct expander devices[MAX_DEVICES];
static int device_count;
static char devices_text[512];
static char unplugged_text[64];
static char fault_text[128];
static u64 bus_ns; /* when the bus is next free: byte stamps never run backwards */

static int pin_count(const struct expander *d)
{
	return d->kind == MCP23017 ? 16 : 8;
}

/* "P3", "GP3", "GPA3", "GPB3": the pin's number on this kind of expander, or -1. */
static int pin_named(enum kind kind, const char *name, size_t length)
{
	unsigned int pin = 0;
	char digit;

	if (kind == PCF8574 && length == 2 && name[0] == 'P')
		digit = name[1];
	else if (kind == MCP23008 && length == 3 && !strncmp(name, "GP", 2))
		digit = name[2];
	else if (kind == MCP23017 && length == 4 && !strncmp(name, "GP", 2) &&
		 (name[2] == 'A' || name[2] == 'B'))
		digit = name[3], pin = name[2] == 'B' ? 8 : 0;
	else
		return -1;
	return digit >= '0' && digit <= '7' ? pin + digit - '0' : -1;
}

static int parse_map(struct expander *d, const char *map, size_t length)
{
	u16 backlight = 0;
	bool lit_low = false;
	int pin;

	for (pin = 0; pin < PINS; pin++)
		d->line_on_pin[pin] = -1;
	d->wired = d->loaded = d->lifted = 0;
	d->no_module = false;
	while (length) {
		size_t item = min(strcspn(map, ","), length);
		const char *equals = strnchr(map, item, '=');
		int line;

		if (item == 9 && !strncmp(map, "no-module", 9)) {
			d->no_module = true;
		} else if (item == 9 && !strncmp(map, "invert=BL", 9)) {
			lit_low = true;
		} else {
			if (!equals)
				return -EINVAL;
			line = equals - map == 2 && !strncmp(map, "BL", 2) ? LCD_BL :
				lcd_line_named(map, equals - map);
			pin = pin_named(d->kind, equals + 1, item - (equals + 1 - map));
			if (line < 0 || pin < 0 || d->line_on_pin[pin] >= 0)
				return -EINVAL;
			d->line_on_pin[pin] = line;
			if (line == LCD_BL)
				backlight |= BIT(pin);
			else if (d->wired & BIT(line))
				return -EINVAL;
			else
				d->wired |= BIT(line);
		}
		map += item;
		length -= item;
		if (length) {
			map++;
			length--;
		}
	}
	if (d->no_module) {
		/* Nothing else on its pins, and every one of them loaded. */
		if (d->wired || backlight || lit_low)
			return -EINVAL;
		d->loaded = GENMASK(pin_count(d) - 1, 0);
		return 0;
	}
	if (lit_low && !backlight)
		return -EINVAL;
	if (lit_low)
		d->lifted = backlight;
	else
		d->loaded = backlight;
	return 0;
}

/* -- pins and the module ---------------------------------------------------- */

/* The module's lines as the expander's pins drive them. */
static void module_lines(const struct expander *d, u16 *lines, u16 *driven)
{
	int pin;

	*lines = *driven = 0;
	for (pin = 0; pin < pin_count(d); pin++) {
		int line = d->line_on_pin[pin];
		bool high, drives;

		if (line < 0 || line >= LCD_LINES)
			continue;
		if (d->kind == PCF8574) {
			high = d->latch & BIT(pin);
			/* A pin written 1 only pulls up: strong enough for RS, RW and E,
			 * no match for a controller driving a data line low. */
			drives = !high || !(BIT(line) & LCD_DATA);
		} else {
			const u8 *port = d->regs[pin / 8];
			bool input = port[IODIR] & BIT(pin % 8);
			bool pulled_up = port[GPPU] & BIT(pin % 8);

			/* An input's pull-up is as weak as a PCF8574's released pin. */
			high = input ? pulled_up : port[OLAT] & BIT(pin % 8);
			drives = input ? pulled_up && !(BIT(line) & LCD_DATA) : true;
		}
		if (drives)
			*driven |= BIT(line);
		if (high)
			*lines |= BIT(line);
	}
}

static void pins_changed(struct expander *d, u64 now)
{
	u16 lines, driven;

	module_lines(d, &lines, &driven);
	lcd_module_apply(&d->module, lines, driven, now);
}

/* Pin levels of one port (8 pins), as an input buffer sees them. */
static u8 port_pins(const struct expander *d, int port, u64 now)
{
	u16 module = lcd_module_pins(&d->module, now);
	u8 levels = 0;
	int bit;

	for (bit = 0; bit < 8; bit++) {
		int pin = port * 8 + bit, line = d->line_on_pin[pin];
		bool high;

		/* A pin nobody drives: a module line reads what the module
		 * holds it at, a load or a lifted base what it pulls to, an
		 * open pin the pull-up (the PCF8574's own, an MCP's if on). */
		if (d->kind == PCF8574 && !(d->latch & BIT(bit)))
			high = false;
		else if (d->kind != PCF8574 && !(d->regs[port][IODIR] & BIT(bit)))
			high = d->regs[port][OLAT] & BIT(bit);
		else if (line >= 0 && line < LCD_LINES)
			high = module & BIT(line);
		else if (d->loaded & BIT(pin))
			high = false;
		else if (d->lifted & BIT(pin))
			high = true;
		else
			high = d->kind == PCF8574 || (d->regs[port][GPPU] & BIT(bit));
		if (high)
			levels |= BIT(bit);
	}
	return levels;
}

/* The module powers up afresh behind the expander's pins as they stand. */
static void module_power_on(struct expander *d, u64 now)
{
	u16 lines, driven;

	module_lines(d, &lines, &driven);
	lcd_module_power_on(&d->module, d->wired, d->stuck_low, d->stuck_high, lines, driven, now);
}

/* The expander and its module power up together: a PCF8574's pins all high,
 * an MCP230xx's all inputs. */
static void power_on(struct expander *d, u64 now)
{
	d->latch = 0xff;
	memset(d->regs, 0, sizeof(d->regs));
	d->regs[0][IODIR] = d->regs[1][IODIR] = 0xff;
	d->pointer = 0;
	module_power_on(d, now);
}

/* -- MCP230xx registers ------------------------------------------------------ */

static bool mcp_decode(const struct expander *d, u8 address, int *port, int *reg)
{
	if (d->kind == MCP23008) {
		*port = 0;
		*reg = address;
		return address < PORT_REGS;
	}
	if (d->regs[0][IOCON] & IOCON_BANK) {
		*port = address >= BANK1_PORT_B;
		*reg = address - (*port ? BANK1_PORT_B : 0);
		return address < 2 * BANK1_PORT_B && *reg < PORT_REGS;
	}
	*port = address & 1;
	*reg = address >> 1;
	return address < 2 * PORT_REGS;
}

static u8 mcp_next(const struct expander *d, u8 address)
{
	u8 iocon = d->regs[0][IOCON];

	if (d->kind == MCP23008)
		return iocon & IOCON_SEQOP ? address : (address + 1) % PORT_REGS;
	if (iocon & IOCON_BANK) {
		if (iocon & IOCON_SEQOP)
			return address;
		if (address == PORT_REGS - 1)
			return BANK1_PORT_B;
		return address >= BANK1_PORT_B + PORT_REGS - 1 ? 0 : address + 1;
	}
	if (iocon & IOCON_SEQOP)
		return address ^ 1;
	return (address + 1) % (2 * PORT_REGS);
}

static void mcp_write(struct expander *d, u8 address, u8 value, u64 now)
{
	int port, reg;

	if (!mcp_decode(d, address, &port, &reg))
		return;
	switch (reg) {
	case IOCON: /* one register at two addresses; the MCP23008 has no BANK */
		if (d->kind == MCP23008)
			value &= ~IOCON_BANK;
		d->regs[0][IOCON] = d->regs[1][IOCON] = value & ~1;
		return;
	case INTF:
	case INTCAP:
		return;
	case GPIO:
		reg = OLAT;
		break;
	}
	d->regs[port][reg] = value;
	if (reg == IODIR || reg == OLAT || reg == GPPU)
		pins_changed(d, now);
}

static u8 mcp_read(const struct expander *d, u8 address, u64 now)
{
	int port, reg;

	if (!mcp_decode(d, address, &port, &reg))
		return 0;
	if (reg == GPIO)
		return port_pins(d, port, now) ^ d->regs[port][IPOL];
	return d->regs[port][reg];
}

/* -- transfers ------------------------------------------------------------- */

static void device_write(struct expander *d, const u8 *bytes, int count)
{
	int i;

	for (i = 0; i < count; i++, bus_ns += BYTE_NS) {
		if (d->kind == PCF8574) {
			d->latch = bytes[i];
			pins_changed(d, bus_ns);
		} else if (i == 0) {
			d->pointer = bytes[0];
		} else {
			mcp_write(d, d->pointer, bytes[i], bus_ns);
			d->pointer = mcp_next(d, d->pointer);
		}
	}
}

static void device_read(struct expander *d, u8 *bytes, int count)
{
	int i;

	for (i = 0; i < count; i++, bus_ns += BYTE_NS) {
		if (d->kind == PCF8574) {
			bytes[i] = port_pins(d, 0, bus_ns);
		} else {
			bytes[i] = mcp_read(d, d->pointer, bus_ns);
			d->pointer = mcp_next(d, d->pointer);
		}
	}
}

/* The device at `address`, or why a transfer to it fails. Called with the lock held. */
static struct expander *find(u16 address, int *err)
{
	int i;

	bus_ns = max(bus_ns, ktime_get_ns());
	for (i = 0; i < device_count; i++) {
		if (devices[i].address != address)
			continue;
		*err = devices[i].unplugged ? -ENODEV : 0;
		return *err ? NULL : &devices[i];
	}
	*err = -ENXIO;
	return NULL;
}

/*
 * A transfer returns once its bytes are on the wire, as a real adapter's does:
 * a caller that then waits (for an instruction to execute) waits from there,
 * not from a moment the bus had not reached yet.
 */
static void wait_for_bus(u64 until)
{
	u64 now = ktime_get_ns();

	if (until > now)
		fsleep(DIV_ROUND_UP(until - now, NSEC_PER_USEC));
}

static int lcdtest_smbus_xfer(struct i2c_adapter *adapter, u16 address, unsigned short flags,
			      char read_write, u8 command, int size, union i2c_smbus_data *data)
{
	struct expander *d;
	u64 until;
	int err;

	mutex_lock(&lock);
	d = find(address, &err);
	if (d) {
		switch (size) {
		case I2C_SMBUS_QUICK:
			break;
		case I2C_SMBUS_BYTE: /* a send byte carries its byte as the command */
			if (read_write == I2C_SMBUS_WRITE)
				device_write(d, &command, 1);
			else
				device_read(d, &data->byte, 1);
			break;
		case I2C_SMBUS_BYTE_DATA:
			if (read_write == I2C_SMBUS_WRITE) {
				u8 bytes[2] = { command, data->byte };

				device_write(d, bytes, 2);
			} else {
				device_write(d, &command, 1);
				device_read(d, &data->byte, 1);
			}
			break;
		default:
			err = -EOPNOTSUPP;
		}
	}
	until = bus_ns;
	mutex_unlock(&lock);
	wait_for_bus(until);
	return err;
}

static int lcdtest_master_xfer(struct i2c_adapter *adapter, struct i2c_msg *msgs, int num)
{
	struct expander *d;
	int i, err = 0;
	u64 until;

	mutex_lock(&lock);
	for (i = 0; i < num && !err; i++) {
		d = find(msgs[i].addr, &err);
		if (!d)
			break;
		if (msgs[i].flags & (I2C_M_TEN | I2C_M_RECV_LEN))
			err = -EOPNOTSUPP;
		else if (msgs[i].flags & I2C_M_RD)
			device_read(d, msgs[i].buf, msgs[i].len);
		else
			device_write(d, msgs[i].buf, msgs[i].len);
	}
	until = bus_ns;
	mutex_unlock(&lock);
	wait_for_bus(until);
	return err ? err : num;
}

static u32 lcdtest_functionality(struct i2c_adapter *adapter)
{
	return I2C_FUNC_I2C | I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA;
}

static const struct i2c_algorithm algorithm = {
	.master_xfer = lcdtest_master_xfer,
	.smbus_xfer = lcdtest_smbus_xfer,
	.functionality = lcdtest_functionality,
};

static struct i2c_adapter adapter = {
	.owner = THIS_MODULE,
	.class = 0, /* no driver probes it for chips of its own */
	.algo = &algorithm,
	.name = "lcdtest I2C bus",
};

/* -- parameters ------------------------------------------------------------ */

/* The items of a list such as "0x27:D6=1;0x3f:D5=0" that name `address`, one at a time. */
static const char *next_for(const char *text, u8 address, size_t *length)
{
	while (*text) {
		size_t item = strcspn(text, ";,\n");
		char number[8];
		size_t digits = min(strcspn(text, ":;,\n"), sizeof(number) - 1);
		unsigned int value;

		memcpy(number, text, digits);
		number[digits] = 0;
		if (!kstrtouint(number, 16, &value) && value == address) {
			*length = item;
			return text;
		}
		text += item;
		text += strspn(text, ";,\n");
	}
	return NULL;
}

/* Applies `unplugged` and `fault` to every device: a device plugged back in
 * powers up afresh with its module, a module given another fault alone. */
static void apply_settings(bool fresh)
{
	int i;

	for (i = 0; i < device_count; i++) {
		struct expander *d = &devices[i];
		size_t length;
		bool unplugged = next_for(unplugged_text, d->address, &length) != NULL;
		const char *item = next_for(fault_text, d->address, &length);
		u8 low = 0, high = 0;

		if (item) {
			char fault[32];
			const char *colon = strnchr(item, length, ':');

			if (colon && length - (colon + 1 - item) < sizeof(fault)) {
				memcpy(fault, colon + 1, length - (colon + 1 - item));
				fault[length - (colon + 1 - item)] = 0;
				lcd_parse_fault(fault, &low, &high); /* checked when it was set */
			}
		}
		bool refault = low != d->stuck_low || high != d->stuck_high;

		d->stuck_low = low;
		d->stuck_high = high;
		if (fresh || (d->unplugged && !unplugged))
			power_on(d, ktime_get_ns());
		else if (refault)
			module_power_on(d, ktime_get_ns());
		d->unplugged = unplugged;
	}
}

static int parse_devices(const char *text, struct expander *list, int *count)
{
	*count = 0;
	text = skip_spaces(text);
	while (*text && *text != '\n') {
		size_t item = strcspn(text, ";\n");
		const char *at = strnchr(text, item, '@');
		const char *colon = strnchr(text, item, ':');
		struct expander *d = &list[*count];
		char number[8];
		size_t digits;
		unsigned int address;
		int kind = -1, k, err;

		if (!at || *count == MAX_DEVICES)
			return -EINVAL;
		memset(d, 0, sizeof(*d));
		for (k = 0; k < ARRAY_SIZE(kind_names); k++)
			if (strlen(kind_names[k]) == at - text && !strncmp(text, kind_names[k], at - text))
				kind = k;
		digits = (colon ? colon : text + item) - (at + 1);
		if (kind < 0 || digits >= sizeof(number))
			return -EINVAL;
		memcpy(number, at + 1, digits);
		number[digits] = 0;
		if (kstrtouint(number, 0, &address) || address < 0x03 || address > 0x77)
			return -EINVAL;
		d->kind = kind;
		d->address = address;
		if (colon)
			strscpy(d->map, colon + 1, min_t(size_t, sizeof(d->map), text + item - colon));
		else
			strscpy(d->map, default_maps[kind], sizeof(d->map));
		err = parse_map(d, d->map, strlen(d->map));
		if (err)
			return err;
		++*count;
		text += item;
		text += strspn(text, ";\n");
	}
	return 0;
}

static struct expander parsed[MAX_DEVICES]; /* under kernel_param_lock, as the setters run */

static int set_devices(const char *value, const struct kernel_param *kp)
{
	int count, err = parse_devices(value, parsed, &count);

	if (err)
		return err;
	mutex_lock(&lock);
	memcpy(devices, parsed, sizeof(devices));
	device_count = count;
	strscpy(devices_text, value, sizeof(devices_text));
	strim(devices_text);
	apply_settings(true);
	mutex_unlock(&lock);
	return 0;
}

static int set_unplugged(const char *value, const struct kernel_param *kp)
{
	mutex_lock(&lock);
	strscpy(unplugged_text, value, sizeof(unplugged_text));
	strim(unplugged_text);
	apply_settings(false);
	mutex_unlock(&lock);
	return 0;
}

static int set_fault(const char *value, const struct kernel_param *kp)
{
	const char *item = skip_spaces(value);

	/* Each item ADDRESS:FAULT with a fault the model knows. */
	while (*item && *item != '\n') {
		size_t length = strcspn(item, ";\n");
		const char *colon = strnchr(item, length, ':');
		char fault[32];
		u8 low, high;

		if (!colon || length - (colon + 1 - item) >= sizeof(fault))
			return -EINVAL;
		memcpy(fault, colon + 1, length - (colon + 1 - item));
		fault[length - (colon + 1 - item)] = 0;
		if (strchr(fault, ',') || lcd_parse_fault(fault, &low, &high))
			return -EINVAL;
		item += length;
		item += strspn(item, ";\n");
	}
	mutex_lock(&lock);
	strscpy(fault_text, value, sizeof(fault_text));
	strim(fault_text);
	apply_settings(false);
	mutex_unlock(&lock);
	return 0;
}

/* Every module powers up afresh behind its expander's pins as they stand. */
static int set_power_on_modules(const char *value, const struct kernel_param *kp)
{
	int i;

	mutex_lock(&lock);
	for (i = 0; i < device_count; i++)
		module_power_on(&devices[i], ktime_get_ns());
	mutex_unlock(&lock);
	return 0;
}

static const struct kernel_param_ops power_on_ops = { .set = set_power_on_modules };
module_param_cb(power_on_modules, &power_on_ops, NULL, 0200);
MODULE_PARM_DESC(power_on_modules, "written: every module powers up afresh, the expanders keep their state");

static int get_text(char *buffer, const struct kernel_param *kp)
{
	int n;

	mutex_lock(&lock);
	n = sysfs_emit(buffer, "%s\n", (const char *)kp->arg);
	mutex_unlock(&lock);
	return n;
}

static const struct kernel_param_ops devices_ops = { .set = set_devices, .get = get_text };
static const struct kernel_param_ops unplugged_ops = { .set = set_unplugged, .get = get_text };
static const struct kernel_param_ops fault_ops = { .set = set_fault, .get = get_text };
module_param_cb(devices, &devices_ops, devices_text, 0644);
MODULE_PARM_DESC(devices, "expanders: KIND@ADDRESS[:LINE=PIN,...[,invert=BL]|:no-module] joined by ';', KIND pcf8574, mcp23008 or mcp23017");
module_param_cb(unplugged, &unplugged_ops, unplugged_text, 0644);
MODULE_PARM_DESC(unplugged, "addresses whose devices are pulled off the bus (ENODEV)");
module_param_cb(fault, &fault_ops, fault_text, 0644);
MODULE_PARM_DESC(fault, "ADDRESS:LINE=LEVEL joined by ';': one data line held at 0, 1 or open at each such module");

/* -- state ----------------------------------------------------------------- */

static int state_show(struct seq_file *s, void *unused)
{
	u64 now = ktime_get_ns();
	int i, port, reg;

	mutex_lock(&lock);
	for (i = 0; i < device_count; i++) {
		const struct expander *d = &devices[i];

		seq_printf(s, "device %s@0x%02x%s\nmap %s\n", kind_names[d->kind], d->address,
			   d->unplugged ? " unplugged" : "", d->map);
		if (d->kind == PCF8574)
			seq_printf(s, "latch 0x%02X pins 0x%02X\n", d->latch, port_pins(d, 0, now));
		for (port = 0; d->kind != PCF8574 && port < pin_count(d) / 8; port++) {
			seq_printf(s, "port %c", 'A' + port);
			for (reg = 0; reg < PORT_REGS; reg++)
				seq_printf(s, " %s 0x%02X", register_names[reg],
					   reg == GPIO ? port_pins(d, port, now) ^ d->regs[port][IPOL] :
							 d->regs[port][reg]);
			seq_putc(s, '\n');
		}
		if (d->kind != PCF8574)
			seq_printf(s, "pointer 0x%02X\n", d->pointer);
		if (d->no_module)
			seq_puts(s, "module none\n");
		else
			lcd_module_show(s, &d->module, now);
	}
	mutex_unlock(&lock);
	return 0;
}
DEFINE_SHOW_ATTRIBUTE(state);

static struct dentry *debug_dir;

static int __init lcdtest_i2c_init(void)
{
	int err = i2c_add_adapter(&adapter);

	if (err)
		return err;
	debug_dir = debugfs_create_dir("lcdtest_i2c", NULL);
	debugfs_create_file("devices", 0444, debug_dir, NULL, &state_fops);
	return 0;
}

static void __exit lcdtest_i2c_exit(void)
{
	debugfs_remove_recursive(debug_dir);
	i2c_del_adapter(&adapter);
}

module_init(lcdtest_i2c_init);
module_exit(lcdtest_i2c_exit);
MODULE_DESCRIPTION("I2C adapter with port expanders and HD44780 modules, for lcdtest's kernel check");
MODULE_LICENSE("GPL");
