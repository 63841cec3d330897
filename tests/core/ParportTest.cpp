// The port back-ends over the fake kernel: the scan, the requests ppdev and raw
// make, and the choice of back-end with --port-map.
#include <gtest/gtest.h>
#include <linux/ppdev.h>

#include <cerrno>
#include <sstream>
#include <tuple>
#include <vector>

#include "base/HexText.h"
#include "io/KernelSystem.h"
#include "io/PortChoice.h"
#include "io/transports/Ppdev.h"
#include "io/transports/Raw.h"
#include "port/LineState.h"
#include "support/KernelBench.h"

namespace {

using Ioctl = FakeParport::IoctlCall;

const std::string kBaseFile0 = std::string(kProcParportDir) + "/parport0/" + kBaseAddressFile;

class ParportTest : public ::testing::Test, protected KernelBench {};

// Whether `bench` told something that holds `part`.
bool Reported(const KernelBench& bench, const std::string& part) {
    return bench.Told().find(part) != std::string::npos;
}

// Ports in number order, other entries ignored, each base address the first
// decimal number of its file; a bad entry is left out and told, sparing the others.
TEST_F(ParportTest, ScanListsPortsInNumberOrderAndSkipsBadEntries) {
    EXPECT_FALSE(
        ScanParports(*sys, timeline.io).kernelHasParport);  // no parport module: quietly nothing
    const std::tuple<const char*, int, long> cases[] = {
        // base-addr text, planted read error, base (-1: left out and reported)
        {"888\t1912\n", 0, 0x378}, {"  956 0", 0, 0x3BC}, {"632", 0, 0x278}, {"", 0, -1},
        {"0x378", 0, -1},          {"abc 888", 0, -1},    {"-888", 0, -1},   {"4294967296", 0, -1},
        {"888", -EACCES, -1},
    };
    for (const auto& [text, error, base] : cases) {
        KernelBench b;
        b.sys->AddPort(10, 0xD010);
        b.sys->AddPort(1, 0x278);
        b.sys->AddPort(0, 0);
        auto& entries = b.sys->dirs[kProcParportDir];
        entries.insert(entries.begin(), {"default", "parportx"});
        b.sys->files[kBaseFile0] = text;
        if (error) b.sys->errors[kBaseFile0] = error;
        std::vector<ParportDevice> expected = {{"parport1", "/dev/parport1", 0x278},
                                               {"parport10", "/dev/parport10", 0xD010}};
        if (base >= 0)
            expected.insert(expected.begin(), {"parport0", "/dev/parport0", std::uint32_t(base)});
        EXPECT_EQ(ScanParports(*b.sys, b.timeline.io).ports, expected) << text;
        EXPECT_EQ(b.Told().empty(), base >= 0) << text;
        EXPECT_EQ(Reported(b, kBaseFile0), base < 0) << text;
    }
    sys->errors[kProcParportDir] = -EACCES;
    EXPECT_TRUE(ScanParports(*sys, timeline.io).ports.empty());
    EXPECT_TRUE(Reported(*this, "cannot list /proc/sys/dev/parport: Permission denied"));
}

// Only the registers the Port list can reach are ever touched: the port I/O
// refuses any other address before it reaches a back-end, and the raw port
// refuses one of its own, whatever its caller checked; each told once.
TEST_F(ParportTest, RawReachesOnlyParallelPortRegisters) {
    const std::uint32_t registers[] = {0x278, 0x27A, 0x378, 0x37A, 0x3BC, 0x3BE};
    const std::uint32_t others[] = {0, 0x377, 0x379, 0x37B, 0x3BD, 0x3BF, 0x10378, 0xFFFFFFFF};
    sys->parport.dataLines = 0xA5;
    auto owned = std::make_unique<RawPort>(sys, timeline.io);
    RawPort& raw = *owned;
    timeline.io.SetBackend(std::move(owned));
    EXPECT_FALSE(DlPortReadPortUchar(0x37A));
    EXPECT_EQ(DlPortReadPortUchar(0x278), 0xA5);
    std::vector<std::tuple<std::string, off_t, int>> expected;
    // Control bytes as the line state makes them, bit 5 included.
    const std::uint8_t control = ControlRegisterByte(kLineRS | kDataLinesInput);
    for (std::uint32_t address : registers) {
        const std::uint8_t value =
            ParportRegisterAt(address)->group == LineGroup::Data ? 0x5A : control;
        DlPortWritePortUchar(address, value);
        expected.emplace_back(kRawPortDevice, address, value);
    }
    for (int round = 0; round < 2; ++round)
        for (std::uint32_t address : others) DlPortWritePortUchar(address, 0xA5);
    // Bases off the list handed to the raw port itself: a read, then a write of
    // the data and the control register.
    for (std::uint32_t base : {0x377u, 0x379u, 0x3BDu}) {
        EXPECT_EQ(raw.ReadData(base), std::nullopt);
        raw.Apply(base, LineLevels{0x5A, kLineRS, false}, LineGroup::Data);
        raw.Apply(base, LineLevels{0x5A, kLineRS, false}, LineGroup::Control);
    }
    EXPECT_EQ(sys->parport.pwrites, expected);
    EXPECT_EQ(sys->parport.preads,
              (std::vector<std::pair<std::string, off_t>>{{kRawPortDevice, 0x278}}));
    // Each address once, whichever way it was refused first.
    const std::string fault =
        ": not a parallel-port register (a fault in the tool; please "
        "report it)";
    EXPECT_EQ(timeline.io.Log().Problems().size(), std::size(others) + 1 + 5);
    for (const std::string& told :
         {std::string(
              "refused to read I/O address 0x37A: not a parallel port's data register (a fault in "
              "the tool; please report it)"),
          "refused to write I/O address 0x37B" + fault,
          "refused to read from I/O address 0x377" + fault,
          "refused to write to I/O address 0x379" + fault,
          "refused to write to I/O address 0x37B" + fault,
          "refused to read from I/O address 0x3BD" + fault,
          "refused to write to I/O address 0x3BF" + fault})
        EXPECT_TRUE(Reported(*this, told)) << told;
}

// Each port is claimed on its first write and released at the end; bytes go as
// they are, and bit 5 turns the data lines around by PPDATADIR (never as bit 5
// of PPWCONTROL), and only when it changes.
TEST_F(ParportTest, PpdevClaimsLazilyTurnsTheLinesByRequestAndReleases) {
    sys->AddPort(0, 0x378);
    sys->AddPort(1, 0x278);
    sys->parport.dataLines = 0x5A;
    timeline.io.SetBackend(
        ChoosePortBackend(PortIoMode::Ppdev, sys, {}, kDefaultE1Wiring, timeline.io).backend);
    EXPECT_TRUE(sys->opened.empty());
    DlPortWritePortUchar(0x378, 0x41);
    DlPortWritePortUchar(0x37A, ControlRegisterByte(kLineE0 | kLineRS));
    for (std::uint8_t control : {0x27, 0x25}) DlPortWritePortUchar(0x27A, control);
    EXPECT_EQ(DlPortReadPortUchar(0x278), 0x5A);
    DlPortWritePortUchar(0x27A, 0x07);
    const std::string p0 = "/dev/parport0", p1 = "/dev/parport1";
    const std::vector<Ioctl> expected = {
        {p0, PPEXCL, -1},    {p0, PPCLAIM, -1}, {p0, PPWDATA, 0x41}, {p0, PPWCONTROL, 0x06},
        {p1, PPEXCL, -1},    {p1, PPCLAIM, -1}, {p1, PPDATADIR, 1},  {p1, PPWCONTROL, 0x07},
        {p1, PPWCONTROL, 5}, {p1, PPRDATA, 0},  {p1, PPDATADIR, 0},  {p1, PPWCONTROL, 0x07},
    };
    EXPECT_EQ(sys->parport.ioctls, expected);
    EXPECT_EQ(Told(), "");
    sys->parport.ioctls.clear();
    timeline.io.SetBackend(nullptr);
    EXPECT_EQ(sys->parport.ioctls, (std::vector<Ioctl>{{p0, PPRELEASE, -1}, {p1, PPRELEASE, -1}}));
    EXPECT_TRUE(sys->fds.empty());
}

TEST_F(ParportTest, PpdevFailuresAreToldOncePerCauseAndWritesAreDropped) {
    sys->AddPort(0, 0x378);
    sys->AddPort(1, 0x3BC);
    sys->AddPort(2, 0xD000);
    sys->errors["/dev/parport0"] = -EACCES;
    sys->ioctlErrors[{"/dev/parport1", PPCLAIM}] = -ENXIO;
    sys->ioctlErrors[{"/dev/parport2", PPWDATA}] = -EIO;
    ParportScan scan = ScanParports(*sys, timeline.io);
    std::vector<PortMapping> map;
    ASSERT_EQ(AddPortMapping(map, "0x278=/dev/parport2"), "");
    ApplyPortMap(scan, map, timeline.io);
    timeline.io.SetBackend(std::make_unique<PpdevPort>(sys, scan.ports, timeline.io));
    for (int round = 0; round < 2; ++round) {
        for (std::uint32_t address : {0x378u, 0x37Au, 0x3BCu, 0x3BEu, 0x278u, 0x27Au})
            DlPortWritePortUchar(address, 0);
        EXPECT_FALSE(DlPortReadPortUchar(0x378));
    }
    EXPECT_EQ(sys->opened.size(), 3u);
    EXPECT_EQ(sys->fds.size(), 1u);  // the port that could not be claimed was closed
    EXPECT_EQ(Told(),
              "cannot open /dev/parport0: Permission denied — add your user to group lp (sudo "
              "usermod -aG lp $USER) and log in again\n"
              "cannot claim /dev/parport1: No such device or address — another driver holds the "
              "port, usually the printer driver: unload it (sudo modprobe -r lp) and close any "
              "program using the port\n"
              "write to 0x278 through /dev/parport2 failed: Input/output error — the module did "
              "not get it; check the port and its cable (dmesg | grep parport)");
    sys->ioctlErrors.clear();
    DlPortWritePortUchar(0x27A, 0x0B);  // a failed write is no dead port
    EXPECT_EQ(sys->parport.ioctls.back(), (Ioctl{"/dev/parport2", PPWCONTROL, 0x0B}));
}

// What each mode picks, which nodes it opens while choosing, what the user is
// told (the start-up line and the messages), and where a write to 0x37A lands.
// Whatever it picks hands E1 to the module as --e1-wiring says (straight: inverted
// at pin 17).
TEST_F(ParportTest, BackendFollowsTheModeTheAutoRulesAndThePortMap) {
    struct Case {
        PortIoMode mode;
        E1Wiring e1;
        const char* kernel;   // the kernel's port bases, parport0 upwards
        const char* map;      // a --port-map value, or ""
        const char* failing;  // a node that cannot be opened, or ""
        int error;            // its negated errno; 0: it is a symbolic link to a working node
        std::size_t opened;   // while choosing
        std::size_t problems;
        const char* lands;  // the node that takes the write, "" for none
        const char* told;
    };
    using M = PortIoMode;
    constexpr E1Wiring S = E1Wiring::Straight, I = E1Wiring::Inverter;
    const Case cases[] = {
        {M::Sim, S, "", "", "", 0, 0, 0, "", "simulated module (--port-io=sim)"},
        {M::Auto, I, "", "", "", 0, 0, 0, "", "simulated module (no parallel port found)"},
        {M::Auto, S, "0x378", "", "/dev/parport0", -EACCES, 1, 1, "",
         "simulated module (no parallel port could"},
        {M::Auto, I, "0x378 0x278", "", "/dev/parport0", -EBUSY, 2, 1, "",
         "ppdev (0x378 on /dev/parport0, 0x278 on /dev/parport1)"},
        {M::Auto, S, "0x378", "", "", 0, 1, 0, "/dev/parport0", "ppdev (0x378 on /dev/parport0)"},
        {M::Ppdev, I, "0x378", "", "/dev/parport0", -EACCES, 0, 1, "",
         "ppdev (0x378 on /dev/parport0)"},
        {M::Ppdev, S, "0x378", "", "/dev/parport0", 0, 0, 1, "",
         "Too many levels of symbolic links — it is a symbolic link"},
        {M::Ppdev, I, "", "", "", 0, 0, 2, "",
         "modprobe parport_pc ppdev"},  // and no port at 0x378
        {M::Raw, S, "", "", "", 0, 1, 0, "/dev/port", "raw port I/O through /dev/port"},
        {M::Raw, I, "", "", "/dev/port", -EPERM, 1, 1, "",
         "cannot open /dev/port: Operation not permitted — raw port I/O needs root"},
        {M::Ppdev, S, "0xE800", "0x378=/dev/parport0", "", 0, 0, 0, "/dev/parport0",
         "(0x378 on /dev/parport0 at 0xE800 by --port-map)"},
        {M::Auto, I, "0x378 0xE800", "0x378=/dev/parport1", "", 0, 1, 0, "/dev/parport1",
         "(0x378 on /dev/parport1 at 0xE800 by --port-map)"},
        {M::Ppdev, S, "0xE800", "", "", 0, 0, 1, "",
         "(ports found: 0xE800 on /dev/parport0) — to drive it from the Port list, map it: "
         "--port-map 0x378=/dev/parport0"},
        {M::Raw, I, "0xE800", "0x378=/dev/parport0", "", 0, 1, 1, "/dev/port",
         "--port-map is ignored with --port-io=raw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(FormatPortIoMode(c.mode)) + ": " + c.told);
        KernelBench b;
        std::istringstream kernel(c.kernel);
        std::uint32_t base = 0;
        for (int n = 0; kernel >> std::hex >> base; ++n) b.sys->AddPort(n, base);
        std::vector<PortMapping> map;
        ASSERT_EQ(*c.map ? AddPortMapping(map, c.map) : "", "");
        if (*c.failing && c.error) b.sys->errors[c.failing] = c.error;
        if (*c.failing && !c.error) b.sys->symlinks.insert(c.failing);
        const PortBackendChoice choice = ChoosePortBackend(c.mode, b.sys, map, c.e1, b.timeline.io);
        EXPECT_EQ(choice.backend->Wiring(0x378).invertedAtModule,
                  c.e1 == S ? ControlLines(kLineE1) : LineSet{0});
        EXPECT_EQ(b.sys->opened.size(), c.opened);
        choice.backend->Apply(0x378, LineLevels{}, LineGroup::Control);
        const std::string told = choice.announcement + "\n" + b.Told();
        EXPECT_NE(told.find(c.told), std::string::npos) << told;
        EXPECT_EQ(b.timeline.io.Log().Problems().size(), c.problems) << told;
        std::vector<Ioctl> controls, expected;
        for (const Ioctl& call : b.sys->parport.ioctls)
            if (std::get<1>(call) == PPWCONTROL) controls.push_back(call);
        const bool raw = std::string(c.lands) == kRawPortDevice;
        if (*c.lands && !raw) expected.emplace_back(c.lands, PPWCONTROL, 3);
        EXPECT_EQ(controls, expected);
        EXPECT_EQ(b.sys->parport.pwrites.size(), raw ? 1u : 0u);
    }
}

// --port-map takes a Port list address and a device no other entry has, of a
// kind the mapping names or its device's name picks.
TEST(PortIoOptions, PortMapTakesAListAddressAndADeviceOnce) {
    const std::pair<const char*, const char*> cases[] = {
        {"0x378=/dev/parport1", ""},
        {"0x3BC=",
         "expected a Port list address and a device, for example --port-map "
         "0x378=/dev/parport1"},
        {"0xE800=/dev/parport2", "0xE800 is not in the Port list (0x378, 0x278 or 0x3BC)"},
        {"0x278=ppdev:/dev/parport1",
         "0x378=/dev/parport1 is mapped already; each address and each device once"},
        {"0x278=/dev/ttyS0",
         "no kind of port takes \"/dev/ttyS0\": a device begins /dev/parport..., /dev/gpiochip..., "
         "/dev/i2c-..., or a kind comes first (ppdev:, gpio:, pcf8574:, mcp23008: or mcp23017:)"},
        {"0x278=ppdev:/dev/i2c-1@0x27",
         "\"/dev/i2c-1@0x27\" is no ppdev device: expected /dev/parportN, for example "
         "/dev/parport1"},
        {"0x278=pcf8574:/dev/i2c-1@0x27", ""},
    };
    std::vector<PortMapping> map;
    for (const auto& [text, error] : cases)
        EXPECT_EQ(AddPortMapping(map, text),
                  *error ? "--port-map " + std::string(text) + ": " + error : "");
    std::vector<std::string> mapped;
    for (const PortMapping& m : map)
        mapped.push_back(HexAddress(m.base) + "=" + std::string(m.kind->name) + ":" + m.devicePath);
    EXPECT_EQ(mapped, (std::vector<std::string>{"0x378=ppdev:/dev/parport1",
                                                "0x278=pcf8574:/dev/i2c-1@0x27"}));
}

}  // namespace
