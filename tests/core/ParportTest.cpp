// The port back-ends over the fake kernel: the scan, the requests ppdev and raw
// make, the choice of back-end with --port-map, and the trace of writes and reads.
#include <gtest/gtest.h>
#include <linux/ppdev.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>
#include <vector>

#include "base/Clock.h"
#include "io/transports/ParportScan.h"
#include "io/KernelSystem.h"
#include "io/PortChoice.h"
#include "io/record/PortTrace.h"
#include "io/transports/Ppdev.h"
#include "io/transports/Raw.h"
#include "port/LineState.h"
#include "support/FakeKernel.h"

namespace {

using Ioctl = FakeKernel::IoctlCall;

const std::string kBaseFile0 = std::string(kProcParportDir) + "/parport0/" + kBaseAddressFile;

class ParportTest : public ::testing::Test {
protected:
    ParportTest() { PortIo::Instance().Reset(); }
    ~ParportTest() override { PortIo::Instance().Reset(); }
    void Fresh() {
        PortIo::Instance().Reset();
        sys = std::make_shared<FakeKernel>();
    }
    // Every message reported so far, one a line.
    static std::string Told() {
        std::string all;
        for (const std::string& p : PortIo::Instance().Problems()) all += p + "\n";
        return all;
    }
    static bool Reported(const std::string& part) { return Told().find(part) != std::string::npos; }

    std::shared_ptr<FakeKernel> sys = std::make_shared<FakeKernel>();
};

// Ports in number order, other entries ignored, each base address the first
// decimal number of its file; a bad entry is left out and told, sparing the others.
TEST_F(ParportTest, ScanListsPortsInNumberOrderAndSkipsBadEntries) {
    EXPECT_FALSE(ScanParports(*sys).kernelHasParport);  // no parport module: quietly nothing
    const std::tuple<const char*, int, long> cases[] = {
        // base-addr text, planted read error, base (-1: left out and reported)
        {"888\t1912\n", 0, 0x378}, {"  956 0", 0, 0x3BC}, {"632", 0, 0x278}, {"", 0, -1},
        {"0x378", 0, -1},          {"abc 888", 0, -1},    {"-888", 0, -1},   {"4294967296", 0, -1},
        {"888", -EACCES, -1},
    };
    for (const auto& [text, error, base] : cases) {
        Fresh();
        sys->AddPort(10, 0xD010);
        sys->AddPort(1, 0x278);
        sys->AddPort(0, 0);
        sys->dirs[kProcParportDir].insert(sys->dirs[kProcParportDir].begin(),
                                          {"default", "parportx"});
        sys->files[kBaseFile0] = text;
        if (error) sys->errors[kBaseFile0] = error;
        std::vector<ParportDevice> expected = {{"parport1", "/dev/parport1", 0x278},
                                               {"parport10", "/dev/parport10", 0xD010}};
        if (base >= 0)
            expected.insert(expected.begin(), {"parport0", "/dev/parport0", std::uint32_t(base)});
        EXPECT_EQ(ScanParports(*sys).ports, expected) << text;
        EXPECT_EQ(Told().empty(), base >= 0) << text;
        EXPECT_EQ(Reported(kBaseFile0), base < 0) << text;
    }
    sys->errors[kProcParportDir] = -EACCES;
    EXPECT_TRUE(ScanParports(*sys).ports.empty());
    EXPECT_TRUE(Reported("cannot list /proc/sys/dev/parport: Permission denied"));
}

// Only the registers the Port list can reach are ever touched: any other
// address is refused before it reaches a back-end, read or written, and told once.
TEST_F(ParportTest, RawReachesOnlyParallelPortRegisters) {
    const std::uint32_t registers[] = {0x278, 0x27A, 0x378, 0x37A, 0x3BC, 0x3BE};
    const std::uint32_t others[] = {0, 0x377, 0x379, 0x37B, 0x3BD, 0x3BF, 0x10378, 0xFFFFFFFF};
    sys->dataLines = 0xA5;
    PortIo::Instance().SetBackend(std::make_unique<RawPort>(sys));
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
    EXPECT_EQ(sys->pwrites, expected);
    EXPECT_EQ(sys->preads, (std::vector<std::pair<std::string, off_t>>{{kRawPortDevice, 0x278}}));
    EXPECT_EQ(PortIo::Instance().Problems().size(), std::size(others) + 1);
    EXPECT_TRUE(
        Reported("refused to read I/O address 0x37A: not a parallel port's data register "
                 "(a fault in the tool; please report it)\n"));
    EXPECT_TRUE(
        Reported("refused to write I/O address 0x37B: not a parallel-port register (a "
                 "fault in the tool; please report it)\n"));
}

// Each port is claimed on its first write and released at the end; bytes go as
// they are, and bit 5 turns the data lines around by PPDATADIR (never as bit 5
// of PPWCONTROL), and only when it changes.
TEST_F(ParportTest, PpdevClaimsLazilyTurnsTheLinesByRequestAndReleases) {
    sys->AddPort(0, 0x378);
    sys->AddPort(1, 0x278);
    sys->dataLines = 0x5A;
    PortIo::Instance().SetBackend(ChoosePortBackend(PortIoMode::Ppdev, sys).backend);
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
    EXPECT_EQ(sys->ioctls, expected);
    EXPECT_EQ(Told(), "");
    sys->ioctls.clear();
    PortIo::Instance().Reset();
    EXPECT_EQ(sys->ioctls, (std::vector<Ioctl>{{p0, PPRELEASE, -1}, {p1, PPRELEASE, -1}}));
    EXPECT_TRUE(sys->fds.empty());
}

TEST_F(ParportTest, PpdevFailuresAreToldOncePerCauseAndWritesAreDropped) {
    sys->AddPort(0, 0x378);
    sys->AddPort(1, 0x3BC);
    sys->AddPort(2, 0xD000);
    sys->errors["/dev/parport0"] = -EACCES;
    sys->ioctlErrors[{"/dev/parport1", PPCLAIM}] = -ENXIO;
    sys->ioctlErrors[{"/dev/parport2", PPWDATA}] = -EIO;
    ParportScan scan = ScanParports(*sys);
    ApplyPortMap(scan, {{0x278, "/dev/parport2"}});
    PortIo::Instance().SetBackend(std::make_unique<PpdevPort>(sys, scan.ports));
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
              "not get it; check the port and its cable (dmesg | grep parport)\n");
    sys->ioctlErrors.clear();
    DlPortWritePortUchar(0x27A, 0x0B);  // a failed write is no dead port
    EXPECT_EQ(sys->ioctls.back(), (Ioctl{"/dev/parport2", PPWCONTROL, 0x0B}));
}

