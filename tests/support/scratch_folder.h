// A folder of its own for a test, made new under the temporary folder (TMPDIR: every test runs
// with one inside the build folder, see cmake/PelloryTest.cmake) and removed with everything in
// it when the object goes; a fixture whose tests each have one; and whole files read and written
// in one step.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

namespace pellory::test {

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void WriteWholeFile(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class ScratchFolder {
public:
    // The folder's name begins with prefix; a folder that cannot be made throws.
    explicit ScratchFolder(const std::string& prefix = "pellory") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string Folder() const { return path_.string(); }
    // The path of name in the folder (name may hold folders of its own: "each/a.png").
    std::string Path(const std::string& name) const { return (path_ / name).string(); }
    // Writes a file of these bytes into the folder; returns its path.
    std::string Write(const std::string& name, std::string_view bytes) const {
        const std::string path = Path(name);
        WriteWholeFile(path, bytes);
        return path;
    }
    std::string Read(const std::string& name) const { return ReadWholeFile(Path(name)); }
    // Lets other users in (mkdtemp makes the folder for its owner alone): for programs the test
    // runs as another user that write into it.
    void OpenToOthers() const { ::chmod(path_.c_str(), 0755); }

private:
    std::filesystem::path path_;
};

// Tests that each have a scratch folder of their own, made before SetUp and removed after
// TearDown.
class ScratchFolderTest : public ::testing::Test {
protected:
    explicit ScratchFolderTest(const std::string& prefix = "pellory") : scratch(prefix) {}
    std::string Path(const std::string& name) const { return scratch.Path(name); }
    std::string Folder() const { return scratch.Folder(); }

    ScratchFolder scratch;
};

}  // namespace pellory::test
