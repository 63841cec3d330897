// The simulated I2C bus over a fake kernel, reached as i2c-dev is (I2cDevice):
// what it hides and shows of the fallback, what an empty address and an
// unplugged device answer, each transfer's bus time, and each expander's
// transfers as the chip takes them, pin for pin and register for register.
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/VirtualClock.h"
#include "io/I2cBus.h"
#include "sim/SimulatedI2cBus.h"
#include "support/FakeKernel.h"
#include "support/SimulatedBus.h"

namespace {

struct BusBench {
    explicit BusBench(const std::vector<std::string>& devices)
        : bus(MakeSimulatedBus(
              devices, clock, [this](std::uint64_t micros) { waits.push_back(micros); },
              fallback)) {}
    // A device on the bus, opened and claimed as the transports do it.
    std::unique_ptr<I2cDevice> Device(std::uint8_t address) {
        auto device =
            std::make_unique<I2cDevice>(bus, std::string(SimulatedI2cBus::kNode), 1, address);
        EXPECT_GE(device->OpenBus(), 0);
        EXPECT_EQ(device->Claim(), 0);
        return device;
    }

    std::shared_ptr<FakeKernel> fallback = std::make_shared<FakeKernel>();
    VirtualClock clock;
    std::vector<std::uint64_t> waits;
    std::shared_ptr<SimulatedI2cBus> bus;
};

// The real buses give way: /dev and sysfs show this one alone, other nodes are
// not there, and everything else is the fallback's. Requests i2c-dev refuses
// are refused alike.
TEST(SimulatedI2cBus, StandsInForTheRealBuses) {
    BusBench b({});
    b.fallback->dirs["/dev"] = {"null", "i2c-0", "parport0", "i2c-7"};
    b.fallback->files["/sys/bus/i2c/devices/i2c-0/name"] = "SMBus I801 adapter\n";
    const std::vector<I2cBusInfo> buses = ListI2cBuses(*b.bus);
    ASSERT_EQ(buses.size(), 1u);
    EXPECT_EQ(buses[0].node + " " + std::to_string(buses[0].number) + " " + buses[0].adapter,
              "/dev/i2c-1 1 lcdtest simulated I2C bus");
    std::vector<std::string> names;
    EXPECT_EQ(b.bus->ListDirectory("/dev", names), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"i2c-1", "null", "parport0"}));
    std::string text;
    EXPECT_EQ(b.bus->ReadFile("/sys/bus/i2c/devices/i2c-0/name", text), -ENOENT);
    EXPECT_EQ(b.bus->Open("/dev/i2c-0", O_RDWR), -ENOENT);
    EXPECT_EQ(b.bus->Open("/dev/parport0", O_RDWR), 3);
    EXPECT_EQ(b.fallback->opened, std::vector<std::string>{"/dev/parport0"});

    const int fd = b.bus->Open("/dev/i2c-1", O_RDWR);
    unsigned long functions = 0;
    EXPECT_EQ(b.bus->Ioctl(fd, I2C_FUNCS, &functions), 0);
    EXPECT_EQ(functions, I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA);
    i2c_smbus_data data{};
    const auto smbus = [&](char readWrite, std::uint32_t size, i2c_smbus_data* with) {
        i2c_smbus_ioctl_data request{static_cast<std::uint8_t>(readWrite), 0, size, with};
        return b.bus->Ioctl(fd, I2C_SMBUS, &request);
    };
    EXPECT_EQ(smbus(I2C_SMBUS_READ, I2C_SMBUS_WORD_DATA, &data), -EOPNOTSUPP);
    EXPECT_EQ(smbus(I2C_SMBUS_READ, 99, &data), -EINVAL);
    EXPECT_EQ(smbus(2, I2C_SMBUS_BYTE, &data), -EINVAL);
    EXPECT_EQ(smbus(I2C_SMBUS_READ, I2C_SMBUS_BYTE, nullptr), -EINVAL);
    EXPECT_EQ(b.bus->Ioctl(fd, I2C_SLAVE, reinterpret_cast<void*>(std::uintptr_t{0x80})), -EINVAL);
    EXPECT_EQ(b.bus->Ioctl(fd, I2C_RDWR, nullptr), -EOPNOTSUPP);
    EXPECT_EQ(b.bus->Ioctl(fd, I2C_PEC, nullptr), -ENOTTY);
    EXPECT_EQ(b.bus->Close(fd), 0);
    EXPECT_EQ(b.bus->Close(fd), -EBADF);  // the fallback never had it
    EXPECT_TRUE(b.waits.empty());
}

