#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

    const std::vector<std::string>& Problems() { return PortIo::Instance().Problems(); }
    bool Reported(const std::string& part) {
        for (const std::string& p : Problems())
            if (p.find(part) != std::string::npos) return true;
        return false;
    }

    std::shared_ptr<FakeParportSystem> sys = std::make_shared<FakeParportSystem>();
};

TEST_F(ParportTest, ScanListsPortsInNumberOrderAndIgnoresOtherEntries) {
    sys->AddPort(10, 0xD010);
    sys->AddPort(1, 0x278);
    sys->AddPort(0, 0x378);
    sys->dirs[kProcParportDir].insert(sys->dirs[kProcParportDir].begin(), {"default", "parportx"});
    const ParportScan scan = ScanParports(*sys);
    EXPECT_TRUE(scan.kernelHasParport);
    EXPECT_EQ(scan.ports, (std::vector<ParportDevice>{{"parport0", "/dev/parport0", 0x378},
                                                      {"parport1", "/dev/parport1", 0x278},
                                                      {"parport10", "/dev/parport10", 0xD010}}));
    EXPECT_TRUE(Problems().empty());
}

TEST_F(ParportTest, ScanWithoutKernelSupportFindsNothingQuietly) {
    const ParportScan scan = ScanParports(*sys);
    EXPECT_FALSE(scan.kernelHasParport);
    EXPECT_TRUE(scan.ports.empty());
    EXPECT_TRUE(Problems().empty());

    sys->errors[kProcParportDir] = -EACCES;
    EXPECT_TRUE(ScanParports(*sys).ports.empty());
    EXPECT_TRUE(Reported("cannot list /proc/sys/dev/parport: Permission denied"));
}

TEST_F(ParportTest, ScanReadsTheFirstDecimalNumberAndSkipsBadEntries) {
    struct Case {
        const char* text;
        int error;  // planted read error, or 0
        long base;  // -1: the port is left out and reported
    };
    const Case cases[] = {
        {"888\t1912\n", 0, 0x378}, {"  956 0", 0, 0x3BC}, {"632", 0, 0x278}, {"", 0, -1},
        {"0x378", 0, -1},          {"abc 888", 0, -1},    {"-888", 0, -1},   {"4294967296", 0, -1},
        {"888", -EACCES, -1},
    };
    for (const Case& c : cases) {
        PortIo::Instance().Reset();
        FakeParportSystem fake;
        fake.AddPort(0, 0);
        fake.AddPort(1, 0x278);
        fake.files[kBaseFile0] = c.text;
        if (c.error) fake.errors[kBaseFile0] = c.error;
        const ParportScan scan = ScanParports(fake);
        ASSERT_FALSE(scan.ports.empty()) << c.text;  // the good port survives a bad one
        EXPECT_EQ(scan.ports.back().base, 0x278u) << c.text;
        if (c.base < 0) {
            EXPECT_EQ(scan.ports.size(), 1u) << c.text;
            ASSERT_EQ(Problems().size(), 1u) << c.text;
            EXPECT_NE(Problems()[0].find(kBaseFile0), std::string::npos) << c.text;
        } else {
            ASSERT_EQ(scan.ports.size(), 2u) << c.text;
            EXPECT_EQ(scan.ports[0].base, std::uint32_t(c.base)) << c.text;
            EXPECT_TRUE(Problems().empty()) << c.text;
        }
    }
}

