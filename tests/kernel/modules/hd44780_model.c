// SPDX-License-Identifier: GPL-2.0
/*
 * The HD44780 behind the check's carriers. Times are the HD44780U's at its
 * nominal 270 kHz oscillator and, for the bus, its figures at 2.7 to 4.5 V,
 * the stricter ones.
 */
#include <linux/errno.h>
#include <linux/kernel.h>
#include <linux/seq_file.h>
#include <linux/stdarg.h>
#include <linux/string.h>

#include "hd44780_model.h"

#define US 1000ull
#define EXECUTION_NS (37 * US)       /* most instructions */
#define DATA_NS (41 * US)            /* a data write or read, with the address update */
#define CLEAR_HOME_NS (1520 * US)    /* clear display, return home */
#define FIRST_SET_NS (4100 * US)     /* the waits of an initialisation by instruction */
#define SECOND_SET_NS (100 * US)
#define PULSE_MIN_NS 450             /* enable high */
#define ADDRESS_SETUP_NS 60          /* RS and RW before the enable rises */
#define DATA_SETUP_NS 195            /* data before the enable falls */

#define BUSY_FLAG 0x80
#define HIGH_NIBBLE 0xf0

static const u16 enables[2] = { LCD_E0, LCD_E1 };
static const char *const line_names[LCD_LINES] = {
	"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "E0", "RW", "RS", "E1",
};

int lcd_line_named(const char *name, size_t length)
{
	int line;

	for (line = 0; line < LCD_LINES; line++)
		if (strlen(line_names[line]) == length && !strncasecmp(name, line_names[line], length))
			return line;
	return -1;
}

int lcd_parse_fault(const char *text, u8 *low, u8 *high)
{
	const char *item = skip_spaces(text);

	*low = *high = 0;
	if (!*item || sysfs_streq(item, "none"))
		return 0;
	while (*item) {
		size_t length = strcspn(item, ",\n");
		const char *equals = strnchr(item, length, '=');
		int line = equals ? lcd_line_named(item, equals - item) : -1;
		size_t level_length = equals ? length - (equals + 1 - item) : 0;

		if (line < 0 || line > 7)
			return -EINVAL;
		if (level_length == 1 && equals[1] == '0') {
			*low |= BIT(line);
			*high &= ~BIT(line);
		} else if ((level_length == 1 && equals[1] == '1') ||
			   (level_length == 4 && !strncasecmp(equals + 1, "open", 4))) {
			*high |= BIT(line);
			*low &= ~BIT(line);
		} else {
			return -EINVAL;
		}
		item += length;
		while (*item == ',' || *item == '\n')
			item++;
	}
	return 0;
}

/* -- one controller ------------------------------------------------------ */

static bool busy(const struct hd44780 *c, u64 now)
{
	return now < c->busy_until;
}

static void start_busy(struct hd44780 *c, u64 ns, const char *what, u64 now)
{
	c->busy_until = now + ns;
	c->busy_with = what;
}

static __printf(3, 4) void breach(struct hd44780 *c, enum lcd_breach kind, const char *fmt, ...)
{
	va_list args;

	c->breaches[kind]++;
	va_start(args, fmt);
	vscnprintf(c->last, sizeof(c->last), fmt, args);
	va_end(args);
}

/* The busy flag is how a host waits, so its read is the one transfer allowed while busy. */
static void check_ready(struct hd44780 *c, bool rs, bool read, const char *what, u8 value, u64 now)
{
	if (!busy(c, now) || (read && !rs))
		return;
	breach(c, LCD_BUSY, "%s 0x%02X latched %llu ns before the end of %s", what, value,
	       c->busy_until - now, c->busy_with);
}

/* The DDRAM cell behind an address, or -1 where none answers. */
static int ddram_cell(const struct hd44780 *c, u8 address)
{
	address &= 0x7f;
	if (!c->two_lines)
		return address < LCD_DDRAM ? address : -1;
	if (address < 40)
		return address;
	return address >= 0x40 && address < 0x40 + 40 ? 40 + address - 0x40 : -1;
}

/* The address counter runs through each line's cells and wraps at its end. */
static u8 next_ddram_address(u8 a, bool up, bool two_lines)
{
	if (two_lines) {
		if (up && a == 0x27)
			return 0x40;
		if (up && a == 0x67)
			return 0x00;
		if (!up && a == 0x40)
			return 0x27;
		if (!up && a == 0x00)
			return 0x67;
	} else {
		if (up && a == 0x4f)
			return 0x00;
		if (!up && a == 0x00)
			return 0x4f;
	}
	return (a + (up ? 1 : -1)) & 0x7f;
}

