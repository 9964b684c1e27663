// The USB power core's pure pieces, compiled once per profile (the test binary links the same
// core library as the daemon it stands for).
#include <gtest/gtest.h>

#include "bringup/otg.h"
#include "otg_core.h"

namespace {

const unsigned int PERIPHERAL = OTG_GOTGCTL_PERIPHERAL;
const unsigned int A_VALID = OTG_GOTGCTL_A_VALID;
const unsigned int B_VALID = OTG_GOTGCTL_B_VALID;
const unsigned int BUS_VALID = A_VALID | B_VALID;

#ifdef OTG_PROFILE_IDDQ
const bool kPort0Rule = false;
#define PROFILE_SUFFIX Iddq
#else
const bool kPort0Rule = true;
#define PROFILE_SUFFIX Sleepm
#endif
// Test names carry the profile, so that both binaries' cases stand apart in ctest.
#define PROFILE_CAT2(a, b) a##b
#define PROFILE_CAT(a, b) PROFILE_CAT2(a, b)
#define PROFILE_TEST(suite, name) TEST(PROFILE_CAT(suite, PROFILE_SUFFIX), name)

PROFILE_TEST(OtgParseLine, AcceptsPrefixAndHexNumber) {
    unsigned int v = 0;
    EXPECT_EQ(0, otg_parse_line("GOTGCTL = 0x000d0000\n", OTG_GOTGCTL_PREFIX, 12, &v));
    EXPECT_EQ(0xd0000u, v);
    EXPECT_EQ(0, otg_parse_line("Bus Connected = 0x1\n", OTG_BUSCONNECTED_PREFIX, 18, &v));
    EXPECT_EQ(1u, v);
    // Upper-case digits, no line end, trailing text after the number.
    EXPECT_EQ(0, otg_parse_line("GOTGCTL = 0xABCDEF12 rest", OTG_GOTGCTL_PREFIX, 12, &v));
    EXPECT_EQ(0xabcdef12u, v);
}

PROFILE_TEST(OtgParseLine, RefusesWrongPrefixOrMissingNumber) {
    unsigned int v = 77;
    EXPECT_EQ(-1, otg_parse_line("gotgctl = 0x00010000\n", OTG_GOTGCTL_PREFIX, 12, &v));
    EXPECT_EQ(-1, otg_parse_line("GOTGCTL=0x00010000\n", OTG_GOTGCTL_PREFIX, 12, &v));
    EXPECT_EQ(-1, otg_parse_line("", OTG_GOTGCTL_PREFIX, 12, &v));
    EXPECT_EQ(-1, otg_parse_line("GOTGCTL = 0", OTG_GOTGCTL_PREFIX, 12, &v));
    // The prefix with nothing usable after it is as bad as no prefix.
    EXPECT_EQ(-1, otg_parse_line("GOTGCTL = 0x", OTG_GOTGCTL_PREFIX, 12, &v));
    EXPECT_EQ(-1, otg_parse_line("GOTGCTL = 0x\n", OTG_GOTGCTL_PREFIX, 12, &v));
    EXPECT_EQ(-1, otg_parse_line("GOTGCTL = 0xzz\n", OTG_GOTGCTL_PREFIX, 12, &v));
    EXPECT_EQ(-1, otg_parse_line("Bus Connected = 0x\n", OTG_BUSCONNECTED_PREFIX, 18, &v));
    EXPECT_EQ(77u, v);
}

PROFILE_TEST(OtgStatusDecide, PeripheralRoleNeedsBothBusValidBits) {
    for (int port = 0; port < 2; port++) {
        for (unsigned int bus : {0u, 1u, 2u}) {
            EXPECT_EQ(1, otg_status_decide(port, PERIPHERAL | BUS_VALID, bus));
            EXPECT_EQ(0, otg_status_decide(port, PERIPHERAL, bus));
            EXPECT_EQ(0, otg_status_decide(port, PERIPHERAL | A_VALID, bus));
            EXPECT_EQ(0, otg_status_decide(port, PERIPHERAL | B_VALID, bus));
        }
    }
}

PROFILE_TEST(OtgStatusDecide, HostRoleFollowsBusConnection) {
    // With both bus-valid bits up, every port and profile looks at the bus connection alone, and
    // only the value 1 counts.
    for (int port = 0; port < 2; port++) {
        EXPECT_EQ(0, otg_status_decide(port, BUS_VALID, 0));
        EXPECT_EQ(1, otg_status_decide(port, BUS_VALID, 1));
        EXPECT_EQ(0, otg_status_decide(port, BUS_VALID, 2));
        EXPECT_EQ(0, otg_status_decide(port, BUS_VALID | 0xff, 0xffffffffu));
    }
    EXPECT_EQ(0, otg_status_decide(1, 0, 0));
    EXPECT_EQ(1, otg_status_decide(1, 0, 1));
    EXPECT_EQ(0, otg_status_decide(1, A_VALID, 0));
}

PROFILE_TEST(OtgStatusDecide, Port0HostRuleOfTheProfile) {
    // Port 0 in the host role without both bus-valid bits: in use in the sleep profile, by the bus
    // connection in the IDDQ profile.
    for (unsigned int word : {0u, A_VALID, B_VALID}) {
        EXPECT_EQ(kPort0Rule ? 1 : 0, otg_status_decide(0, word, 0));
        EXPECT_EQ(1, otg_status_decide(0, word, 1));
    }
}

}  // namespace
