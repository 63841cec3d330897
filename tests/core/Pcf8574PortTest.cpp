// The PCF8574 backpack over the fake kernel: the mappings read, the bytes a run
// puts on the bus, the read turn-around, the runs the wiring refuses, and each
// failure told once with its fix.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lcd/Geometry.h"
#include "lcd/TestRun.h"
#include "lcd/Verify.h"
#include "platform/Pcf8574Port.h"
#include "platform/PortIoMode.h"
#include "platform/PortTrace.h"
#include "res/Resource.h"
#include "support/FakeKernel.h"
#include "support/LineBench.h"

namespace {

using Ioctl = FakeParportSystem::IoctlCall;
constexpr const char* kBus = "/dev/i2c-1";
constexpr int kReceive = FakeParportSystem::kSmbusReceive;
constexpr const char* kCommonText =
    "RS=P0, RW=P1, E0=P2, backlight P3 on, D4..D7=P4..P7; 4-bit only, no E1";
const std::string kWhere = "the PCF8574 at 0x27 on /dev/i2c-1";

// Line 1 holds "A", the others nothing.
struct OneLetter final : TestRunSource {
    explicit OneLetter(int size) : size(size) {}
    int SizeSelection() const override { return size; }
    std::string LineBoxText(int id) const override { return id == IDC_LINE1 ? "A" : ""; }
    int size;
};

class Pcf8574PortTest : public ::testing::Test, protected LineBench {
protected:
    Pcf8574PortTest() { Fresh(); }
    // A kernel with the stub's bus 1 and a backpack answering at 0x27; nothing reported.
    void Fresh() {
        PortIo::Instance().Reset();
        sys = std::make_shared<FakeParportSystem>();
        FakeParportSystem::I2cBus bus;
        bus.answering = {0x27};
        sys->AddI2cBus(1, "SMBus stub driver", bus);
    }
    ~Pcf8574PortTest() override { PortIo::Instance().Reset(); }

    // Maps 0x378 as start-up does and puts the back-end in use; the start-up line.
    std::string Use(const std::string& device = "/dev/i2c-1@0x27") {
        std::vector<PortMapping> map;
        EXPECT_EQ(AddPortMapping(map, "0x378=" + device), "");
        PortBackendChoice choice = ChoosePortBackend(PortIoMode::Auto, sys, map);
        PortIo::Instance().SetBackend(std::move(choice.backend));
        return choice.announcement;
    }
    TestRunRecord Run(int size, BusWidth width) {
        return RunDisplayTest(driver, panel, timeline, width, OneLetter(size));
    }
    // The bytes sent so far, in order.
    std::vector<int> Sent() const {
        std::vector<int> bytes;
        for (const auto& [path, request, value] : sys->ioctls)
            if (request == I2C_SMBUS && value != kReceive) bytes.push_back(value);
        return bytes;
    }
    static std::string Told() {
        std::string all;
        for (const std::string& p : PortIo::Instance().Problems()) all += p + "\n";
        return all;
    }