static void step_address(struct hd44780 *c, bool up)
{
	if (c->cgram_selected)
		c->ac = (c->ac + (up ? 1 : -1)) & 0x3f;
	else
		c->ac = next_ddram_address(c->ac, up, c->two_lines);
}

/* A set address, a cursor move and a read leave the addressed byte ready to read. */
static void load_data_register(struct hd44780 *c)
{
	int cell;

	if (c->cgram_selected) {
		c->data_register = c->cgram[c->ac & 0x3f];
		return;
	}
	cell = ddram_cell(c, c->ac);
	c->data_register = cell < 0 ? 0 : c->ddram[cell];
}

static void write_data(struct hd44780 *c, u8 value, u64 now)
{
	int cell;

	c->data_register = value;
	if (c->cgram_selected) {
		c->cgram[c->ac & 0x3f] = value;
	} else {
		cell = ddram_cell(c, c->ac);
		if (cell >= 0)
			c->ddram[cell] = value;
		if (c->shift_display)
			c->display_shift = (c->display_shift + (c->increment ? 1 : LCD_DDRAM - 1)) % LCD_DDRAM;
	}
	step_address(c, c->increment);
	start_busy(c, DATA_NS, "a data write", now);
}

static void execute(struct hd44780 *c, u8 op, u64 now)
{
	if (op & 0x80) {
		c->cgram_selected = false;
		c->ac = op & 0x7f;
		load_data_register(c);
		start_busy(c, EXECUTION_NS, "set DDRAM address", now);
	} else if (op & 0x40) {
		c->cgram_selected = true;
		c->ac = op & 0x3f;
		load_data_register(c);
		start_busy(c, EXECUTION_NS, "set CGRAM address", now);
	} else if (op & 0x20) {
		/* A switch to the 4-bit bus comes after a whole byte, so it starts on a high nibble. */
		c->eight_bit = op & 0x10;
		c->two_lines = op & 0x08;
		c->font_5x10 = op & 0x04;
		c->function_sets++;
		if (c->function_sets == 1)
			start_busy(c, FIRST_SET_NS, "the first function set after power-on", now);
		else if (c->function_sets == 2)
			start_busy(c, SECOND_SET_NS, "the second function set after power-on", now);
		else
			start_busy(c, EXECUTION_NS, "function set", now);
	} else if (op & 0x10) {
		if (op & 0x08) {
			c->display_shift = (c->display_shift + (op & 0x04 ? LCD_DDRAM - 1 : 1)) % LCD_DDRAM;
		} else {
			step_address(c, op & 0x04);
			load_data_register(c);
		}
		start_busy(c, EXECUTION_NS, "cursor or display shift", now);
	} else if (op & 0x08) {
		c->display_on = op & 0x04;
		c->cursor_on = op & 0x02;
		c->blink_on = op & 0x01;
		start_busy(c, EXECUTION_NS, "display control", now);
	} else if (op & 0x04) {
		c->increment = op & 0x02;
		c->shift_display = op & 0x01;
		start_busy(c, EXECUTION_NS, "entry mode set", now);
	} else if (op & 0x02) {
		c->cgram_selected = false;
		c->ac = 0;
		c->display_shift = 0;
		start_busy(c, CLEAR_HOME_NS, "return home", now);
	} else if (op & 0x01) {
		memset(c->ddram, ' ', sizeof(c->ddram));
		c->cgram_selected = false;
		c->ac = 0;
		c->display_shift = 0;
		c->increment = true;
		start_busy(c, CLEAR_HOME_NS, "clear display", now);
	}
	/* 0x00 is no instruction: taken, and nothing happens. */
}

static u8 flag_and_address(const struct hd44780 *c, u64 now)
{
	return (busy(c, now) ? BUSY_FLAG : 0) | c->ac;
}

/* What the controller drives while RW and its enable are high. */
static u8 output(const struct hd44780 *c, bool rs, u64 now)
{
	u8 byte = rs ? c->data_register : flag_and_address(c, now);

	if (c->eight_bit)
		return byte;
	return c->low_nibble_due ? c->read_latch << 4 : byte & HIGH_NIBBLE;
}

static u8 bus_lines(const struct hd44780 *c)
{
	return c->eight_bit ? 0xff : HIGH_NIBBLE;
}