TEST_F(ParportTest, RawWritesOnlyParallelPortRegisters) {
    // The allow-list must cover exactly the registers the Port list can reach.
    std::set<std::uint32_t> registers;
    for (std::uint32_t base : kPortBases) {
        registers.insert(base);
        registers.insert(base + kControlRegisterOffset);
    }
    const std::uint32_t others[] = {0,     0x80,  0x377, 0x379,   0x37B,
                                    0x27B, 0x3BD, 0x3BF, 0x10378, 0xFFFFFFFF};
    RawPort raw(sys);
    for (std::uint32_t address : registers) raw.Write(address, 0x5A);
    for (std::uint32_t address : others) raw.Write(address, 0xA5);
    raw.Write(0x379, 0xA5);  // refused again: told once

    std::vector<std::tuple<std::string, off_t, int>> expected;
    for (std::uint32_t address : registers) expected.emplace_back("/dev/port", address, 0x5A);
    EXPECT_EQ(sys->pwrites, expected);
    EXPECT_EQ(Problems().size(), std::size(others));
    EXPECT_TRUE(Reported("refused to write to I/O address 0x379"));
}

TEST_F(ParportTest, RawFailuresAreToldOnceAndWritingGoesOn) {
    sys->errors[kRawPortDevice] = -EPERM;
    {
        RawPort raw(sys);
        EXPECT_FALSE(raw.Open());
        EXPECT_NO_THROW(raw.Write(0x378, 1));
        EXPECT_NO_THROW(raw.Write(0x37A, 3));
        EXPECT_EQ(sys->opened.size(), 1u);  // not tried again for every write
        EXPECT_TRUE(sys->pwrites.empty());
    }
    ASSERT_EQ(Problems().size(), 1u);
    EXPECT_TRUE(
        Reported("cannot open /dev/port: Operation not permitted — raw port I/O needs root"));

    PortIo::Instance().Reset();
    sys->errors.clear();
    sys->pwriteError = -EIO;
    RawPort raw(sys);
    for (int i = 0; i < 3; ++i) raw.Write(0x378, 1);
    EXPECT_EQ(Problems().size(), 1u);
    sys->pwriteError = 0;
    raw.Write(0x378, 2);
    EXPECT_EQ(sys->pwrites.size(), 1u);
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
    for (int round = 0; round < 2; ++round) {
        for (std::uint32_t address : {0x378u, 0x37Au, 0x3BCu, 0x3BEu, 0x278u, 0x27Au, 0xD000u})
            EXPECT_NO_THROW(port.Write(address, 0));
    }
    EXPECT_EQ(sys->opened,
              (std::vector<std::string>{"/dev/parport0", "/dev/parport1", "/dev/parport2"}));
    EXPECT_EQ(sys->fds.size(), 1u);  // the port that could not be claimed was closed
    ASSERT_EQ(Problems().size(), 4u);
    EXPECT_TRUE(
        Reported("cannot open /dev/parport0: Permission denied — add your user to group "
                 "lp (sudo usermod -aG lp $USER)"));
    EXPECT_TRUE(
        Reported("cannot claim /dev/parport1: No such device or address — another driver "
                 "holds the port"));
    EXPECT_TRUE(Reported("no parallel port at 0x278"));
    EXPECT_TRUE(Reported("write to 0xD000 through /dev/parport2 failed: Input/output error"));

    // A failed write is not a dead port: the next one is tried.
    sys->ioctlErrors.clear();
    port.Write(0xD002, 0x0B);
    EXPECT_EQ(sys->ioctls.back(), (Ioctl{"/dev/parport2", PPWCONTROL, 0x0B}));
}

