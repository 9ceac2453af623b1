// The files contract as both systems keep it: a folder is made by one call only, a rename never
// replaces anything, a folder moves onto an empty one only; one open file at a time holds a file's
// lock while the others may still read it; a file is appended to, described, mapped and read
// alike; names are the program's UTF-8 both ways; and the common errors read the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_in_one_step.h"
#include "platform/files.h"
#include "support/scratch_folder.h"

namespace pellory::platform {
namespace {

namespace fs = std::filesystem;

// What has a name in the scratch folder.
enum class Entry { None, File, EmptyFolder, FullFolder };

void Make(const test::ScratchFolder& dir, const std::string& name, Entry entry) {
    if (entry == Entry::File) dir.Write(name, "someone's");
    if (entry == Entry::EmptyFolder || entry == Entry::FullFolder) fs::create_directory(dir.Path(name));
    if (entry == Entry::FullFolder) dir.Write(name + "/inside", "kept");
}

Entry Seen(const test::ScratchFolder& dir, const std::string& name) {
    std::error_code ec;
    const fs::file_type type = fs::symlink_status(dir.Path(name), ec).type();
    if (type == fs::file_type::regular) return Entry::File;
    if (type != fs::file_type::directory) return Entry::None;
    return fs::is_empty(dir.Path(name), ec) ? Entry::EmptyFolder : Entry::FullFolder;
}

TEST(FilesTest, ANameIsTakenByOneCallAndNeverReplaced) {
    enum class Call { MakeFolder, RenameNoReplace, MoveOntoEmptyFolder };
    struct Case {
        const char* name;
        Call call;
        Entry from, to;  // before the call
        NameResult result;
        Entry fromAfter, toAfter;
        const char* why;  // the error's words, for a failure
    };
    using E = Entry;
    using R = NameResult;
    const Case cases[] = {
        {"a new folder", Call::MakeFolder, E::None, E::None, R::Done, E::None, E::EmptyFolder, ""},
        {"a folder made already", Call::MakeFolder, E::None, E::EmptyFolder, R::Taken, E::None, E::EmptyFolder, ""},
        {"a file of the folder's name", Call::MakeFolder, E::None, E::File, R::Taken, E::None, E::File, ""},
        {"a rename to a free name", Call::RenameNoReplace, E::FullFolder, E::None, R::Done, E::None, E::FullFolder, ""},
        {"a rename onto an empty folder", Call::RenameNoReplace, E::FullFolder, E::EmptyFolder, R::Taken, E::FullFolder,
         E::EmptyFolder, ""},
        {"a rename onto a file", Call::RenameNoReplace, E::FullFolder, E::File, R::Taken, E::FullFolder, E::File, ""},
        {"a rename of nothing", Call::RenameNoReplace, E::None, E::None, R::Failed, E::None, E::None,
         "No such file or directory"},
        {"a move onto an empty folder", Call::MoveOntoEmptyFolder, E::FullFolder, E::EmptyFolder, R::Done, E::None,
         E::FullFolder, ""},
        {"a move onto a full folder", Call::MoveOntoEmptyFolder, E::FullFolder, E::FullFolder, R::Failed, E::FullFolder,
         E::FullFolder, "Directory not empty"},
    };
    for (const Case& c : cases) {
        const test::ScratchFolder dir("pellory_names");
        Make(dir, "from", c.from);
        Make(dir, "to", c.to);
        if (c.to == E::FullFolder) dir.Write("to/inside", "the target's");
        int error = 0;
        R result = R::Failed;
        switch (c.call) {
            case Call::MakeFolder:
                result = MakeFolder(dir.Path("to"), &error);
                break;
            case Call::RenameNoReplace:
                result = RenameNoReplace(dir.Path("from"), dir.Path("to"), &error);
                break;
            case Call::MoveOntoEmptyFolder:
                result = MoveOntoEmptyFolder(dir.Path("from"), dir.Path("to"), &error) ? R::Done : R::Failed;
                break;
        }
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(result == R::Failed ? ErrorText(error) : "", c.why) << c.name;
        EXPECT_EQ(Seen(dir, "from"), c.fromAfter) << c.name;
        EXPECT_EQ(Seen(dir, "to"), c.toAfter) << c.name;
        // Whatever holds "inside" holds what it held: the moved folder's, or the target's kept.
        if (c.toAfter == E::FullFolder) {
            EXPECT_EQ(dir.Read("to/inside"), c.to == E::FullFolder ? "the target's" : "kept") << c.name;
        }
    }
    const test::ScratchFolder dir("pellory_names");
    int error = 0;
    EXPECT_EQ(MakeFolder(dir.Path("no/such"), &error), NameResult::Failed);
    EXPECT_EQ(ErrorText(error), "No such file or directory");
}

TEST(FilesTest, OneOpenFileAtATimeHoldsTheLockAndTheOthersMayReadTheFile) {
    const test::ScratchFolder dir("pellory_lock");
    const std::string path = dir.Path(".lock");
    File first, second;
    int error = 0;
    ASSERT_TRUE(first.open(path, File::Access::LockFile, &error)) << ErrorText(error);
    ASSERT_TRUE(second.open(path, File::Access::LockFile, &error)) << ErrorText(error);
    ASSERT_EQ(first.tryLock(&error), File::LockResult::Taken);
    ASSERT_TRUE(first.replaceContent("4242\n", &error)) << ErrorText(error);
    EXPECT_EQ(second.tryLock(&error), File::LockResult::Busy);
    char text[16] = {};
    EXPECT_EQ(second.readAt(0, text, sizeof text, &error), 5) << ErrorText(error);
    EXPECT_EQ(std::string(text), "4242\n");
    // A shorter content replaces the whole of the longer one.
    ASSERT_TRUE(first.replaceContent("7\n", &error));
    EXPECT_EQ(dir.Read(".lock"), "7\n");
    EXPECT_EQ(first.close(), 0);
    EXPECT_EQ(second.tryLock(&error), File::LockResult::Taken);
}

TEST(FilesTest, AFileIsAppendedToDescribedMappedAndReadAlike) {
    const test::ScratchFolder dir("pellory_file");
    struct Refusal {
        const char* name;
        File::Access access;
        const char* why;
    };
    dir.Write("there", "x");
    const Refusal refusals[] = {
        {"missing", File::Access::Read, "No such file or directory"},
        {"missing", File::Access::WriteExisting, "No such file or directory"},
        {"there", File::Access::NewForAppend, "File exists"},
    };
    for (const Refusal& r : refusals) {
        File file;
        int error = 0;
        EXPECT_FALSE(file.open(dir.Path(r.name), r.access, &error)) << r.name;
        EXPECT_EQ(ErrorText(error), r.why) << r.name;
        EXPECT_FALSE(file.isOpen()) << r.name;
    }

    File appended;
    int error = 0;
    ASSERT_TRUE(appended.open(dir.Path("bytes.bin"), File::Access::NewForAppend, &error)) << ErrorText(error);
    uint64_t written = 0;
    const std::string pieces[] = {"first ", std::string(70000, 'm'), " last"};
    for (const std::string& piece : pieces)
        ASSERT_TRUE(appended.write(piece.data(), piece.size(), 1, &written, &error));
    EXPECT_EQ(written, 70011u);
    EXPECT_EQ(appended.close(), 0);
    const std::string whole = pieces[0] + pieces[1] + pieces[2];

    File file;
    ASSERT_TRUE(file.open(dir.Path("bytes.bin"), File::Access::Read, &error));
    File::Kind kind = File::Kind::Other;
    uint64_t size = 0;
    ASSERT_TRUE(file.describe(&kind, &size, &error));
    EXPECT_EQ(kind, File::Kind::Regular);
    EXPECT_EQ(size, whole.size());
    const uint8_t* mapped = file.map(whole.size(), &error);
    ASSERT_NE(mapped, nullptr) << ErrorText(error);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped), whole.size()), whole);
    File::Unmap(mapped, whole.size());
    std::string read;
    std::vector<char> piece(4096);
    for (int64_t n; (n = file.read(piece.data(), piece.size(), &error)) > 0;) read.append(piece.data(), n);
    EXPECT_EQ(read, whole);
    EXPECT_EQ(file.waitReadable(0, &error), 1);

    File folder;
    ASSERT_TRUE(folder.open(dir.Folder(), File::Access::Read, &error)) << ErrorText(error);
    ASSERT_TRUE(folder.describe(&kind, &size, &error));
    EXPECT_EQ(kind, File::Kind::Folder);
}

TEST(FilesTest, NamesAreTheProgramsUtf8BothWays) {
    const test::ScratchFolder dir("pellory_names");
    const std::string names[] = {"plain.txt",
                                 "gr\xc3\xb6\xc3\x9f"
                                 "e-\xe2\x82\xac.bin",
                                 "\xe5\x8f\xb0\xe5\xb8\xb3"};
    for (const std::string& name : names) {
        std::string why;
        ASSERT_TRUE(WriteFileInOneStep(dir.Folder() + "/" + name, name, &why)) << why;
        File file;
        int error = 0;
        EXPECT_TRUE(file.open(dir.Folder() + "/" + name, File::Access::Read, &error)) << name;
    }
    std::vector<std::string> listed;
    for (const fs::directory_entry& e : fs::directory_iterator(PathOf(dir.Folder())))
        listed.push_back(TextOf(e.path().filename()));
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected(std::begin(names), std::end(names));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(TextOf(PathOf(names[1])), names[1]);
}

}  // namespace
}  // namespace pellory::platform
