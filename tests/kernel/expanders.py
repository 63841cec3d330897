"""Drives the module behind an MCP23008 or MCP23017 on the check's I2C adapter
through i2c-dev, as a host program would, until the tool has transports for
these expanders: SMBus read/write byte data for single registers, plain I2C
reads and writes for sequential and byte-mode addressing. It runs in the guest
(guest.sh) and checks the expander's registers and the module's answers as it
goes; compare.py then checks the model's state against the "sent" lines.

    python3 expanders.py /dev/i2c-N mcp23008|mcp23017 ADDRESS

Prints one line per check, "sent ..." lines, and "checks: N, failed: M"; the
exit status is 1 when a check failed."""

import ctypes
import errno
import fcntl
import os
import sys
import time

I2C_SLAVE, I2C_SMBUS = 0x0703, 0x0720
SMBUS_WRITE, SMBUS_READ, SMBUS_BYTE_DATA = 0, 1, 2


class SmbusData(ctypes.Union):
    _fields_ = [("byte", ctypes.c_uint8), ("word", ctypes.c_uint16), ("block", ctypes.c_uint8 * 34)]


class SmbusArgs(ctypes.Structure):
    _fields_ = [("read_write", ctypes.c_uint8), ("command", ctypes.c_uint8),
                ("size", ctypes.c_uint32), ("data", ctypes.POINTER(SmbusData))]


class Device:
    def __init__(self, node, address):
        self.fd = os.open(node, os.O_RDWR)
        fcntl.ioctl(self.fd, I2C_SLAVE, address)

    def _smbus(self, read_write, command, value=0):
        data = SmbusData()
        data.byte = value
        fcntl.ioctl(self.fd, I2C_SMBUS, SmbusArgs(read_write, command, SMBUS_BYTE_DATA, ctypes.pointer(data)))
        return data.byte

    def get(self, register):
        return self._smbus(SMBUS_READ, register)

    def set(self, register, value):
        self._smbus(SMBUS_WRITE, register, value)

    def write(self, *data):  # plain I2C: the register pointer, then bytes
        os.write(self.fd, bytes(data))

    def read(self, count):
        return list(os.read(self.fd, count))


checks = failed = 0


def check(what, got, want):
    global checks, failed
    checks += 1
    if got != want:
        failed += 1
        print(f"FAIL {what}: got {got!r}, expected {want!r}")
    else:
        print(f"ok {what}")


class Module:
    """An HD44780 on expander pins: `pins(rs, rw, e)` writes the control pins,
    `data(value)` and `sample()` the data pins, `turn(input)` their direction."""

    def __init__(self, bits):
        self.bits = bits  # 8 or 4

    def wait(self):
        time.sleep(0.002)  # longer than any instruction but clear and home

    def cycle(self, rs, value, controller=0, eight=None):
        eight = self.bits == 8 if eight is None else eight
        nibbles = [value] if eight else [value & 0xF0, (value << 4) & 0xF0]
        self.pins(rs, 0, None)
        for part in nibbles:
            self.data(part)
            self.pins(rs, 0, controller)
            self.pins(rs, 0, None)
        self.wait()

    def read(self, rs, controller=0):
        self.turn(True)
        self.pins(rs, 1, None)
        parts = []
        for _ in range(1 if self.bits == 8 else 2):
            self.pins(rs, 1, controller)
            parts.append(self.sample())
            self.pins(rs, 1, None)
        self.pins(rs, 0, None)
        self.turn(False)
        return parts[0] if self.bits == 8 else (parts[0] & 0xF0) | parts[1] >> 4

    def init(self, controller=0):
        """Initialisation by instructions, with the datasheet's waits."""
        for wait in (0.005, 0.001, 0.001):
            self.cycle(0, 0x30, controller, eight=True)
            time.sleep(wait)
        if self.bits == 4:
            self.cycle(0, 0x20, controller, eight=True)
        for op in (0x38 if self.bits == 8 else 0x28, 0x08, 0x01, 0x06, 0x0C):
            self.cycle(0, op, controller)

    def text(self, controller, address, text):
        self.cycle(0, 0x80 | address, controller)
        for c in text.encode():
            self.cycle(1, c, controller)
        print(f"sent E{controller} DDRAM 0x{address:02X} " + " ".join(f"{c:02X}" for c in text.encode()))

    def glyph(self, controller, rows):
        self.cycle(0, 0x40, controller)
        for r in rows:
            self.cycle(1, r, controller)
        print(f"sent E{controller} CGRAM 0x00 " + " ".join(f"{r:02X}" for r in rows))

    def read_back(self, controller, address, count):
        self.cycle(0, 0x80 | address, controller)
        return bytes(self.read(1, controller) for _ in range(count)).decode(errors="replace")


GLYPH = [0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11, 0x00]


