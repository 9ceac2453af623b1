// A folder of its own for a test, made new under the temporary folder (TMPDIR: every test runs
// with one inside the build folder, see cmake/PelloryTest.cmake) and removed with everything in
// it when the object goes; a fixture whose tests each have one; and whole files read and written
// in one step.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
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
        // A new name until one is free: create_directory makes a folder only where none was, so
        // two tests never share one.
        static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::random_device seed;
        std::mt19937 pick(seed());
        std::uniform_int_distribution<size_t> letter(0, sizeof kLetters - 2);
        const std::filesystem::path temp = std::filesystem::temp_directory_path();
        std::error_code error;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = prefix + "_";
            for (int i = 0; i < 6; ++i) name += kLetters[letter(pick)];
            if (std::filesystem::create_directory(temp / name, error)) {
                path_ = temp / name;
                // Its owner's alone, as a private temporary folder should be.
                std::filesystem::permissions(path_, std::filesystem::perms::owner_all, error);
                return;
            }
            if (error) break;
        }
        throw std::system_error(error ? error : std::make_error_code(std::errc::file_exists),
                                "a scratch folder under " + temp.string());
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
    // Lets other users in (the folder is made for its owner alone): for programs the test
    // runs as another user that write into it.
    void OpenToOthers() const {
        using std::filesystem::perms;
        std::error_code ignored;
        std::filesystem::permissions(
            path_, perms::owner_all | perms::group_read | perms::group_exec | perms::others_read | perms::others_exec,
            ignored);
    }

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