// Each transfer's bits at 10 us, waited before it returns and counted per
// address; an empty address takes its address byte alone, an unplugged
// device nothing at all.
TEST(SimulatedI2cBus, AnswersAndBusTime) {
    BusBench b({"0x27=pcf8574", "0x20=mcp23008"});
    const auto pcf = b.Device(0x27), mcp = b.Device(0x20), none = b.Device(0x30);
    std::uint8_t byte = 0;
    struct Case {
        const char* what;
        std::function<int()> transfer;
        int result;
        std::uint64_t micros;
    };
    const Case cases[] = {
        {"send byte", [&] { return pcf->SendByte(0x08); }, 0, 200},
        {"receive byte", [&] { return pcf->ReceiveByte(byte); }, 0, 200},
        {"quick write", [&] { return pcf->Quick(false); }, 0, 110},
        {"write byte data", [&] { return mcp->WriteByteData(0x0A, 1); }, 0, 290},
        {"read byte data", [&] { return mcp->ReadByteData(0x00, byte); }, 0, 390},
        {"nobody there", [&] { return none->ReadByteData(0x00, byte); }, -ENXIO, 110},
        {"unplugged", [&] { return (b.bus->Unplug(0x27), pcf->SendByte(0)); }, -ENODEV, 0},
    };
    for (const Case& c : cases) {
        b.waits.clear();
        EXPECT_EQ(c.transfer(), c.result) << c.what;
        EXPECT_EQ(b.waits, c.micros ? std::vector{c.micros} : std::vector<std::uint64_t>{})
            << c.what;
    }
    using T = SimulatedI2cBus::Traffic;
    EXPECT_EQ(b.bus->TrafficAt(0x27), (T{3, 510}));
    EXPECT_EQ(b.bus->TrafficAt(0x20), (T{2, 680}));
    EXPECT_EQ(b.bus->TrafficAt(0x30), (T{1, 110}));
    EXPECT_EQ(b.bus->Total(), (T{6, 1300}));
    EXPECT_EQ(b.bus->Describe(), "/dev/i2c-1 is simulated, with 0x20=mcp23008 and 0x27=pcf8574");
}

// One step of a script against one device: a transfer, and what it reads (or
// -1); then the pins as they stand and the backlight ('+' lit, '-' dark, ' '
// no backlight pin).
struct Step {
    char op;  // 'S' send byte, 'R' receive byte, 'W' write byte data, 'D' read byte data
    std::uint8_t command;
    int value;  // W: the byte written; R and D: the byte expected
    int pins;   // the pins' levels afterwards, -1 unchecked
    char backlight;
};

void RunScript(const std::string& device, const std::vector<Step>& steps) {
    BusBench b({device});
    SimulatedBackpack& backpack = *b.bus->At(0x20);
    const auto i2c = b.Device(0x20);
    for (std::size_t n = 0; n < steps.size(); ++n) {
        const Step& s = steps[n];
        std::uint8_t read = 0;
        const int result = s.op == 'S'   ? i2c->SendByte(s.command)
                           : s.op == 'R' ? i2c->ReceiveByte(read)
                           : s.op == 'W'
                               ? i2c->WriteByteData(s.command, static_cast<std::uint8_t>(s.value))
                               : i2c->ReadByteData(s.command, read);
        const auto where = ::testing::Message() << device << ", step " << n;
        EXPECT_EQ(result, 0) << where;
        if (s.op == 'R' || s.op == 'D') {
            EXPECT_EQ(read, s.value) << where;
        }
        if (s.pins >= 0) {
            EXPECT_EQ(backpack.PinLevels(), s.pins) << where;
        }
        const auto lit = backpack.Backlight();
        EXPECT_EQ(lit ? (*lit ? '+' : '-') : ' ', s.backlight) << where;
    }
}

// A PCF8574 pin written high reads what drives it: the module's data outputs
// while RW and E are high (at power-on too: all pins high), the backlight
// transistor's base low (an NPN's; a PNP's high), RS and E high from the pin's
// own weak pull-up. A read or write byte data puts its command byte on the
// pins first. A relay board's pins read low unless written low... and low then.
TEST(SimulatedI2cBus, Pcf8574PinsAndLoads) {
    // Common wiring: RS=P0, RW=P1, E0=P2, BL=P3 (lit high), D4..D7=P4..P7. The
    // module powers up on 8 bits reading its data register (0): D4..D7 low.
    RunScript("0x20=pcf8574", {
                                  {'R', 0, 0x07, 0x07, '+'},
                                  {'S', 0x00, -1, 0x00, '-'},
                                  {'S', 0xF1, -1, 0xF1, '-'},  // E low: nothing drives D4..D7
                                  // E rises: the module drives its data register, a blank
                                  // since the power-on read E's first fall made.
                                  {'D', 0xFF, 0x27, 0x27, '+'},
                                  {'W', 0x00, 0xF8, 0xF0, '+'},
                              });
    // The backlight lit by a low pin; RW grounded with its pin.
    RunScript("0x20=pcf8574,invert=BL,rw=ground", {
                                                      {'R', 0, 0xFD, 0xFD, '-'},
                                                      {'S', 0xF7, -1, 0xF5, '+'},
                                                  });
    RunScript("0x20=pcf8574,no-module", {
                                            {'R', 0, 0x00, 0x00, ' '},
                                            {'S', 0x0F, -1, 0x00, ' '},
                                        });
}

