// Writing a file in one step as both systems keep the promise: the file at the path is the old one
// or the whole new one, the temporary file is gone either way (unless it was someone else's), a
// temporary name taken is passed over, and a file that cannot take the new one's place stays.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_in_one_step.h"
#include "platform/files.h"
#include "support/scratch_folder.h"

namespace pellory::platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(PathOf(dir))) names.push_back(TextOf(e.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileInOneStepEverywhere, TheFileIsTheOldOneOrTheWholeNewOneAndNothingIsLeftBeside) {
    const std::string kNew(300000, 'n');
    const std::string stale = ".file.txt.part-" + std::to_string(CurrentProcessId());
    enum class Before { Nothing, OldFile, OldFileAndStaleTemporary, Folder };
    struct Case {
        const char* name;
        Before before;
        Durability durability;
        bool givenUp;  // fill returns false halfway
        bool written;
        std::vector<std::string> left;  // the folder's names after it
    };
    const Case cases[] = {
        {"a new file", Before::Nothing, Durability::Flushed, false, true, {"file.txt"}},
        {"the old file replaced", Before::OldFile, Durability::Flushed, false, true, {"file.txt"}},
        {"synced over the old file", Before::OldFile, Durability::Synced, false, true, {"file.txt"}},
        {"a temporary name taken",
         Before::OldFileAndStaleTemporary,
         Durability::Synced,
         false,
         true,
         {stale, "file.txt"}},
        {"given up halfway", Before::OldFile, Durability::Flushed, true, false, {"file.txt"}},
        {"a folder at the path", Before::Folder, Durability::Synced, false, false, {"file.txt"}},
    };
    for (const Case& c : cases) {
        const test::ScratchFolder dir("pellory_one_step");
        const std::string path = dir.Folder() + "/file.txt";
        if (c.before == Before::OldFile || c.before == Before::OldFileAndStaleTemporary) dir.Write("file.txt", "old");
        if (c.before == Before::OldFileAndStaleTemporary) dir.Write(stale, "stale");
        if (c.before == Before::Folder) fs::create_directory(PathOf(path));
        OneStepFile how;
        how.durability = c.durability;
        std::string why;
        const bool written = WriteFileInOneStep(
            path,
            [&](const FileSink& sink) {
                const auto* data = reinterpret_cast<const uint8_t*>(kNew.data());
                if (!sink(data, kNew.size() / 2)) return false;
                return !c.givenUp && sink(data + kNew.size() / 2, kNew.size() - kNew.size() / 2);
            },
            how, &why);
        EXPECT_EQ(written, c.written) << c.name << ": " << why;
        EXPECT_EQ(why.empty(), c.written) << c.name;
        if (c.givenUp) {
            EXPECT_EQ(why, "the writing was given up") << c.name;
        }
        EXPECT_EQ(Names(dir.Folder()), c.left) << c.name;
        if (c.before == Before::Folder) {
            EXPECT_TRUE(fs::is_directory(PathOf(path))) << c.name;
        } else {
            EXPECT_EQ(dir.Read("file.txt"), c.written ? kNew : "old") << c.name;
        }
        if (c.before == Before::OldFileAndStaleTemporary) {
            EXPECT_EQ(dir.Read(stale), "stale") << c.name;
        }
    }
}

// A reader of the old file (the standard streams, which on Windows do not let it be replaced while
// open) that closes it a moment later delays the writing, and does not fail it.
TEST(FileInOneStepEverywhere, AReaderOfTheOldFileForAMomentDoesNotFailTheWriting) {
    const test::ScratchFolder dir("pellory_one_step");
    const std::string path = dir.Write("file.txt", "old");
    auto reader = std::make_unique<std::ifstream>(PathOf(path), std::ios::binary);
    ASSERT_TRUE(reader->is_open());
    std::thread closer([&reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        reader.reset();
    });
    std::string why;
    const bool written = WriteFileInOneStep(path, "new", &why);
    closer.join();
    EXPECT_TRUE(written) << why;
    EXPECT_EQ(dir.Read("file.txt"), "new");
    EXPECT_EQ(Names(dir.Folder()), std::vector<std::string>{"file.txt"});
}

// A folder that is not there: the reason in the same words on both systems, and nothing made.
TEST(FileInOneStepEverywhere, AMissingFolderIsNamedAsMissing) {
    const test::ScratchFolder dir("pellory_one_step");
    std::string why;
    EXPECT_FALSE(WriteFileInOneStep(dir.Folder() + "/gone/file.txt", "new", &why));
    EXPECT_EQ(why, "No such file or directory");
    EXPECT_TRUE(Names(dir.Folder()).empty());
}

}  // namespace
}  // namespace pellory::platform
