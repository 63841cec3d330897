#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <set>

#include "platform/ParportScan.h"
#include "platform/PortIoMode.h"
#include "platform/PpdevPort.h"
#include "platform/RawPort.h"
#include "port/LineState.h"
#include "support/FakeParportSystem.h"

namespace {

using Ioctl = FakeParportSystem::IoctlCall;

const std::string kBaseFile0 = std::string(kProcParportDir) + "/parport0/" + kBaseAddressFile;

class ParportTest : public ::testing::Test {
protected:
    ParportTest() { PortIo::Instance().Reset(); }
    ~ParportTest() override { PortIo::Instance().Reset(); }

    static const std::vector<std::string>& Problems() { return PortIo::Instance().Problems(); }
    static bool Reported(const std::string& part) {
        for (const std::string& p : Problems())
            if (p.find(part) != std::string::npos) return true;
        return false;
    }

    std::shared_ptr<FakeParportSystem> sys = std::make_shared<FakeParportSystem>();
};

TEST_F(ParportTest, ScanListsPortsInNumberOrderAndIgnoresOtherEntries) {
    EXPECT_FALSE(ScanParports(*sys).kernelHasParport);  // no parport module: quietly nothing
    sys->AddPort(10, 0xD010);
    sys->AddPort(1, 0x278);
    sys->AddPort(0, 0x378);
    sys->dirs[kProcParportDir].insert(sys->dirs[kProcParportDir].begin(), {"default", "parportx"});
    EXPECT_EQ(ScanParports(*sys).ports,
              (std::vector<ParportDevice>{{"parport0", "/dev/parport0", 0x378},
                                          {"parport1", "/dev/parport1", 0x278},
                                          {"parport10", "/dev/parport10", 0xD010}}));
    EXPECT_TRUE(Problems().empty());

    sys->errors[kProcParportDir] = -EACCES;
    EXPECT_TRUE(ScanParports(*sys).ports.empty());
    EXPECT_TRUE(Reported("cannot list /proc/sys/dev/parport: Permission denied"));
}

TEST_F(ParportTest, ScanReadsTheFirstDecimalNumberAndSkipsBadEntries) {
    const std::tuple<const char*, int, long> cases[] = {
        // base-addr text, planted read error, base (-1: left out and reported)
        {"888\t1912\n", 0, 0x378}, {"  956 0", 0, 0x3BC}, {"632", 0, 0x278}, {"", 0, -1},
        {"0x378", 0, -1},          {"abc 888", 0, -1},    {"-888", 0, -1},   {"4294967296", 0, -1},
        {"888", -EACCES, -1},
    };
    for (const auto& [text, error, base] : cases) {
        PortIo::Instance().Reset();
        FakeParportSystem fake;
        fake.AddPort(0, 0);
        fake.AddPort(1, 0x278);
        fake.files[kBaseFile0] = text;
        if (error) fake.errors[kBaseFile0] = error;
        const std::vector<ParportDevice> ports = ScanParports(fake).ports;
        ASSERT_EQ(ports.size(), base < 0 ? 1u : 2u) << text;  // a bad entry spares the others
        EXPECT_EQ(ports[0].base, base < 0 ? 0x278u : std::uint32_t(base)) << text;
        EXPECT_EQ(Reported(kBaseFile0), base < 0) << text;
    }
}

TEST_F(ParportTest, RawWritesOnlyParallelPortRegisters) {
    // The allow-list must be exactly the registers the Port list can reach.
    std::set<std::uint32_t> registers;
    for (std::uint32_t base : kPortBases) registers.insert({base, base + kControlRegisterOffset});
    const std::uint32_t others[] = {0, 0x377, 0x379, 0x37B, 0x3BD, 0x3BF, 0x10378, 0xFFFFFFFF};
    RawPort raw(sys);
    for (std::uint32_t address : registers) raw.Write(address, 0x5A);
    for (int round = 0; round < 2; ++round)
        for (std::uint32_t address : others) raw.Write(address, 0xA5);
    std::vector<std::tuple<std::string, off_t, int>> expected;
    for (std::uint32_t address : registers) expected.emplace_back("/dev/port", address, 0x5A);
    EXPECT_EQ(sys->pwrites, expected);
    EXPECT_EQ(Problems().size(), std::size(others));
    EXPECT_TRUE(Reported("refused to write to I/O address 0x379"));
}

TEST_F(ParportTest, PpdevClaimsLazilyWritesRawBytesAndReleasesAtTheEnd) {
    sys->AddPort(0, 0x378);
    sys->AddPort(1, 0x278);
    PortIo::Instance().SetBackend(ChoosePortBackend(PortIoMode::Ppdev, sys).backend);
    EXPECT_TRUE(sys->opened.empty());
    DlPortWritePortUchar(0x378, 0x41);
    DlPortWritePortUchar(0x37A, ControlRegisterByte(kLineE0 | kLineRS));
    DlPortWritePortUchar(0x27A, ControlRegisterByte(0));
    EXPECT_EQ(sys->ioctls, (std::vector<Ioctl>{{"/dev/parport0", PPEXCL, -1},
                                               {"/dev/parport0", PPCLAIM, -1},
                                               {"/dev/parport0", PPWDATA, 0x41},
                                               {"/dev/parport0", PPWCONTROL, 0x06},
                                               {"/dev/parport1", PPEXCL, -1},
                                               {"/dev/parport1", PPCLAIM, -1},
                                               {"/dev/parport1", PPWCONTROL, 0x03}}));
    EXPECT_TRUE(Problems().empty());

    sys->ioctls.clear();
    PortIo::Instance().Reset();
    EXPECT_EQ(sys->ioctls, (std::vector<Ioctl>{{"/dev/parport0", PPRELEASE, -1},
                                               {"/dev/parport1", PPRELEASE, -1}}));
    EXPECT_TRUE(sys->fds.empty());
}

TEST_F(ParportTest, PpdevFailuresAreToldOncePerCauseAndWritesAreDropped) {
    sys->AddPort(0, 0x378);
    sys->AddPort(1, 0x3BC);
    sys->AddPort(2, 0xD000);
    sys->errors["/dev/parport0"] = -EACCES;
    sys->ioctlErrors[{"/dev/parport1", PPCLAIM}] = -ENXIO;
    sys->ioctlErrors[{"/dev/parport2", PPWDATA}] = -EIO;
    PpdevPort port(sys, ScanParports(*sys).ports);
    for (int round = 0; round < 2; ++round)
        for (std::uint32_t address : {0x378u, 0x37Au, 0x3BCu, 0x3BEu, 0x278u, 0x27Au, 0xD000u})
            EXPECT_NO_THROW(port.Write(address, 0));
    EXPECT_EQ(sys->opened.size(), 3u);
    EXPECT_EQ(sys->fds.size(), 1u);  // the port that could not be claimed was closed
    EXPECT_EQ(Problems().size(), 4u);
    EXPECT_TRUE(
        Reported("cannot open /dev/parport0: Permission denied — add your user to group "
                 "lp (sudo usermod -aG lp $USER)"));
    EXPECT_TRUE(
        Reported("cannot claim /dev/parport1: No such device or address — another driver "
                 "holds the port"));
    EXPECT_TRUE(Reported("no parallel port at 0x278"));
    EXPECT_TRUE(Reported("write to 0xD000 through /dev/parport2 failed: Input/output error"));

    sys->ioctlErrors.clear();
    port.Write(0xD002, 0x0B);  // a failed write is no dead port
    EXPECT_EQ(sys->ioctls.back(), (Ioctl{"/dev/parport2", PPWCONTROL, 0x0B}));
}

TEST_F(ParportTest, BackendFollowsTheModeAndTheAutoRules) {
    struct Case {
        PortIoMode mode;
        int ports;            // published at 0x378 and up
        const char* failing;  // a path that cannot be opened, or ""
        int error;            // its negated errno
        const char* announcement;
        std::size_t opened;
        const char* problem;  // "" for none
    };
    const Case cases[] = {
        {PortIoMode::Sim, 1, "", 0, "simulated module (--port-io=sim)", 0, ""},
        {PortIoMode::Auto, 0, "", 0, "simulated module (no parallel port found)", 0, ""},
        {PortIoMode::Auto, 1, "/dev/parport0", -EACCES, "simulated module (no parallel port could",
         1, "group lp"},
        {PortIoMode::Auto, 2, "/dev/parport0", -EBUSY, "ppdev (0x378 on /dev/parport0, 0x379", 2,
         "cannot open /dev/parport0: Device or resource busy"},
        {PortIoMode::Auto, 1, "", 0, "ppdev (0x378 on /dev/parport0)", 1, ""},
        {PortIoMode::Ppdev, 1, "/dev/parport0", -EACCES, "ppdev (0x378 on /dev/parport0)", 0, ""},
        {PortIoMode::Ppdev, 0, "", 0, "no parallel port was found", 0, "modprobe parport_pc ppdev"},
        {PortIoMode::Raw, 0, "", 0, "raw port I/O through /dev/port", 1, ""},
        {PortIoMode::Raw, 0, "/dev/port", -EPERM, "/dev/port cannot be opened", 1,
         "cannot open /dev/port: Operation not permitted — raw port I/O needs root"},
    };
    for (const Case& c : cases) {
        PortIo::Instance().Reset();
        auto fake = std::make_shared<FakeParportSystem>();
        for (int n = 0; n < c.ports; ++n) fake->AddPort(n, 0x378 + std::uint32_t(n));
        if (*c.failing) fake->errors[c.failing] = c.error;
        const PortBackendChoice choice = ChoosePortBackend(c.mode, fake);
        const std::string where = std::string(FormatPortIoMode(c.mode)) + " " + c.announcement;
        EXPECT_NE(choice.announcement.find(c.announcement), std::string::npos) << where;
        EXPECT_EQ(fake->opened.size(), c.opened) << where;
        EXPECT_EQ(Problems().size(), *c.problem ? 1u : 0u) << where;
        EXPECT_TRUE(!*c.problem || Reported(c.problem)) << where;
        EXPECT_NO_THROW(choice.backend->Write(0x378, 0)) << where;
    }
}

TEST(PortIoMode, ParsesExactlyTheFourValues) {
    for (PortIoMode mode : {PortIoMode::Auto, PortIoMode::Sim, PortIoMode::Ppdev, PortIoMode::Raw})
        EXPECT_EQ(ParsePortIoMode(FormatPortIoMode(mode)), mode);
    for (const char* bad : {"", "AUTO", "ppdev ", "simulated", "--port-io=raw"})
        EXPECT_EQ(ParsePortIoMode(bad), std::nullopt) << bad;
}

TEST(LinuxParportSystem, ReadsSysctlFilesAndReturnsNegatedErrno) {
    const auto sys = MakeLinuxParportSystem();
    std::string text;
    std::vector<std::string> names;
    EXPECT_EQ(sys->ReadFile("/proc/sys/kernel/ostype", text), 0);  // size 0, like base-addr
    EXPECT_EQ(text, "Linux\n");
    EXPECT_EQ(sys->ListDirectory("/proc/sys/kernel/ostype", names), -ENOTDIR);
    EXPECT_EQ(sys->Open("/nonexistent/parport0", O_RDWR), -ENOENT);
}

}  // namespace
