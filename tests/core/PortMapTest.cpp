// --port-map and the opening of the ppdev node, over the fake kernel.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <string>
#include <vector>

#include "platform/PortIoMode.h"
#include "support/FakeParportSystem.h"

namespace {

using Ioctl = FakeParportSystem::IoctlCall;

bool Reported(const std::string& part) {
    for (const std::string& p : PortIo::Instance().Problems())
        if (p.find(part) != std::string::npos) return true;
    return false;
}

struct RouteCase {
    const char* name;
    PortIoMode mode;
    std::vector<std::uint32_t> bases;  // the kernel's ports, parport0 upwards
    std::vector<PortMapping> map;
    std::uint32_t listBase;    // the Port list entry the tool writes to
    const char* device;        // where its writes must land, "" for nowhere
    const char* announcement;  // part of the start-up line
    const char* problem;       // part of the one message, "" for none
};

class PortMapRouting : public ::testing::TestWithParam<RouteCase> {
protected:
    PortMapRouting() { PortIo::Instance().Reset(); }
    ~PortMapRouting() override { PortIo::Instance().Reset(); }
};

TEST_P(PortMapRouting, WritesReachTheMappedDevice) {
    const RouteCase& c = GetParam();
    auto fake = std::make_shared<FakeParportSystem>();
    for (std::size_t n = 0; n < c.bases.size(); ++n) fake->AddPort(int(n), c.bases[n]);
    const PortBackendChoice choice = ChoosePortBackend(c.mode, fake, c.map);
    choice.backend->Write(c.listBase + 2, 0x03);
    choice.backend->Write(c.listBase, 0x41);

    EXPECT_NE(choice.announcement.find(c.announcement), std::string::npos) << choice.announcement;
    std::vector<Ioctl> writes;
    for (const Ioctl& call : fake->ioctls)
        if (std::get<1>(call) == PPWDATA || std::get<1>(call) == PPWCONTROL) writes.push_back(call);
    if (c.mode == PortIoMode::Raw) {
        EXPECT_EQ(fake->pwrites.size(), 2u);  // the list's own registers, map or not
        EXPECT_TRUE(writes.empty());
    } else if (*c.device) {
        EXPECT_EQ(writes,
                  (std::vector<Ioctl>{{c.device, PPWCONTROL, 0x03}, {c.device, PPWDATA, 0x41}}));
    } else {
        EXPECT_TRUE(writes.empty());
    }
    EXPECT_EQ(PortIo::Instance().Problems().size(), *c.problem ? 1u : 0u);
    if (*c.problem) {
        EXPECT_TRUE(Reported(c.problem));
    }
    EXPECT_EQ(Reported("--port-map"),
              std::string(c.problem).find("--port-map") != std::string::npos);
}

const PortMapping kMap378To0{0x378, "/dev/parport0"};
const PortMapping kMap378To1{0x378, "/dev/parport1"};

INSTANTIATE_TEST_SUITE_P(
    Cases, PortMapRouting,
    ::testing::Values(
        RouteCase{"pci_card_mapped",
                  PortIoMode::Ppdev,
                  {0xE800},
                  {kMap378To0},
                  0x378,
                  "/dev/parport0",
                  "(0x378 on /dev/parport0 at 0xE800 by --port-map)",
                  ""},
        RouteCase{"unmapped_card_suggests_the_map",
                  PortIoMode::Ppdev,
                  {0xE800},
                  {},
                  0x378,
                  "",
                  "(0xE800 on /dev/parport0)",
                  "no parallel port at 0x378: its writes are dropped (ports found: 0xE800 on "
                  "/dev/parport0) — to drive it from the Port list, map it: --port-map "
                  "0x378=/dev/parport0"},
        RouteCase{"legacy_port_is_no_suggestion",
                  PortIoMode::Ppdev,
                  {0x278},
                  {},
                  0x378,
                  "",
                  "",
                  "(ports found: 0x278 on /dev/parport0)"},
        RouteCase{"map_shadows_the_port_at_its_address",
                  PortIoMode::Ppdev,
                  {0x378, 0xE800},
                  {kMap378To1},
                  0x378,
                  "/dev/parport1",
                  "(0x378 on /dev/parport1 at 0xE800 by --port-map)",
                  ""},
        RouteCase{"auto_claims_the_mapped_port",
                  PortIoMode::Auto,
                  {0x378, 0xE800},
                  {{0x278, "/dev/parport1"}},
                  0x278,
                  "/dev/parport1",
                  "(0x278 on /dev/parport1 at 0xE800 by --port-map, 0x378 on /dev/parport0)",
                  ""},
        RouteCase{"map_to_a_device_not_found",
                  PortIoMode::Ppdev,
                  {0x378},
                  {{0x278, "/dev/parport3"}},
                  0x378,
                  "/dev/parport0",
                  "(0x378 on /dev/parport0)",
                  "--port-map 0x278=/dev/parport3: the kernel has no parallel port there (ports "
                  "found: 0x378 on /dev/parport0)"},
        RouteCase{"raw_ignores_the_map",
                  PortIoMode::Raw,
                  {0xE800},
                  {kMap378To0},
                  0x378,
                  "",
                  "raw port I/O through /dev/port",
                  "--port-map is ignored with --port-io=raw"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortMapOption, TakesAListAddressAndADeviceOnceEach) {
    struct Case {
        const char* text;
        const char* error;  // part of the usage error, "" when taken
    };
    const Case cases[] = {
        {"0x378=/dev/parport1", ""},
        {"278=/dev/parport2", ""},
        {"0x3bc", "expected a Port list address and a ppdev device"},
        {"0x3BC=", "expected a Port list address and a ppdev device"},
        {"lpt=/dev/parport3", "expected a Port list address and a ppdev device"},
        {"0xE800=/dev/parport3", "0xE800 is not in the Port list"},
        {"0x378=/dev/parport3", "0x378=/dev/parport1 is mapped already"},
        {"0x3BC=/dev/parport2", "0x278=/dev/parport2 is mapped already"},
    };
    std::vector<PortMapping> map;
    for (const Case& c : cases) {
        const std::string error = AddPortMapping(map, c.text);
        if (*c.error)
            EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
        else
            EXPECT_EQ(error, "") << c.text;
    }
    EXPECT_EQ(map, (std::vector<PortMapping>{kMap378To1, {0x278, "/dev/parport2"}}));
}

// The node is opened long after the scan named it: a symbolic link put there
// meanwhile must not be followed to whatever it points at.
TEST(PpdevOpen, RefusesASymbolicLinkInPlaceOfTheNode) {
    PortIo::Instance().Reset();
    auto fake = std::make_shared<FakeParportSystem>();
    fake->AddPort(0, 0x378);
    fake->symlinks.insert("/dev/parport0");
    const PortBackendChoice choice = ChoosePortBackend(PortIoMode::Ppdev, fake);
    choice.backend->Write(0x378, 0x41);
    EXPECT_TRUE(fake->ioctls.empty());
    EXPECT_TRUE(
        Reported("cannot open /dev/parport0: Too many levels of symbolic links — it is a "
                 "symbolic link"));
    PortIo::Instance().Reset();
}

}  // namespace
