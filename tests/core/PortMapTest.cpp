// --port-map and the opening of the ppdev node, over the fake kernel.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include "platform/PortIoMode.h"
#include "support/FakeParportSystem.h"

namespace {

std::string AllProblems() {
    std::string all;
    for (const std::string& p : PortIo::Instance().Problems()) all += p + "\n";
    return all;
}

TEST(PortMap, RoutesTheListEntryToTheMappedDevice) {
    struct Case {
        const char* name;
        PortIoMode mode;
        std::vector<std::uint32_t> bases;  // the kernel's ports, parport0 upwards
        std::vector<PortMapping> map;
        const char* device;  // where writes to 0x378 land, "" for no ppdev device
        const char* said;    // part of the start-up line and the messages
    };
    const Case cases[] = {
        {"card_mapped",
         PortIoMode::Ppdev,
         {0xE800},
         {{0x378, "/dev/parport0"}},
         "/dev/parport0",
         "(0x378 on /dev/parport0 at 0xE800 by --port-map)"},
        {"map_shadows_the_port_there",
         PortIoMode::Auto,
         {0x378, 0xE800},
         {{0x378, "/dev/parport1"}},
         "/dev/parport1",
         "(0x378 on /dev/parport1 at 0xE800 by"},
        {"unmapped_card",
         PortIoMode::Ppdev,
         {0xE800},
         {},
         "",
         "(ports found: 0xE800 on /dev/parport0) — to drive it from the Port list, map it: "
         "--port-map 0x378=/dev/parport0"},
        {"raw_ignores_it",
         PortIoMode::Raw,
         {0xE800},
         {{0x378, "/dev/parport0"}},
         "",
         "--port-map is ignored with --port-io=raw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PortIo::Instance().Reset();
        auto fake = std::make_shared<FakeParportSystem>();
        for (std::size_t n = 0; n < c.bases.size(); ++n) fake->AddPort(int(n), c.bases[n]);
        const PortBackendChoice choice = ChoosePortBackend(c.mode, fake, c.map);
        choice.backend->Write(0x37A, 0x03);
        EXPECT_NE((choice.announcement + AllProblems()).find(c.said), std::string::npos)
            << choice.announcement << "\n"
            << AllProblems();
        if (*c.device) {
            EXPECT_EQ(fake->ioctls.back(), (FakeParportSystem::IoctlCall{c.device, PPWCONTROL, 3}));
        } else {
            EXPECT_EQ(fake->pwrites.size(), c.mode == PortIoMode::Raw ? 1u : 0u);
        }
    }
    PortIo::Instance().Reset();
}

TEST(PortMap, TakesAListAddressAndADeviceOnceEach) {
    std::vector<PortMapping> map;
    EXPECT_EQ(AddPortMapping(map, "0x378=/dev/parport1"), "");
    EXPECT_NE(AddPortMapping(map, "0x3BC="), "");
    EXPECT_NE(AddPortMapping(map, "0xE800=/dev/parport2"), "");
    EXPECT_NE(AddPortMapping(map, "0x278=/dev/parport1"), "");
    EXPECT_EQ(map, (std::vector<PortMapping>{{0x378, "/dev/parport1"}}));
}

// The node is opened long after the scan named it: a symbolic link put there
// meanwhile must not be followed to whatever it points at.
TEST(PpdevOpen, RefusesASymbolicLinkInPlaceOfTheNode) {
    PortIo::Instance().Reset();
    auto fake = std::make_shared<FakeParportSystem>();
    fake->AddPort(0, 0x378);
    fake->symlinks.insert("/dev/parport0");
    ChoosePortBackend(PortIoMode::Ppdev, fake).backend->Write(0x378, 0x41);
    EXPECT_TRUE(fake->ioctls.empty());
    EXPECT_NE(AllProblems().find("Too many levels of symbolic links — it is a symbolic link"),
              std::string::npos);
    PortIo::Instance().Reset();
}

}  // namespace
