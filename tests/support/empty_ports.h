// Hides the machine's own serial ports for a whole test executable, so that only the ports the
// tests map themselves exist (include it once; it registers itself).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "platform/port_map.h"
#include "support/scratch_folder.h"

namespace pellory::test {

class EmptySystemPorts : public ::testing::Environment {
public:
    // An empty folder stands for both the system's tty classes and its devices.
    void SetUp() override {
        empty_ = std::make_unique<ScratchFolder>("pellory_no_ports");
        platform::PortMap::instance().setSystemRoots(empty_->Folder(), empty_->Folder());
    }
    void TearDown() override { empty_.reset(); }

private:
    std::unique_ptr<ScratchFolder> empty_;
};

inline ::testing::Environment* const kEmptySystemPorts =
    ::testing::AddGlobalTestEnvironment(new EmptySystemPorts);

}  // namespace pellory::test
