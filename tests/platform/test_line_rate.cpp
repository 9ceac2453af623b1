// The one table of standard speed codes and the reading of a line's rate, against a real
// pseudo-terminal: what a program sets with a speed code is read back as its rate.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <optional>

#include "platform/line_rate.h"

namespace pellory::platform {
namespace {

class LineRateTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0); }
    void TearDown() override {
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    // Sets the line's speed code as any program would (tcsetattr, no numeric rate).
    void SetCode(speed_t code) {
        termios t{};
        ASSERT_EQ(::tcgetattr(slave_, &t), 0);
        ASSERT_EQ(::cfsetospeed(&t, code), 0);
        ASSERT_EQ(::cfsetispeed(&t, code), 0);
        ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &t), 0);
    }
    // The rate as the speed code of the line's settings gives it (no numeric request).
    std::optional<uint32_t> RateOfLineCode() {
        termios t{};
        EXPECT_EQ(::tcgetattr(slave_, &t), 0);
        return RateOfSpeedCode(::cfgetospeed(&t));
    }
    int master_ = -1;
    int slave_ = -1;
};

// Every code a program may set reads back as its rate, both through the kernel's numeric rate
// (where there is one) and through the code alone: the rates of the serial device and of the
// virtual printer are the same for every standard code.
TEST_F(LineRateTest, EveryStandardCodeReadsAsItsRate) {
    struct Case {
        speed_t code;
        uint32_t rate;
    };
    const Case cases[] = {
        {B50, 50},           {B300, 300},         {B1200, 1200},       {B2400, 2400},
        {B4800, 4800},       {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
        {B57600, 57600},     {B115200, 115200},   {B230400, 230400},
#ifdef __linux__
        {B460800, 460800},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
        {B1500000, 1500000}, {B2000000, 2000000}, {B3000000, 3000000}, {B4000000, 4000000},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        SetCode(c.code);
        EXPECT_EQ(ReadLineRate(slave_), std::optional<uint32_t>(c.rate));
        EXPECT_EQ(RateOfLineCode(), std::optional<uint32_t>(c.rate));
        EXPECT_EQ(SpeedCodeOfRate(c.rate), std::optional<speed_t>(c.code));
    }
}

TEST_F(LineRateTest, RatesWithoutACodeAndTheHangUpCode) {
    for (uint32_t rate : {0u, 14400u, 250000u, 4000001u}) {
        EXPECT_EQ(SpeedCodeOfRate(rate), std::nullopt) << rate;
    }
    EXPECT_EQ(RateOfSpeedCode(B0), std::nullopt);
    EXPECT_EQ(ReadLineRate(-1), std::nullopt);
    EXPECT_EQ(ReadNumericLineRate(-1), std::nullopt);
}

}  // namespace
}  // namespace pellory::platform
