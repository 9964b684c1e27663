// The driver protocol headers against the request numbers and bit positions the drivers use.
#include <gtest/gtest.h>

#include <string>

#include "bringup/otg.h"
#include "bringup/qvaudio.h"
#include "bringup/wifi_power.h"

TEST(Protocol, AudioRequestsAreWriteRequestsOfAnIntOnTypeA) {
    EXPECT_EQ(0x40044100ul, kCmdOutSize);
    EXPECT_EQ(0x40044101ul, kCmdOutHwPos);
    EXPECT_EQ(0x40044102ul, kCmdOutSetReadPos);
    EXPECT_EQ(0x40044107ul, kCmdOutSetup);
    EXPECT_EQ(0x40044109ul, kCmdOutReadPos);
}

TEST(Protocol, WifiRequestsCarryNoDirectionOrSize) {
    EXPECT_EQ(0x6d01ul, WIFI_POWER_UP);
    EXPECT_EQ(0x6d02ul, WIFI_POWER_DOWN);
    EXPECT_EQ(0x6d03ul, WIFI_POWER_UP_RETRY);
    EXPECT_EQ(0x6d04ul, WIFI_POWER_DOWN_RETRY);
}

TEST(Protocol, PortDigitIsTheZeroOfLm0InEveryPerPortPath) {
    for (const char* path : {OTG_PORT0_DIR, OTG_GOTGCTL_PATH, OTG_BUSCONNECTED_PATH, OTG_PULLUP_PATH,
                             OTG_SLEEPM_PATH, OTG_IDDQ_PATH, OTG_OTG_DISABLE_PATH}) {
        std::string p = path;
        ASSERT_GT(p.size(), size_t(OTG_PORT_DIGIT_INDEX)) << p;
        EXPECT_EQ('0', p[OTG_PORT_DIGIT_INDEX]) << p;
        p[OTG_PORT_DIGIT_INDEX] = '1';
        EXPECT_EQ(0u, p.rfind(OTG_PORT1_DIR, 0)) << p;
    }
    EXPECT_EQ(15, OTG_PORT_DIGIT_INDEX);
    EXPECT_EQ(0x10000u, OTG_GOTGCTL_PERIPHERAL);
    EXPECT_EQ(0xc0000u, OTG_GOTGCTL_A_VALID | OTG_GOTGCTL_B_VALID);
}