    std::shared_ptr<FakeParportSystem> sys;
};

// Every mapping either reads into a pin map, shown in the wiring's words and
// put on the pins as the lines say, or is a usage error naming what is wrong.
TEST_F(Pcf8574PortTest, MappingsReadIntoPinMapsOrSayWhatIsWrong) {
    struct Case {
        const char* device;
        const char* told;  // the wiring's text, or the whole usage error
        LineSet wired = 0;
        int pins = -1;        // for D4..D7 = 0xA (from 0xA5), RS and E0 high; -1: refused
        int inputPins = 0;    // the same while the data lines are inputs
        int readsFrom1E = 0;  // the data lines a read of the pins 0x1E gives
    };
    const LineSet common = DataLines(0xF0) | ControlLines(kLineE0 | kLineRW | kLineRS);
    const LineSet noRW = DataLines(0xF0) | ControlLines(kLineE0 | kLineRS);
    const char* usage = "--port-map 0x378=";
    const Case cases[] = {
        {"/dev/i2c-1@0x27", kCommonText, common, 0xAD, 0xFD, 0x1F},
        {"/dev/i2c-10@0x3F,backlight=off",
         "RS=P0, RW=P1, E0=P2, backlight P3 off, D4..D7=P4..P7; 4-bit only, no E1", common, 0xA5,
         0xF5, 0x1F},
        // Reversed, as some backpacks are; a map of its own replaces the whole common one.
        {"/dev/i2c-0@0x20:D7=P0,D6=P1,D5=P2,D4=P3,BL=P4,E0=P5,RW=P6,RS=P7,backlight=on",
         "D7=P0, D6=P1, D5=P2, D4=P3, backlight P4 on, E0=P5, RW=P6, RS=P7; 4-bit only, no E1",
         common, 0xB5, 0xBF, 0x7F},
        // Pins left unused stay high, as at power-on.
        {"/dev/i2c-1@0x27:RS=P4,E0=P5,D4=P0,D5=P1,D6=P2,D7=P3",
         "D4..D7=P0..P3, RS=P4, E0=P5; 4-bit only, no RW, E1", noRW, 0xFA, 0xFF, 0xEF},
        {"/dev/i2c-1", "/dev/i2c-1: expected /dev/i2c-N@ADDRESS, for example /dev/i2c-1@0x27"},
        {"/dev/i2c-@0x27",
         "/dev/i2c-@0x27: /dev/i2c- is no I2C bus: expected /dev/i2c-N@ADDRESS, for example "
         "/dev/i2c-1@0x27"},
        {"/dev/i2c-1@27",
         "/dev/i2c-1@27: \"27\" is no device address: give it in hex, for example @0x27 (as "
         "i2cdetect shows it)"},
        {"/dev/i2c-1@0x78", "/dev/i2c-1@0x78: 0x78 is outside the device addresses 0x03..0x77"},
        {"/dev/i2c-1@0x27:RS=P0,RS=P1", "/dev/i2c-1@0x27:RS=P0,RS=P1: RS is named twice"},
        {"/dev/i2c-1@0x27:RS=P0,E0=P0",
         "/dev/i2c-1@0x27:RS=P0,E0=P0: P0 is named twice, for RS and E0"},
        {"/dev/i2c-1@0x27:RS=P8",
         "/dev/i2c-1@0x27:RS=P8: \"P8\" is no PCF8574 pin: expected P0..P7"},
        {"/dev/i2c-1@0x27:EN=P2",
         "/dev/i2c-1@0x27:EN=P2: unknown line \"EN\": expected D0..D7, E0, E1, RS, RW or BL (the "
         "backlight)"},
        {"/dev/i2c-1@0x27:RS",
         "/dev/i2c-1@0x27:RS: \"RS\" is neither LINE=Pn nor backlight=on|off, for example "
         "/dev/i2c-1@0x27:RS=P0,RW=P1,E0=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7"},
        {"/dev/i2c-1@0x27,backlight=dim",
         "/dev/i2c-1@0x27,backlight=dim: backlight=dim: expected backlight=on or backlight=off"},
        {"/dev/i2c-1@0x27:RS=P0,E0=P2,D4=P4,D5=P5,D6=P6,D7=P7,backlight=off",
         "/dev/i2c-1@0x27:RS=P0,E0=P2,D4=P4,D5=P5,D6=P6,D7=P7,backlight=off: backlight=off needs "
         "the backlight's pin: add BL=Pn to the map"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        std::vector<PortMapping> map;
        const std::string error = AddPortMapping(map, std::string("0x378=") + c.device);
        std::string parseError;
        const auto device = ParsePcf8574Device(c.device, parseError);
        if (c.pins < 0) {
            EXPECT_EQ(error, usage + std::string(c.told));
            EXPECT_TRUE(map.empty() && !device);
            continue;
        }
        ASSERT_EQ(error, "");
        ASSERT_TRUE(device);
        const PortWiring wiring = device->Wiring();
        EXPECT_EQ(wiring.text, c.told);
        EXPECT_EQ(wiring.wired, c.wired);
        EXPECT_EQ(wiring.invertedAtModule, 0);
        EXPECT_EQ(wiring.noReads, "");
        LineLevels lines{0xA5, kLineRS | kLineE0, false};
        EXPECT_EQ(device->PinsOf(lines), c.pins);
        lines.dataInput = true;
        EXPECT_EQ(device->PinsOf(lines), c.inputPins);
        EXPECT_EQ(device->DataOf(0x1E), c.readsFrom1E);
    }
}

// The bus is opened, its byte functions asked, the address taken and the
// expander read once; then every refresh that changes a pin is one send byte
// with all eight pins, the backlight on throughout, RW low in a write run.
TEST_F(Pcf8574PortTest, A4BitRunSendsOneByteForEachChangeOfAPin) {
    EXPECT_EQ(Use(), "using 0x378 on " + kWhere + " (" + kCommonText + ")");
    EXPECT_EQ(sys->opened, std::vector<std::string>{kBus});
    EXPECT_EQ(sys->ioctls,
              (std::vector<Ioctl>{
                  {kBus, I2C_FUNCS, -1}, {kBus, I2C_SLAVE, 0x27}, {kBus, I2C_SMBUS, kReceive}}));
    const TestRunRecord record = Run(kSize16x2, BusWidth::Four);
    EXPECT_EQ(record.refusal, "");
    // By hand: P0 RS, P1 RW, P2 E, P3 backlight, P4..P7 D4..D7.
    const std::vector<int> first = {
        0x08, 0x38, 0x3C, 0x38,              // 0x30 on the 8-bit bus (RS and RW low are no change)
        0x3C, 0x38,                          // 0x30 again: the data lines are no change either
        0x3C, 0x38,                          // 0x30
        0x28, 0x2C, 0x28,                    // 0x20: 4-bit from now on
        0x2C, 0x28, 0x88, 0x8C, 0x88,        // 0x28
        0x08, 0x0C, 0x08, 0x88, 0x8C, 0x88,  // 0x08
        0x08, 0x0C, 0x08, 0x18, 0x1C, 0x18,  // 0x01
        0x08, 0x0C, 0x08, 0x68, 0x6C, 0x68,  // 0x06
        0x08, 0x0C, 0x08, 0xF8, 0xFC, 0xF8,  // 0x0F
        0x08, 0x0C, 0x08, 0x18, 0x1C, 0x18,  // 0x01
        0x88, 0x8C, 0x88, 0x08, 0x0C, 0x08,  // 0x80: line 1
        0x09, 0x49, 0x4D, 0x49, 0x19, 0x1D, 0x19,  // RS high, 'A'
        0x29, 0x2D, 0x29, 0x09, 0x0D, 0x09,        // ' '
    };
    const std::vector<int> sent = Sent();
    ASSERT_GT(sent.size(), first.size());
    EXPECT_EQ(std::vector<int>(sent.begin(), sent.begin() + std::ssize(first)), first);
    for (std::size_t k = 0; k < sent.size(); ++k) {
        EXPECT_EQ(sent[k] & 0x0A, 0x08) << k;  // backlight on, RW low
        if (k > 0) {
            EXPECT_NE(sent[k], sent[k - 1]) << k;
        }
    }
    EXPECT_EQ(sent.back(), 0x08);  // at rest
    EXPECT_EQ(Told(), "");
}

// The data pins go high before RW does and stay high while the lines are
// inputs, whatever the latch; a read is one receive byte, its D4..D7 from
// their pins and the unwired D0..D3 as 1.
TEST_F(Pcf8574PortTest, ReadsWriteTheDataPinsHighFirst) {
    Use();
    g_lines.dataLatch = 0x50;
    panel.RefreshDataPort();
    panel.OnDataInput();
    panel.OnRWHigh();
    panel.OnE0High();
    sys->expanderPins = 0x60;
    EXPECT_EQ(DlPortReadPortUchar(0x378), 0x6F);
    g_lines.dataLatch = 0x00;
    panel.RefreshDataPort();  // no pin changes: nothing sent
    panel.OnE0Low();
    panel.OnRWLow();
    panel.OnDataOutput();
    const std::vector<Ioctl> expected = {
        {kBus, I2C_SMBUS, 0x58}, {kBus, I2C_SMBUS, 0xF8},     {kBus, I2C_SMBUS, 0xFA},
        {kBus, I2C_SMBUS, 0xFE}, {kBus, I2C_SMBUS, kReceive}, {kBus, I2C_SMBUS, 0xFA},
        {kBus, I2C_SMBUS, 0xF8}, {kBus, I2C_SMBUS, 0x08},
    };
    EXPECT_EQ(std::vector<Ioctl>(sys->ioctls.begin() + 3, sys->ioctls.end()), expected);
    EXPECT_EQ(Told(), "");
}

// What the common backpack lacks refuses the run or Verify before any byte.
TEST_F(Pcf8574PortTest, RunsTheWiringCannotCarryAreRefusedAndSendNothing) {
    const std::string has = "the wiring of 0x378 (" + std::string(kCommonText) + ")";
    struct Case {
        const char* device;
        int size;
        BusWidth width;
        std::string refusal;
    };
    const Case cases[] = {
        {"/dev/i2c-1@0x27", kSize16x2, BusWidth::Eight,
         "Init 8-bit needs D0..D3, which " + has + " lacks: use Init 4-bit"},
        {"/dev/i2c-1@0x27", kSize40x4, BusWidth::Four,
         "40x4 needs E1 for its second controller, which " + has +
             " lacks: wire E1, or test a size with one controller"},
        {"/dev/i2c-1@0x27:RS=P0,E0=P2,D4=P4,D5=P5,D6=P6,D7=P7", kSize16x2, BusWidth::Four,
         "Verify needs RW to read the module, which the wiring of 0x378 (RS=P0, E0=P2, "
         "D4..D7=P4..P7; 4-bit only, no RW, E1) lacks: wire the module's RW to the port instead "
         "of to ground"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusal);
        Fresh();
        Use(c.device);
        const std::size_t opening = sys->ioctls.size();
        const TestRunRecord record = Run(c.size, c.width);
        if (record.refusal.empty()) {
            const std::size_t run = sys->ioctls.size();
            EXPECT_EQ(VerifyModule(driver, panel, timeline, record).Summary(), c.refusal);
            EXPECT_EQ(sys->ioctls.size(), run);
        } else {
            EXPECT_EQ(record.refusal, c.refusal);
            EXPECT_EQ(sys->ioctls.size(), opening);
        }
        EXPECT_EQ(Told(), "");  // a refusal is said, not a problem of the port
    }
}

// Each way the backpack cannot be reached is told once with its fix; the
// descriptor is closed, the start-up line says the writes are dropped, and a
// run goes on without sending anything.
TEST_F(Pcf8574PortTest, FailuresToReachTheBackpackAreToldOnceWithTheFix) {
    struct Case {
        const char* what;
        void (*plant)(FakeParportSystem&);
        std::string told;
    };
    const Case cases[] = {
        {"no such bus",
         [](FakeParportSystem& k) {
             k.dirs["/dev"].clear();
             k.AddI2cBus(0, "SMBus I801 adapter at efa0", {});
             k.AddI2cBus(7, "CP2112 SMBus Bridge on hidraw0", {});
             k.errors[kBus] = -ENOENT;
         },
         "cannot open /dev/i2c-1: No such file or directory — the I2C buses here are /dev/i2c-0 "
         "(SMBus I801 adapter at efa0), /dev/i2c-7 (CP2112 SMBus Bridge on hidraw0): map the one "
         "the backpack hangs on"},
        {"no bus at all",
         [](FakeParportSystem& k) {
             k.dirs["/dev"] = {"null", "i2c", "i2c-x"};
             k.errors[kBus] = -ENOENT;
         },
         "cannot open /dev/i2c-1: No such file or directory — there is no /dev/i2c-* at all: "
         "load the kernel module i2c-dev (sudo modprobe i2c-dev), and plug in the USB I2C bridge "
         "if the backpack hangs on one"},
        {"permission", [](FakeParportSystem& k) { k.errors[kBus] = -EACCES; },
         "cannot open /dev/i2c-1: Permission denied — add your user to group i2c (sudo groupadd "
         "-f i2c; sudo usermod -aG i2c $USER) and log in again; if the node is not in group i2c, "
         "a udev rule puts it there (the example 60-i2c.rules: KERNEL==\"i2c-[0-9]*\", "
         "SUBSYSTEM==\"i2c-dev\", GROUP=\"i2c\", MODE=\"0660\")"},
        {"no byte functions",
         [](FakeParportSystem& k) {
             k.i2cBuses[kBus].functions = I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE_DATA;
         },
         "the adapter of /dev/i2c-1 cannot send and receive single bytes (SMBus send byte and "
         "receive byte), which a PCF8574 needs: put the backpack on another I2C bus"},
        {"a driver owns the address",
         [](FakeParportSystem& k) { k.i2cBuses[kBus].driverOwned = {0x27}; },
         "a kernel driver owns address 0x27 on /dev/i2c-1 (i2cdetect -y 1 shows UU there): "
         "unbind it (echo 1-0027 | sudo tee /sys/bus/i2c/devices/1-0027/driver/unbind), or "
         "check the backpack's address"},
        {"no device answers", [](FakeParportSystem& k) { k.i2cBuses[kBus].answering.clear(); },
         "no device answers at 0x27 on /dev/i2c-1: check the address with i2cdetect -y 1 (a "
         "PCF8574 is at 0x20..0x27, a PCF8574A at 0x38..0x3F; the solder jumpers A0..A2 set the "
         "low bits), and the wiring and power of SDA, SCL, VCC and GND"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fresh();
        c.plant(*sys);
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(Use(), "using 0x378 on " + kWhere + " (" + kCommonText +
                                 "), not reached: its writes are dropped");
            EXPECT_TRUE(sys->fds.empty());
            EXPECT_EQ(Run(kSize16x2, BusWidth::Four).refusal, "");
            EXPECT_EQ(DlPortReadPortUchar(0x378), std::nullopt);
        }
        EXPECT_EQ(Sent(), std::vector<int>{});
        EXPECT_EQ(Told(), c.told + "\n");
    }
}

// A device that goes away mid-run (ENODEV at once; silence three times in a
// row) is lost: told once, the run stops, the trace ends with a 'lost' line,
// and the next run is refused with the same message.
TEST_F(Pcf8574PortTest, ABridgeUnpluggedMidRunStopsTheRun) {
    struct Case {
        int error;
        std::vector<std::string> told;
    };
    const std::string fix =
        ": the run stopped — plug the USB bridge back in or check the backpack's wiring and "
        "power, then start lcdtest again";
    const Case cases[] = {
        {-ENODEV, {kWhere + " is gone (No such device)" + fix}},
        {-ENXIO,
         {"sending to " + kWhere +
              " failed: No such device or address — the module did not get it; check the "
              "backpack's wiring and power",
          kWhere + " stopped answering (No such device or address)" + fix}},
    };
    const auto path = std::filesystem::temp_directory_path() / "lcdtest-pcf8574-lost.txt";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        Fresh();
        std::vector<std::string> told;
        PortIo::Instance().SetProblemSink([&](const std::string& m) { told.push_back(m); });
        Use();
        constexpr int kWorking = 20;
        sys->smbusOkLeft = kWorking;
        sys->smbusError = c.error;
        TestRunRecord record;
        {
            PortTrace trace;
            ASSERT_TRUE(trace.Open(path.string()));
            record = Run(kSize16x2, BusWidth::Four);
        }
        EXPECT_EQ(Sent().size(), kWorking);
        EXPECT_EQ(record.stopped, c.told.back());
        // The writes of the cycle under way follow it, dropped.
        std::ifstream file(path);
        std::vector<std::string> lost;
        for (std::string line; std::getline(file, line);)
            if (line.find(" lost ") != std::string::npos)
                lost.push_back(line.substr(line.find(' ') + 1));
        EXPECT_EQ(lost, std::vector<std::string>{"0x378 lost " + c.told.back()});
        EXPECT_EQ(Run(kSize16x2, BusWidth::Four).refusal, c.told.back());
        std::vector<std::string> expected = c.told;
        expected.push_back(c.told.back());  // the refusal of the next run
        EXPECT_EQ(told, expected);
        PortIo::Instance().SetProblemSink({});
    }
    std::filesystem::remove(path);
}

}  // namespace
