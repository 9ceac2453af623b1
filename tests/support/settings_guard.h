// Puts the process-wide settings back to their start-up values before and after every test of an
// executable, so that no test starts from what an earlier one chose and none resets them by hand.
// Including this header (support.h does) registers the link's settings (PortSettings,
// PrintableWidth) and the stop request; the support of a higher module adds what it owns with
// RestoreAroundEachTest (see pages/page_settings_guard.h).
//
// The restores run as the test begins, before its fixture is made, and once it has ended, after
// its fixture is gone: a fixture that sets values in its constructor or SetUp keeps them for its
// test.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "link/port_settings.h"
#include "platform/stop_request.h"

namespace pellory::test {

namespace detail {

class SettingsGuard : public ::testing::EmptyTestEventListener {
public:
    void Add(void (*restore)()) { restores_.push_back(restore); }
    void OnTestStart(const ::testing::TestInfo&) override { RestoreAll(); }
    void OnTestEnd(const ::testing::TestInfo&) override { RestoreAll(); }

private:
    void RestoreAll() const {
        for (auto restore : restores_) restore();
    }
    std::vector<void (*)()> restores_;
};

// One guard per executable, whichever sources register with it. GoogleTest owns it once it is
// appended to the listeners.
inline SettingsGuard& TheSettingsGuard() {
    static SettingsGuard* const guard = [] {
        auto* g = new SettingsGuard;
        ::testing::UnitTest::GetInstance()->listeners().Append(g);
        return g;
    }();
    return *guard;
}

}  // namespace detail

// Adds a restore run before and after every test of this executable. Meant for the initialiser
// of an inline variable in a support header, so that it is added once however many sources
// include that header.
inline bool RestoreAroundEachTest(void (*restore)()) {
    detail::TheSettingsGuard().Add(restore);
    return true;
}

// The link's settings and the stop request, as the program starts.
inline void RestoreLinkSettings() {
    link::ResetPortSettings();
    platform::ClearStopRequest();
}
inline const bool kLinkSettingsRestored = RestoreAroundEachTest(&RestoreLinkSettings);

}  // namespace pellory::test