// What each mode picks, which nodes it opens while choosing, what the user is
// told (the start-up line and the messages), and where a write to 0x37A lands.
// Whatever it picks hands E1 to the module as --e1-wiring says (straight: inverted
// at pin 17), each mode taking both wirings in turn.
TEST_F(ParportTest, BackendFollowsTheModeTheAutoRulesAndThePortMap) {
    struct Case {
        PortIoMode mode;
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
    const Case cases[] = {
        {M::Sim, "", "", "", 0, 0, 0, "", "simulated module (--port-io=sim)"},
        {M::Auto, "", "", "", 0, 0, 0, "", "simulated module (no parallel port found)"},
        {M::Auto, "0x378", "", "/dev/parport0", -EACCES, 1, 1, "",
         "simulated module (no parallel port could"},
        {M::Auto, "0x378 0x278", "", "/dev/parport0", -EBUSY, 2, 1, "",
         "ppdev (0x378 on /dev/parport0, 0x278 on /dev/parport1)"},
        {M::Auto, "0x378", "", "", 0, 1, 0, "/dev/parport0", "ppdev (0x378 on /dev/parport0)"},
        {M::Ppdev, "0x378", "", "/dev/parport0", -EACCES, 0, 1, "",
         "ppdev (0x378 on /dev/parport0)"},
        {M::Ppdev, "0x378", "", "/dev/parport0", 0, 0, 1, "",
         "Too many levels of symbolic links — it is a symbolic link"},
        {M::Ppdev, "", "", "", 0, 0, 2, "", "modprobe parport_pc ppdev"},  // and no port at 0x378
        {M::Raw, "", "", "", 0, 1, 0, "/dev/port", "raw port I/O through /dev/port"},
        {M::Raw, "", "", "/dev/port", -EPERM, 1, 1, "",
         "cannot open /dev/port: Operation not permitted — raw port I/O needs root"},
        {M::Ppdev, "0xE800", "0x378=/dev/parport0", "", 0, 0, 0, "/dev/parport0",
         "(0x378 on /dev/parport0 at 0xE800 by --port-map)"},
        {M::Auto, "0x378 0xE800", "0x378=/dev/parport1", "", 0, 1, 0, "/dev/parport1",
         "(0x378 on /dev/parport1 at 0xE800 by --port-map)"},
        {M::Ppdev, "0xE800", "", "", 0, 0, 1, "",
         "(ports found: 0xE800 on /dev/parport0) — to drive it from the Port list, map it: "
         "--port-map 0x378=/dev/parport0"},
        {M::Raw, "0xE800", "0x378=/dev/parport0", "", 0, 1, 1, "/dev/port",
         "--port-map is ignored with --port-io=raw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(FormatPortIoMode(c.mode)) + ": " + c.told);
        Fresh();
        std::istringstream kernel(c.kernel);
        std::uint32_t base = 0;
        for (int n = 0; kernel >> std::hex >> base; ++n) sys->AddPort(n, base);
        std::vector<PortMapping> map;
        ASSERT_EQ(*c.map ? AddPortMapping(map, c.map) : "", "");
        if (*c.failing && c.error) sys->errors[c.failing] = c.error;
        if (*c.failing && !c.error) sys->symlinks.insert(c.failing);
        const bool straight = (&c - cases) % 2 == 0;
        const PortBackendChoice choice =
            ChoosePortBackend(c.mode, sys, map, straight ? E1Wiring::Straight : E1Wiring::Inverter);
        EXPECT_EQ(choice.backend->Wiring(0x378).invertedAtModule,
                  straight ? ControlLines(kLineE1) : LineSet{0});
        EXPECT_EQ(sys->opened.size(), c.opened);
        choice.backend->Apply(0x378, LineLevels{}, LineGroup::Control);
        const std::string told = choice.announcement + "\n" + Told();
        EXPECT_NE(told.find(c.told), std::string::npos) << told;
        EXPECT_EQ(PortIo::Instance().Problems().size(), c.problems) << told;
        std::vector<Ioctl> controls, expected;
        for (const Ioctl& call : sys->ioctls)
            if (std::get<1>(call) == PPWCONTROL) controls.push_back(call);
        const bool raw = std::string(c.lands) == kRawPortDevice;
        if (*c.lands && !raw) expected.emplace_back(c.lands, PPWCONTROL, 3);
        EXPECT_EQ(controls, expected);
        EXPECT_EQ(sys->pwrites.size(), raw ? 1u : 0u);
    }
}

// --port-map takes a Port list address and a device, each once.
TEST(PortIoOptions, PortMapTakesAListAddressAndADeviceOnce) {
    std::vector<PortMapping> map;
    EXPECT_EQ(AddPortMapping(map, "0x378=/dev/parport1"), "");
    for (const char* bad : {"0x3BC=", "0xE800=/dev/parport2", "0x278=/dev/parport1"})
        EXPECT_NE(AddPortMapping(map, bad), "") << bad;
    EXPECT_EQ(map, (std::vector<PortMapping>{{0x378, "/dev/parport1"}}));
}

// The simulated port reads its latch until bit 5 turns it around; then the
// pull-ups, as nothing drives the lines. The trace marks the reads, and where
// the port's device went away.
TEST_F(ParportTest, TraceMarksReadsAndTheSimulatedPortHonoursTheDirection) {
    VirtualClock clock;
    ScopedClock use(clock);
    const auto path = std::filesystem::temp_directory_path() / "lcdtest-read-trace.txt";
    {
        PortTrace trace;
        ASSERT_TRUE(trace.Open(path.string()));
        DlPortWritePortUchar(0x378, 0x41);
        EXPECT_EQ(DlPortReadPortUchar(0x378), 0x41);
        clock.AdvanceMicros(7);
        DlPortWritePortUchar(0x37A, 0x20);
        EXPECT_EQ(DlPortReadPortUchar(0x378), 0xFF);
        PortIo::Instance().ReportLost(0x378, "gone", "the device went away");
        PortIo::Instance().ReportLost(0x378, "gone", "told once");
    }
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(),
              "0 0x378 0x41\n0 0x378 0x41 read\n7 0x37A 0x20\n7 0x378 0xFF read\n"
              "7 0x378 lost the device went away\n");
    std::filesystem::remove(path);
}

}  // namespace
