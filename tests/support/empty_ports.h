// Hides the machine's own serial ports for a whole test executable, so that only the ports the
// tests map themselves exist (include it once; it registers itself).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/port_map.h"

namespace pellory::test {

class EmptySystemPorts : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/pellory_no_ports_XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        dir_ = dir;
        platform::PortMap::instance().setSystemRoots(dir_, dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) ::rmdir(dir_.c_str());
    }

private:
    std::string dir_;
};

inline ::testing::Environment* const kEmptySystemPorts =
    ::testing::AddGlobalTestEnvironment(new EmptySystemPorts);

}  // namespace pellory::test