def mcp23017(device):
    """8-bit bus on GPA, RS/RW/E0/E1/BL on GPB0..4: a 40x4 with both controllers."""
    check("IODIRA, IODIRB at power-on", [device.get(0x00), device.get(0x01)], [0xFF, 0xFF])
    check("IOCON at 0x0A and 0x0B", [device.get(0x0A), device.get(0x0B)], [0, 0])
    device.write(0x00, 0x00, 0x00)  # sequential: IODIRA then IODIRB, both outputs
    device.write(0x00)
    check("a sequential read of IODIRA, IODIRB", device.read(2), [0x00, 0x00])
    registers = {"IODIRA": 0x00, "GPIOA": 0x12, "OLATA": 0x14, "OLATB": 0x15}
    backlight = 0x10

    class OnMcp23017(Module):
        def pins(self, rs, rw, controller):
            enable = 0 if controller is None else 1 << (2 + controller)
            device.set(registers["OLATB"], rs | rw << 1 | enable | backlight)

        def data(self, value):
            device.set(registers["GPIOA"], value)  # a GPIO write goes to the latch

        def sample(self):
            return device.get(registers["GPIOA"])

        def turn(self, inputs):
            device.set(registers["IODIRA"], 0xFF if inputs else 0x00)

    lcd = OnMcp23017(8)
    for controller in (0, 1):
        lcd.init(controller)
    lcd.text(0, 0x00, "MCP23017 E0")
    lcd.text(1, 0x40, "E1 on GPB3")
    lcd.glyph(0, GLYPH)
    check("E0 busy flag and address counter", lcd.read(0, 0), 0x08)
    check("E0 DDRAM 0x00", lcd.read_back(0, 0x00, 11), "MCP23017 E0")
    check("E1 DDRAM 0x40", lcd.read_back(1, 0x40, 10), "E1 on GPB3")
    lcd.cycle(0, 0x40, 0)
    check("E0 CGRAM 0x00", [lcd.read(1, 0) for _ in GLYPH], GLYPH)

    olatb = device.get(0x15)
    device.set(0x0A, 0x80)  # BANK=1: port A at 0x00..0x0A, port B at 0x10..0x1A
    check("IOCON at 0x05 and 0x15 with BANK=1", [device.get(0x05), device.get(0x15)], [0x80, 0x80])
    check("OLATB at 0x1A with BANK=1", device.get(0x1A), olatb)
    registers.update(GPIOA=0x09, OLATA=0x0A, OLATB=0x1A)
    lcd.text(0, 0x10, "BANK1")
    check("E0 DDRAM 0x10 through BANK=1 addresses", lcd.read_back(0, 0x10, 5), "BANK1")
    device.write(0x0A)  # sequential with BANK=1: OLATA, then over the gap to IODIRB
    check("a sequential read from OLATA with BANK=1", device.read(2), [device.get(0x0A), 0x00])

    device.set(0x05, 0x20)  # BANK=0, byte mode: the pointer toggles within a pair
    check("IOCON at 0x0A after BANK=0, SEQOP=1", device.get(0x0A), 0x20)
    device.write(0x14, 0x55, backlight, 0xAA)  # OLATA, OLATB, OLATA
    check("OLATA, OLATB after a write toggling between them", [device.get(0x14), device.get(0x15)],
          [0xAA, backlight])
    device.set(0x00, 0xFF)  # the data pins inputs a while: RW is low, so nothing drives them
    device.write(0x00)
    check("a byte-mode read toggling IODIRA, IODIRB", device.read(3), [0xFF, 0x00, 0xFF])
    device.set(0x00, 0x00)
    device.set(0x0A, 0x00)  # sequential again: the pointer rolls over after OLATB
    device.write(0x15)
    check("a sequential read rolling over from OLATB to IODIRA", device.read(2), [backlight, 0x00])


def mcp23008(device):
    """4-bit bus on GP4..GP7, RS/RW/E0/BL on GP0..GP3: the usual backpack wiring with RW."""
    check("IODIR at power-on", device.get(0x00), 0xFF)
    device.set(0x00, 0x00)
    backlight = 0x08

    class OnMcp23008(Module):
        control = 0

        def pins(self, rs, rw, controller):
            self.control = rs | rw << 1 | (4 if controller is not None else 0) | backlight
            device.set(0x0A, (device.get(0x0A) & 0xF0) | self.control)  # OLAT

        def data(self, value):
            device.set(0x09, (value & 0xF0) | self.control)  # GPIO: to the latch

        def sample(self):
            return device.get(0x09)

        def turn(self, inputs):
            device.set(0x00, 0xF0 if inputs else 0x00)

    lcd = OnMcp23008(4)
    lcd.init()
    lcd.text(0, 0x00, "MCP23008")
    lcd.text(0, 0x40, "4-bit")
    lcd.glyph(0, GLYPH)
    check("busy flag and address counter", lcd.read(0), 0x08)
    check("DDRAM 0x00", lcd.read_back(0, 0x00, 8), "MCP23008")
    check("DDRAM 0x40", lcd.read_back(0, 0x40, 5), "4-bit")
    device.set(0x01, 0xF0)  # IPOL: the data pins read inverted
    lcd.cycle(0, 0x80, 0)
    check("DDRAM 0x00 through IPOL=0xF0", lcd.read(1), ord("M") ^ 0xFF)
    device.set(0x01, 0x00)
    olat = device.get(0x0A)
    device.write(0x0A, olat, 0x00)  # sequential: OLAT, then back to IODIR
    device.write(0x0A)
    check("a sequential read rolling over from OLAT to IODIR", device.read(2), [olat, 0x00])
    device.set(0x05, 0xA0)  # SEQOP, and a BANK bit this chip lacks
    check("IOCON keeps SEQOP, has no BANK", device.get(0x05), 0x20)
    device.write(0x0A)
    check("a byte-mode read stays on OLAT", device.read(3), [olat] * 3)


def main():
    node, kind, address = sys.argv[1], sys.argv[2], int(sys.argv[3], 16)
    {"mcp23008": mcp23008, "mcp23017": mcp23017}[kind](Device(node, address))
    try:
        Device(node, 0x21).get(0x00)
        check("an empty address", "answered", "ENXIO")
    except OSError as e:
        check("an empty address", errno.errorcode.get(e.errno), "ENXIO")
    print(f"checks: {checks}, failed: {failed}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
