// The numbers of the jobs in a jobs folder: which are taken, and which the next job gets.
//
// A number is taken by making its work folder, NNNNNN.tmp (mkdir is atomic: two writers never take
// the same number, whatever process they are in), while nothing in the jobs folder has the job's
// final name NNNNNN; any entry of either name (a file, a link, a folder) makes the number taken,
// and the next one is tried. A job folder is finished by renaming NNNNNN.tmp to NNNNNN, which never
// replaces anything: when something has taken that name meanwhile, the rename fails and the job is
// given another number. Nothing here removes anything but a work folder it has just made itself.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace pellory::jobs {

// The job number a name of the jobs folder stands for: its leading digits when there are at least
// six of them (000042, 000042.tmp, 1000000, 000042-old: 42, 42, 1000000, 42); nothing for other
// names and for more than 18 digits.
std::optional<uint64_t> JobNumberOfName(std::string_view name);

// The number of a work folder's name ("000042.tmp": 42); nothing for any other name.
std::optional<uint64_t> WorkFolderNumber(std::string_view name);

// The highest JobNumberOfName among the entries of dir; 0 for none.
uint64_t HighestJobNumber(const std::string& dir);

// Hands out the numbers of one jobs folder. Safe from any thread; each call is a few file-system
// calls on the folder.
class JobNumbers {
public:
    // Numbers are handed out from after + 1 upward.
    JobNumbers(std::string dir, uint64_t after) : dir_(std::move(dir)), next_(after + 1) {}

    const std::string& dir() const { return dir_; }
    // The number the next take() tries first.
    uint64_t next() const;

    // Takes the lowest free number from next() on and makes its work folder, empty. Nothing, with
    // the reason in *why, when no folder can be made (the jobs folder is gone, the disk is full).
    std::optional<uint64_t> take(std::string* why);

    // Renames the work folder of number to its final name, never over an entry of that name. False
    // with the reason in *why, and *taken true when the final name is taken (the work folder
    // keeps its name then).
    bool finish(uint64_t number, bool* taken, std::string* why) const;

    // Moves the work folder of number to a newly taken number's, for a job whose final name was
    // taken after its number. The new number, or nothing with the reason.
    std::optional<uint64_t> moveToNew(uint64_t number, std::string* why);

private:
    const std::string dir_;
    mutable std::mutex mutex_;
    uint64_t next_;  // guarded by mutex_
};

}  // namespace pellory::jobs