static void latch_write(struct hd44780 *c, bool rs, u8 bus, u64 now)
{
	const char *what = rs ? "data" : "instruction";
	u8 value;

	if (c->eight_bit) {
		check_ready(c, rs, false, what, bus, now);
		value = bus;
	} else if (!c->low_nibble_due) {
		check_ready(c, rs, false, what, bus & HIGH_NIBBLE, now);
		c->high_nibble = bus & HIGH_NIBBLE;
		c->low_nibble_due = true;
		return;
	} else {
		check_ready(c, rs, false, what, bus & HIGH_NIBBLE, now);
		c->low_nibble_due = false;
		value = c->high_nibble | bus >> 4;
	}
	if (rs)
		write_data(c, value, now);
	else
		execute(c, value, now);
}

static void after_data_read(struct hd44780 *c, u64 now)
{
	step_address(c, c->increment);
	load_data_register(c);
	start_busy(c, DATA_NS, "a data read", now);
}

/* On the 4-bit bus the byte is taken as its high nibble goes out. */
static void latch_read(struct hd44780 *c, bool rs, u64 now)
{
	const char *what = rs ? "data read" : "busy flag read";
	u8 value = output(c, rs, now);

	check_ready(c, rs, true, what, value, now);
	if (!c->eight_bit && !c->low_nibble_due) {
		c->read_latch = rs ? c->data_register : flag_and_address(c, now);
		c->low_nibble_due = true;
		return;
	}
	c->low_nibble_due = false;
	if (rs)
		after_data_read(c, now);
}

static void controller_power_on(struct hd44780 *c)
{
	memset(c, 0, sizeof(*c));
	memset(c->ddram, ' ', sizeof(c->ddram));
	c->eight_bit = true;
	c->increment = true;
	c->busy_with = "";
}

/* -- the module ------------------------------------------------------------ */

/* Lines nobody drives: the data lines, RS and RW float high on the module's
 * pull-ups, an RW that is not wired is tied to ground, and the enables sit low. */
static u16 seen(const struct lcd_module *m, u16 levels, u16 drives)
{
	u16 floating = ~drives & (LCD_DATA | LCD_RS | (m->wired & LCD_RW));
	u16 lines = (levels & drives) | floating;

	return (lines & ~(u16)m->stuck_low) | m->stuck_high;
}

static bool enabled(const struct lcd_module *m, int n, u16 lines)
{
	return n < m->controllers && (lines & enables[n]);
}

static u8 driven_by(const struct lcd_module *m, int n, u16 lines)
{
	return enabled(m, n, lines) && (lines & LCD_RW) ? bus_lines(&m->ctl[n]) : 0;
}

void lcd_module_power_on(struct lcd_module *m, u16 wired, u8 stuck_low, u8 stuck_high,
			 u16 levels, u16 drives, u64 now)
{
	controller_power_on(&m->ctl[0]);
	controller_power_on(&m->ctl[1]);
	m->wired = wired;
	m->controllers = wired & LCD_E1 ? 2 : 1;
	m->stuck_low = stuck_low;
	m->stuck_high = stuck_high;
	drives &= wired;
	m->lines = seen(m, levels, drives);
	m->host_drives = drives & LCD_DATA;
	m->host_levels = levels & LCD_DATA;
	m->address_ns = m->data_ns = m->rose_ns[0] = m->rose_ns[1] = now;
}

static void check_drivers(struct lcd_module *m)
{
	int n;

	for (n = 0; n < m->controllers; n++) {
		struct hd44780 *c = &m->ctl[n];
		u8 mine = driven_by(m, n, m->lines);
		u8 fought = mine & (m->host_drives | driven_by(m, 1 - n, m->lines));

		if (fought && !c->fighting)
			breach(c, LCD_DRIVERS, "E%d drove data lines 0x%02X that %s drove", n, fought,
			       fought & m->host_drives ? "the host" : "the other controller");
		c->fighting = fought;
	}
}

