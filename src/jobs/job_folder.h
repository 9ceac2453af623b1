// The jobs folder on disk: the names of the job folders in it (000001, 000002, ..., more digits past
// 999999), whether it can be written, and files written in one step. Which numbers are taken:
// job_numbers.h.
//
// A job folder is made as NNNNNN.tmp and renamed to NNNNNN once everything in it is written, and
// each file in it is written under a temporary name and renamed: a reader of the jobs folder never
// sees a job folder that is still being filled, nor half a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_in_one_step.h"

namespace pellory::jobs {

// "000042": the job number, zero-padded to six digits.
std::string JobFolderName(uint64_t number);
// The folder being filled: "000042.tmp".
std::string JobWorkName(uint64_t number);
// A receipt's picture in a job's folder, counted from 1: "receipt-01.png".
std::string ReceiptFileName(uint64_t number);

// Removes the file at path (never a folder); nothing when there is none or it cannot be removed.
void RemoveFile(const std::string& path);

// Makes dir when it is missing and checks that files can be made in it (by making one and removing
// it). False with the reason ("Permission denied", "Not a directory", ...) in *why.
bool PrepareJobsFolder(const std::string& dir, std::string* why);

// Each file of the jobs folder is written in one step, flushed (platform/file_in_one_step.h): a
// crash of the server leaves the old file or the new, never half.
using platform::FileSink;
using platform::WriteFileInOneStep;

}  // namespace pellory::jobs
