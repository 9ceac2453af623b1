// Writing a file in one step: the file at the path is the old one or the whole new one, a writing
// given up or failed leaves the old file and no temporary file, a temporary name already taken is
// passed over, and a file kept its permissions when asked.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_in_one_step.h"
#include "support/scratch_folder.h"

namespace pellory::platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileInOneStep, TheFileIsTheOldOneOrTheWholeNewOne) {
    const std::string kNew(200000, 'n');
    struct Case {
        const char* name;
        bool givenUp;         // fill returns false halfway
        bool staleTemporary;  // a temporary file of this process's name is there already
        OneStepFile how;
        bool written;
        std::string why;
    };
    OneStepFile synced;
    synced.durability = Durability::Synced;
    OneStepFile kept = synced;
    kept.keepMode = true;
    const Case cases[] = {
        {"flushed", false, false, {}, true, ""},
        {"synced, its permissions kept", false, false, kept, true, ""},
        {"a temporary name taken", false, true, synced, true, ""},
        {"given up halfway", true, false, {}, false, "the writing was given up"},
    };
    for (const Case& c : cases) {
        const test::ScratchFolder dir("pellory_one_step");
        const std::string path = dir.Path("file.txt");
        ASSERT_TRUE(WriteFileInOneStep(path, "old", nullptr));
        ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
        const std::string stale = dir.Path(".file.txt.part-" + std::to_string(::getpid()));
        if (c.staleTemporary) {
            ASSERT_TRUE(WriteFileInOneStep(stale, "stale", nullptr));
        }
        std::string why;
        const bool written = WriteFileInOneStep(
            path,
            [&](const FileSink& sink) {
                const auto* data = reinterpret_cast<const uint8_t*>(kNew.data());
                if (!sink(data, kNew.size() / 2)) return false;
                return !c.givenUp && sink(data + kNew.size() / 2, kNew.size() - kNew.size() / 2);
            },
            c.how, &why);
        EXPECT_EQ(written, c.written) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
        EXPECT_EQ(test::ReadWholeFile(path), c.written ? kNew : "old") << c.name;
        // Nothing is left beside it but what was there.
        std::vector<std::string> expected = {"file.txt"};
        if (c.staleTemporary) {
            expected.insert(expected.begin(), ".file.txt.part-" + std::to_string(::getpid()));
            EXPECT_EQ(test::ReadWholeFile(stale), "stale") << c.name;
        }
        EXPECT_EQ(Names(dir.Folder()), expected) << c.name;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        if (c.how.keepMode || !c.written) {
            EXPECT_EQ(st.st_mode & 0777, 0600u) << c.name;
        }
    }
}

// A write that fails (here: past the file size the process may write) gives its reason and
// leaves the old file, and no temporary file.
TEST(FileInOneStep, AFailedWriteLeavesTheOldFile) {
    const test::ScratchFolder dir("pellory_one_step");
    const std::string path = dir.Path("file.bin");
    ASSERT_TRUE(WriteFileInOneStep(path, "old", nullptr));
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    std::string why;
    const bool written = WriteFileInOneStep(path, std::string(10000, 'x'), &why);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(why, "File too large");
    EXPECT_EQ(test::ReadWholeFile(path), "old");
    EXPECT_EQ(Names(dir.Folder()), std::vector<std::string>{"file.bin"});
}

}  // namespace
}  // namespace pellory::platform