// MCP23008 registers: the pointer a send byte sets walks them one a byte and
// wraps after OLAT, or stays with IOCON.SEQOP; GPIO reads the pins (through
// IPOL) and a write to it goes to OLAT; INTF and INTCAP stay 0; IOCON keeps
// the bits it has. An input pin reads its pull-up, the module's pull-ups on RS
// and the data lines, a floating E low; a relay board's inputs read low.
TEST(SimulatedI2cBus, Mcp23008Registers) {
    // Common wiring: RS=GP1, E0=GP2, D4..D7=GP3..GP6, BL=GP7, RW to ground.
    RunScript(
        "0x20=mcp23008",
        {
            {'W', 0x02, 0x12, -1, '-'},   {'W', 0x06, 0x81, 0x7B, '+'},  // pulled up: GP0, BL lit
            {'W', 0x08, 0x77, -1, '+'},                                  // INTCAP: not writable
            {'W', 0x09, 0x9A, 0x7B, '+'},  // to OLAT; all inputs still
            {'S', 0x00, -1, -1, '+'},     {'R', 0, 0xFF, -1, '+'},      {'R', 0, 0x00, -1, '+'},
            {'R', 0, 0x12, -1, '+'},      {'R', 0, 0x00, -1, '+'},  // DEFVAL
            {'R', 0, 0x00, -1, '+'},                                // INTCON

            {'R', 0, 0x00, -1, '+'},                                   // IOCON
            {'R', 0, 0x81, -1, '+'},      {'R', 0, 0x00, -1, '+'},     // INTF
            {'R', 0, 0x00, -1, '+'},                                   // INTCAP
            {'R', 0, 0x7B, -1, '+'},                                   // GPIO
            {'R', 0, 0x9A, -1, '+'},                                   // OLAT
            {'R', 0, 0xFF, -1, '+'},                                   // wrapped to IODIR
            {'W', 0x00, 0x00, 0x9A, '+'},                              // all outputs: OLAT
            {'W', 0x01, 0x0F, -1, '+'},   {'D', 0x09, 0x95, -1, '+'},  // IPOL inverts
            {'W', 0x05, 0xFF, -1, '+'},                                // SEQOP, and more
            {'D', 0x05, 0x3E, -1, '+'},   {'R', 0, 0x3E, -1, '+'},
        });
    RunScript("0x20=mcp23008,no-module", {
                                             {'W', 0x06, 0xFF, 0x00, ' '},
                                             {'W', 0x0A, 0xFF, 0x00, ' '},
                                             {'W', 0x00, 0xF0, 0x0F, ' '},
                                         });
}

// MCP23017: with IOCON.BANK 0 the ports' registers interleave and the pointer
// wraps after OLATB (0x15), or toggles within an A/B pair with SEQOP; with
// BANK 1 port B's sit at 0x10 on, IOCON at 0x05 and 0x15, the pointer steps
// from OLATA to IODIRB and wraps after OLATB (0x1A). Writing 0 to 0x05 there
// puts BANK back to 0. The plate's three backlight pins are lit by a low pin.
TEST(SimulatedI2cBus, Mcp23017RegistersInBothBankMaps) {
    RunScript("0x20=mcp23017",
              {
                  {'W', 0x14, 0xBF, 0xDFC0, '-'},  // OLATA; all inputs
                  {'W', 0x00, 0xBF, -1, '+'},      // GPA6 output low: red
                  {'R', 0, 0xFF, -1, '+'},         // IODIRB
                  {'S', 0x14, -1, -1, '+'},       {'R', 0, 0xBF, -1, '+'},
                  {'R', 0, 0x00, -1, '+'},  // OLATB
                  {'R', 0, 0xBF, -1, '+'},  // wrapped to IODIRA
                  {'W', 0x0A, 0x20, -1, '+'},     {'D', 0x12, 0x80, -1, '+'},
                  {'R', 0, 0xDF, -1, '+'},     // GPIOB
                  {'R', 0, 0x80, -1, '+'},     // GPIOA again
                  {'W', 0x0B, 0x80, -1, '+'},  // BANK 1 through IOCONB
                  {'D', 0x05, 0x80, -1, '+'},     {'D', 0x15, 0x80, -1, '+'},
                  {'S', 0x0A, -1, -1, '+'},       {'R', 0, 0xBF, -1, '+'},  // OLATA
                  {'R', 0, 0xFF, -1, '+'},                                  // IODIRB
                  {'S', 0x1A, -1, -1, '+'},       {'R', 0, 0x00, -1, '+'},  // OLATB
                  {'R', 0, 0xBF, -1, '+'},                                  // wrapped to IODIRA
                  {'W', 0x05, 0x00, -1, '+'},     {'D', 0x0A, 0x00, -1, '+'},
                  {'R', 0, 0x00, -1, '+'},
              });
}

}  // namespace