TEST_F(ParportTest, BackendFollowsTheModeAndTheAutoRules) {
    struct Case {
        PortIoMode mode;
        int ports;      // ports published by the kernel, at 0x378 and up
        int openError;  // planted on the first port
        const char* describe;
        const char* announcement;
        std::size_t opened;
        const char* problem;  // nullptr: none
    };
    const Case cases[] = {
        {PortIoMode::Sim, 1, 0, "simulated module", "simulated module (--port-io=sim)", 0, nullptr},
        {PortIoMode::Auto, 0, 0, "simulated module", "simulated module (no parallel port found)", 0,
         nullptr},
        {PortIoMode::Auto, 1, -EACCES, "simulated module", "could be opened and claimed", 1,
         "group lp"},
        {PortIoMode::Auto, 2, -EBUSY, "ppdev", "ppdev (0x378 on /dev/parport0, 0x379", 2,
         "cannot open /dev/parport0: Device or resource busy"},
        {PortIoMode::Auto, 1, 0, "ppdev", "ppdev (0x378 on /dev/parport0)", 1, nullptr},
        {PortIoMode::Ppdev, 1, -EACCES, "ppdev", "ppdev (0x378 on /dev/parport0)", 0, nullptr},
        {PortIoMode::Ppdev, 0, 0, "ppdev", "no parallel port was found", 0,
         "sudo modprobe parport_pc ppdev"},
        {PortIoMode::Raw, 0, 0, "/dev/port", "raw port I/O through /dev/port", 1, nullptr},
    };
    for (const Case& c : cases) {
        PortIo::Instance().Reset();
        auto fake = std::make_shared<FakeParportSystem>();
        for (int n = 0; n < c.ports; ++n) fake->AddPort(n, 0x378 + std::uint32_t(n));
        if (c.openError) fake->errors["/dev/parport0"] = c.openError;
        const PortBackendChoice choice = ChoosePortBackend(c.mode, fake);
        const std::string where = std::string(FormatPortIoMode(c.mode)) + " " + c.announcement;
        ASSERT_NE(choice.backend, nullptr) << where;
        EXPECT_NE(choice.backend->Describe().find(c.describe), std::string::npos) << where;
        EXPECT_NE(choice.announcement.find(c.announcement), std::string::npos) << where;
        EXPECT_EQ(fake->opened.size(), c.opened) << where;
        if (c.problem)
            EXPECT_TRUE(Reported(c.problem)) << where;
        else
            EXPECT_TRUE(Problems().empty()) << where;
    }
}

TEST(LinuxParportSystem, ReadsListsWritesAndReturnsNegatedErrno) {
    std::string dir = ::testing::TempDir() + "parportXXXXXX";
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::string file = dir + "/base-addr";
    const auto sys = MakeLinuxParportSystem();

    std::FILE* created = std::fopen(file.c_str(), "w");
    ASSERT_NE(created, nullptr);
    std::fclose(created);
    const int fd = sys->Open(file, O_RDWR);
    ASSERT_GE(fd, 0);
    const std::string text = "888\t1912\n";
    EXPECT_EQ(sys->PWrite(fd, text.data(), text.size(), 0), ssize_t(text.size()));
    EXPECT_EQ(sys->Ioctl(fd, PPCLAIM, nullptr), -ENOTTY);  // a file is no port
    EXPECT_EQ(sys->Close(fd), 0);

    std::string contents;
    EXPECT_EQ(sys->ReadFile(file, contents), 0);
    EXPECT_EQ(contents, text);
    std::vector<std::string> names;
    EXPECT_EQ(sys->ListDirectory(dir, names), 0);
    EXPECT_EQ(names, std::vector<std::string>{"base-addr"});
    EXPECT_EQ(sys->ReadFile(dir + "/missing", contents), -ENOENT);
    EXPECT_EQ(sys->ListDirectory(dir + "/missing", names), -ENOENT);
    EXPECT_EQ(sys->Open(dir + "/missing", O_RDWR), -ENOENT);

    ::unlink(file.c_str());
    ::rmdir(dir.c_str());
}

TEST(PortIoMode, ParsesExactlyTheFourValues) {
    for (PortIoMode mode : {PortIoMode::Auto, PortIoMode::Sim, PortIoMode::Ppdev, PortIoMode::Raw})
        EXPECT_EQ(ParsePortIoMode(FormatPortIoMode(mode)), mode);
    for (const char* bad : {"", "AUTO", "ppdev ", "simulated", "--port-io=raw"})
        EXPECT_EQ(ParsePortIoMode(bad), std::nullopt) << bad;
}

}  // namespace
