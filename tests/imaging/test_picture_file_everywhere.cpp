// A picture file's bytes as both systems read them: a regular file whole (mapped), refused past the
// limit, when its first bytes cannot start a picture, when it is a folder or missing, each with
// the same message.
#include <gtest/gtest.h>

#include <string>

#include "imaging/picture_file.h"
#include "support/scratch_folder.h"

namespace pellory::imaging {
namespace {

bool StartsWithB(const uint8_t* data, size_t n) { return n > 0 && data[0] == 'B'; }

TEST(PictureFileEverywhere, AFileIsTakenWholeOrRefusedWithItsReason) {
    constexpr size_t kLimit = size_t{1} << 20;
    enum class Made { File, Folder, Nothing };
    struct Case {
        const char* name;
        Made made;
        std::string bytes;
        const char* error;  // after the path; empty when the file is taken
    };
    const Case cases[] = {
        {"picture.bmp", Made::File, "BM" + std::string(200000, '\x5a'), ""},
        {"at-the-limit.bmp", Made::File, "B" + std::string(kLimit - 1, '\0'), ""},
        {"empty.bmp", Made::File, "", ""},
        {"too-large.bmp", Made::File, "B" + std::string(kLimit, '\0'), "file too large: "},
        {"text.txt", Made::File, "plain text", "not a picture format that can be read: "},
        {"folder.bmp", Made::Folder, "", "cannot read : it is a folder"},
        {"missing.bmp", Made::Nothing, "", "cannot open : No such file or directory"},
    };
    const test::ScratchFolder dir("pellory_picture_file");
    for (const Case& c : cases) {
        const std::string path = dir.Folder() + "/" + c.name;
        if (c.made == Made::File) dir.Write(c.name, c.bytes);
        if (c.made == Made::Folder) std::filesystem::create_directory(dir.path() / c.name);
        FileBytes file;
        std::string error;
        const bool taken = file.Open(path, kLimit, StartsWithB, &error);
        const std::string expected(c.error);
        EXPECT_EQ(taken, expected.empty()) << c.name << ": " << error;
        if (expected.empty()) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), file.size()), c.bytes) << c.name;
        } else if (expected.back() == ' ') {
            // The message ends with the path, or goes on after it.
            EXPECT_EQ(error.substr(0, expected.size() + path.size()), expected + path) << c.name;
        } else {
            const size_t colon = expected.find(" :");
            EXPECT_EQ(error, expected.substr(0, colon + 1) + path + expected.substr(colon + 1)) << c.name;
        }
        file.Release();
        EXPECT_EQ(file.size(), 0u) << c.name;
    }
}

}  // namespace
}  // namespace pellory::imaging
