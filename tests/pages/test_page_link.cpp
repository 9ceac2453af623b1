// What a tab change does to a page's link: queued bytes go out first, then the link closes.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "link/port_settings.h"
#include "pages/core/page_link.h"
#include "support/empty_ports.h"
#include "support/support.h"

using namespace pellory;

namespace {

constexpr int kCom = 191;

class PageLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        page.SetPrompt(&prompt);
        page.SetMainWindow(&history);
        page.echoSwitch = true;
    }

    pages::PageLink page{link::ProbeOptions{}};
    test::ScriptedPrompt prompt;
    test::RecordingHistory history;
};

}  // namespace

TEST_F(PageLinkTest, ClosingRightAfterALargeSendLosesNothing) {
    test::MappedPrinter p(kCom);
    link::PortSettings.portNumber = kCom;
    page.OpenAndProbe();
    ASSERT_TRUE(page.IsOpen());
    std::vector<uint8_t> image(400000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(0x20 + i % 90);
    page.SendBytes(image);
    page.HandOver();
    page.CloseLink();  // as a tab change does, at once
    EXPECT_FALSE(page.IsOpen());
    EXPECT_EQ(page.SendBuffer().Count(), 0u);
    ASSERT_TRUE(p->waitForBytes(3 + image.size(), 3000)) << p->receivedCount();
    const auto received = p->received();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), received.begin() + 3));
    EXPECT_EQ(history.rows.size(), 2u);
}

TEST_F(PageLinkTest, APortThatTakesNothingDoesNotHoldTheTabChangeForLong) {
    test::SilentPort silent(kCom + 1);
    link::PortSettings.portNumber = kCom + 1;
    // Nothing answers the probe, so open the link the way the pages do, without it.
    link::SetPageLinkMode(page, false);
    ASSERT_TRUE(page.Open(kCom + 1, 8, 0, 0));
    page.SendBytes(std::vector<uint8_t>(1 << 20, 0x41));
    const auto start = std::chrono::steady_clock::now();
    page.CloseLink();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    EXPECT_FALSE(page.IsOpen());
    EXPECT_EQ(page.SendBuffer().Count(), 0u);  // what the port never took is dropped
}