void lcd_module_apply(struct lcd_module *m, u16 levels, u16 drives, u64 now)
{
	u16 before = m->lines, after, steady;
	int n;

	drives &= m->wired;
	after = seen(m, levels, drives);
	m->host_drives = drives & LCD_DATA;
	m->host_levels = levels & LCD_DATA;
	/* RS, RW and the data lines first, the enables as they were. */
	steady = (after & ~(LCD_E0 | LCD_E1)) | (before & (LCD_E0 | LCD_E1));
	if ((before ^ after) & (LCD_RS | LCD_RW)) {
		for (n = 0; n < m->controllers; n++)
			if (enabled(m, n, before))
				breach(&m->ctl[n], LCD_UNSTEADY, "%s changed while E%d was high",
				       (before ^ after) & LCD_RS ? "RS" : "RW", n);
		m->address_ns = now;
	}
	if ((before ^ after) & LCD_DATA)
		m->data_ns = now;
	m->lines = steady;
	check_drivers(m);
	/* Then the enables' edges. */
	for (n = 0; n < m->controllers; n++) {
		struct hd44780 *c = &m->ctl[n];
		bool was = before & enables[n], is = after & enables[n];

		if (!was && is) {
			if (now - m->address_ns < ADDRESS_SETUP_NS)
				breach(c, LCD_SETUP, "E%d rose %llu ns after RS or RW changed", n,
				       now - m->address_ns);
			m->rose_ns[n] = now;
		} else if (was && !is) {
			bool rs = after & LCD_RS;

			if (now - m->rose_ns[n] < PULSE_MIN_NS)
				breach(c, LCD_PULSE, "E%d high for %llu ns", n, now - m->rose_ns[n]);
			if (after & LCD_RW) {
				latch_read(c, rs, now);
				continue;
			}
			if (now - m->data_ns < DATA_SETUP_NS)
				breach(c, LCD_SETUP, "E%d fell %llu ns after the data changed", n,
				       now - m->data_ns);
			latch_write(c, rs, after & LCD_DATA, now);
		}
	}
	m->lines = after;
	check_drivers(m);
}

u16 lcd_module_pins(const struct lcd_module *m, u64 now)
{
	u8 data = m->host_levels | ~m->host_drives;
	int n;

	for (n = 0; n < m->controllers; n++) {
		u8 mask = driven_by(m, n, m->lines);

		if (mask)
			data &= output(&m->ctl[n], m->lines & LCD_RS, now) | ~mask;
	}
	data = (data & ~m->stuck_low) | m->stuck_high;
	return (m->lines & ~LCD_DATA) | data;
}

static void show_bytes(struct seq_file *s, int n, const char *what, u8 address, const u8 *bytes,
		       int count)
{
	seq_printf(s, "E%d %s 0x%02X", n, what, address);
	while (count--)
		seq_printf(s, " %02X", *bytes++);
	seq_putc(s, '\n');
}

void lcd_module_show(struct seq_file *s, const struct lcd_module *m, u64 now)
{
	static const char *const kinds[LCD_BREACH_KINDS] = {
		"busy", "unsteady", "pulse", "setup", "drivers",
	};
	int n, k;

	seq_puts(s, "fault ");
	if (!(m->stuck_low | m->stuck_high))
		seq_puts(s, "none");
	for (n = 0; n < 8; n++)
		if ((m->stuck_low | m->stuck_high) & BIT(n))
			seq_printf(s, "%sD%d=%d", (m->stuck_low | m->stuck_high) & (BIT(n) - 1) ? "," : "",
				   n, !!(m->stuck_high & BIT(n)));
	seq_printf(s, "\ncontrollers %d\n", m->controllers);
	for (n = 0; n < m->controllers; n++) {
		const struct hd44780 *c = &m->ctl[n];
		u64 total = 0;

		for (k = 0; k < LCD_BREACH_KINDS; k++)
			total += c->breaches[k];
		seq_printf(s, "E%d bus %d-bit, %d line%s, display %s, cursor %s, blink %s\n", n,
			   c->eight_bit ? 8 : 4, c->two_lines ? 2 : 1, c->two_lines ? "s" : "",
			   c->display_on ? "on" : "off", c->cursor_on ? "on" : "off",
			   c->blink_on ? "on" : "off");
		seq_printf(s, "E%d address 0x%02X in %s%s\n", n, c->ac,
			   c->cgram_selected ? "CGRAM" : "DDRAM", busy(c, now) ? ", busy" : "");
		seq_printf(s, "E%d breaches %llu:", n, total);
		for (k = 0; k < LCD_BREACH_KINDS; k++)
			seq_printf(s, " %s %llu", kinds[k], c->breaches[k]);
		seq_printf(s, "\nE%d last %s\n", n, c->last[0] ? c->last : "-");
		if (c->two_lines) {
			show_bytes(s, n, "ddram", 0x00, c->ddram, 40);
			show_bytes(s, n, "ddram", 0x40, c->ddram + 40, 40);
		} else {
			show_bytes(s, n, "ddram", 0x00, c->ddram, LCD_DDRAM);
		}
		show_bytes(s, n, "cgram", 0x00, c->cgram, LCD_CGRAM);
	}
}
