// The jobs folder's own promises as both systems keep them: one holder of the folder's lock at a
// time, the others told its process id; numbers taken past every entry of a job's name; a job
// folder finished under its name only when nothing has it, and moved to a new number otherwise.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "jobs/job_folder.h"
#include "jobs/job_folder_lock.h"
#include "jobs/job_numbers.h"
#include "platform/files.h"
#include "support/scratch_folder.h"

namespace pellory::jobs {
namespace {

namespace fs = std::filesystem;

bool Exists(const test::ScratchFolder& dir, const std::string& name) {
    std::error_code ec;
    return fs::symlink_status(platform::PathOf(dir.Folder() + "/" + name), ec).type() != fs::file_type::not_found;
}

TEST(JobsFolderEverywhere, OneHolderOfTheLockAtATimeAndTheOthersAreToldItsProcess) {
    const test::ScratchFolder dir("pellory_lock");
    const platform::ProcessId self = platform::CurrentProcessId();
    JobsFolderLock first, second;
    platform::ProcessId holder = -1;
    std::string why;
    ASSERT_EQ(first.take(dir.Folder(), &holder, &why), JobsFolderLock::Result::Taken) << why;
    EXPECT_TRUE(first.held());
    EXPECT_EQ(dir.Read(kLockFileName), std::to_string(self) + "\n");
    EXPECT_EQ(second.take(dir.Folder(), &holder, &why), JobsFolderLock::Result::InUse);
    EXPECT_EQ(holder, self);
    EXPECT_FALSE(second.held());
    first.release();
    EXPECT_EQ(second.take(dir.Folder(), &holder, &why), JobsFolderLock::Result::Taken) << why;
    EXPECT_EQ(first.take(dir.Folder() + "/gone", &holder, &why), JobsFolderLock::Result::CannotLock);
    EXPECT_EQ(why, "No such file or directory");
}

TEST(JobsFolderEverywhere, NumbersPassOverEveryEntryOfAJobsName) {
    enum class Kind { File, Folder };
    struct Case {
        const char* name;
        Kind kind;
    };
    // 1 has a work folder, 2 a file of its final name, 3 a folder of it: the first free is 4.
    const Case entries[] = {{"000001.tmp", Kind::Folder}, {"000002", Kind::File}, {"000003", Kind::Folder}};
    const test::ScratchFolder dir("pellory_numbers");
    for (const Case& e : entries) {
        if (e.kind == Kind::File) dir.Write(e.name, "someone's");
        if (e.kind == Kind::Folder) fs::create_directory(platform::PathOf(dir.Folder() + "/" + e.name));
    }
    JobNumbers numbers(dir.Folder(), 0);
    std::string why;
    EXPECT_EQ(numbers.take(&why), std::optional<uint64_t>(4)) << why;
    for (const Case& e : entries) EXPECT_TRUE(Exists(dir, e.name)) << e.name;
    EXPECT_FALSE(Exists(dir, "000002.tmp"));  // made and given back: the final name was taken
    EXPECT_FALSE(Exists(dir, "000003.tmp"));
    EXPECT_EQ(dir.Read("000002"), "someone's");
    EXPECT_TRUE(Exists(dir, "000004.tmp"));
    EXPECT_EQ(numbers.next(), 5u);
}

TEST(JobsFolderEverywhere, AFolderIsFinishedOnlyUnderAFreeNameAndOtherwiseMovedToANewNumber) {
    const test::ScratchFolder dir("pellory_numbers");
    JobNumbers numbers(dir.Folder(), 0);
    std::string why;
    ASSERT_EQ(numbers.take(&why), std::optional<uint64_t>(1)) << why;
    ASSERT_EQ(numbers.take(&why), std::optional<uint64_t>(2)) << why;
    dir.Write("000001.tmp/bytes.bin", "one");
    dir.Write("000002.tmp/bytes.bin", "two");
    bool taken = true;
    EXPECT_TRUE(numbers.finish(1, &taken, &why)) << why;
    EXPECT_FALSE(taken);
    EXPECT_EQ(dir.Read("000001/bytes.bin"), "one");
    EXPECT_FALSE(Exists(dir, "000001.tmp"));
    // Someone makes an empty folder of job 2's final name after it took its number.
    fs::create_directory(platform::PathOf(dir.Folder() + "/000002"));
    EXPECT_FALSE(numbers.finish(2, &taken, &why));
    EXPECT_TRUE(taken);
    EXPECT_EQ(why, "000002 exists already");
    EXPECT_TRUE(fs::is_empty(platform::PathOf(dir.Folder() + "/000002")));
    EXPECT_EQ(dir.Read("000002.tmp/bytes.bin"), "two");
    const std::optional<uint64_t> fresh = numbers.moveToNew(2, &why);
    ASSERT_EQ(fresh, std::optional<uint64_t>(3)) << why;
    EXPECT_FALSE(Exists(dir, "000002.tmp"));
    EXPECT_TRUE(numbers.finish(3, &taken, &why)) << why;
    EXPECT_EQ(dir.Read("000003/bytes.bin"), "two");
}

}  // namespace
}  // namespace pellory::jobs
