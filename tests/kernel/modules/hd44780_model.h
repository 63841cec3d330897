/* SPDX-License-Identifier: GPL-2.0 */
/* Kernel style, as the module sources beside it. */
/* clang-format off */
/*
 * An HD44780 character module for the virtual-machine check's GPIO chip and
 * I2C expanders: one controller per enable line, each with its memories,
 * address counter, bus width and busy time, answering reads as the chip does.
 * The carrier says what its pins put on the module's lines after each change;
 * the module latches on an enable's falling edge, drives the data lines while
 * RW and its enable are high, and counts the bus rules the host broke.
 */
#ifndef LCDTEST_HD44780_MODEL_H
#define LCDTEST_HD44780_MODEL_H

#include <linux/bits.h>
#include <linux/types.h>

struct seq_file;

/* The module's lines as bits, in the order the tool's line sets use. */
#define LCD_DATA 0x00ffu /* D0..D7: bits 0..7 */
#define LCD_E0 BIT(8)
#define LCD_RW BIT(9)
#define LCD_RS BIT(10)
#define LCD_E1 BIT(11)
#define LCD_LINES 12
#define LCD_BL LCD_LINES /* a carrier's backlight pin, which the model ignores */

#define LCD_DDRAM 80
#define LCD_CGRAM 64

enum lcd_breach {
	LCD_BUSY,     /* a transfer latched while the controller was busy */
	LCD_UNSTEADY, /* RS or RW changed while its enable was high */
	LCD_PULSE,    /* an enable pulse shorter than the minimum */
	LCD_SETUP,    /* RS/RW before the rise, or data before the fall, too late */
	LCD_DRIVERS,  /* the controller drove data lines someone else drove */
	LCD_BREACH_KINDS
};

struct hd44780 {
	u8 ddram[LCD_DDRAM];
	u8 cgram[LCD_CGRAM];
	u8 ac;
	bool cgram_selected;
	bool increment, shift_display;
	bool display_on, cursor_on, blink_on;
	bool eight_bit, two_lines, font_5x10;
	u8 display_shift;
	bool low_nibble_due; /* 4-bit bus: the next edge carries a low nibble */
	u8 high_nibble;      /* a written high nibble, in bits 7..4 */
	u8 read_latch;       /* the byte being read out nibble by nibble */
	u8 data_register;    /* the byte a data read gives next */
	int function_sets;   /* since power-on */
	u64 busy_until;      /* ns, on the clock of ktime_get_ns() */
	const char *busy_with;
	u64 breaches[LCD_BREACH_KINDS];
	bool fighting; /* drivers: counted once per fight */
	char last[96];
};

struct lcd_module {
	struct hd44780 ctl[2];
	int controllers; /* 2 when E1 is wired */
	u16 wired;
	u8 stuck_low, stuck_high; /* data lines held at a level ("open" reads high) */
	u16 lines;                /* the lines as the controllers see them */
	u8 host_drives, host_levels;
	u64 address_ns, data_ns, rose_ns[2];
};

/* "RS", "E1", "D5": the line's bit number, or -1. */
int lcd_line_named(const char *name, size_t length);
/* "none", or "D5=0", "D6=1", "D2=open", joined by commas. */
int lcd_parse_fault(const char *text, u8 *low, u8 *high);

/*
 * A freshly powered module on `wired` lines (RW not wired is tied to ground),
 * with the lines as the carrier drives them now: no edge is taken from them.
 */
void lcd_module_power_on(struct lcd_module *m, u16 wired, u8 stuck_low, u8 stuck_high,
			 u16 levels, u16 drives, u64 now);
/*
 * The carrier's pins changed: `levels` on the lines in `drives`, the others
 * left to the module's pull-ups. Changes that arrive in one call take effect
 * in one order: RS, RW and the data lines first, then the enables, all at
 * `now`; so a change that comes with an edge has no set-up time, or comes
 * while the enable is still high, and counts as a breach either way.
 */
void lcd_module_apply(struct lcd_module *m, u16 levels, u16 drives, u64 now);
/* The level of each line at the module's pins: data as driven or pulled up. */
u16 lcd_module_pins(const struct lcd_module *m, u64 now);
/* What the module holds and the breaches, for the check to read. */
void lcd_module_show(struct seq_file *s, const struct lcd_module *m, u64 now);

#endif
