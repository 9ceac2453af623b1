// Writing a file in one step: the one way Pellory replaces a file's content (the jobs folder's
// files, the files pellory-cli writes), so that no reader ever sees half of one.
//
// The new content is written into a temporary file in the same folder (".NAME.part-PID", or with
// "-N" after it when that name is taken), flushed to the file system, optionally synced, and then
// renamed over the file's name, which replaces the old file at once.
//
// What a crash can leave: the file at path is the old one or the new one, never half of either.
// A process that dies while writing leaves the old file (or none) and its temporary file, which
// its owner may remove (a name starting with '.' that holds ".part-"). Without Durability::Synced
// the new content may be lost by a crash of the machine (a power cut) shortly after the rename,
// leaving an empty or short file on file systems that put the rename on disk before the data;
// with it the data are on disk before the rename, so that path then holds the old content or the
// whole new one (the folder itself is not synced: the rename may still be undone).
//
// On Windows the rename is MoveFileExW with MOVEFILE_REPLACE_EXISTING and MOVEFILE_WRITE_THROUGH,
// paths are UTF-8 and the process id is GetCurrentProcessId's: the same promise, the same names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace pellory::platform {

// Takes the next bytes of a file; false when they could not be written, which ends the writing.
using FileSink = std::function<bool(const uint8_t* data, size_t n)>;

enum class Durability {
    Flushed,  // in the file system's cache: survives the process, not a power cut (the jobs folder)
    Synced,   // on disk before the rename (fsync): the files a user asked for
};

struct OneStepFile {
    Durability durability = Durability::Flushed;
    // The new file's permission bits (POSIX's, less the umask); a file at path keeps its own when
    // keepMode. On Windows a file takes the permissions its folder gives, and both are unused.
    uint32_t mode = 0644;
    bool keepMode = false;
};

// Writes the file at path in one step: fill writes its bytes to the sink it is given; returning
// false it gives up. False with the reason in *why (may be null: "No space left on device", "the
// writing was given up") when it could not be written: the file at path is then as it was, and no
// temporary file is left.
bool WriteFileInOneStep(const std::string& path, const std::function<bool(const FileSink&)>& fill,
                        const OneStepFile& how, std::string* why);
// The same with the flushed defaults, and with a whole content.
bool WriteFileInOneStep(const std::string& path, const std::function<bool(const FileSink&)>& fill, std::string* why);
bool WriteFileInOneStep(const std::string& path, const std::string& content, std::string* why);

}  // namespace pellory::platform
