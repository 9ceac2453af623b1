// A job recorder run by a test: its reports and error lines kept, a gate that holds its writers in
// their report until the test lets them go (so that jobs wait in its queue for as long as the test
// wants), and bounded waits for what the writers do. The including test links the jobs module.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "jobs/job_folder_lock.h"
#include "jobs/job_recorder.h"

namespace pellory::test {

// How long a test waits for something the writers do at most; only a hang comes near it.
inline constexpr std::chrono::seconds kRecorderWatchdog(30);

// Waits until done() is true, in steps of 10 ms; false when the watchdog ran out first.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds watchdog = kRecorderWatchdog) {
    const auto until = std::chrono::steady_clock::now() + watchdog;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The names in a folder, sorted, without the jobs folder's lock file.
inline std::vector<std::string> FolderEntries(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name != jobs::kLockFileName) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class RecordingRun {
public:
    explicit RecordingRun(jobs::JobRecorder::Options o)
        : recorder_(
              std::move(o),
              [this](const jobs::RecordedJob& r) {
                  std::unique_lock<std::mutex> lock(mutex_);
                  ++waiting_;
                  changed_.notify_all();
                  changed_.wait(lock, [this] { return !held_; });
                  --waiting_;
                  reports_.push_back(r);
                  changed_.notify_all();
              },
              [this](const std::string& line) {
                  std::lock_guard<std::mutex> lock(mutex_);
                  errors_.push_back(line);
              }) {}
    ~RecordingRun() {
        Release();
        recorder_.finish();
    }

    jobs::JobRecorder& recorder() { return recorder_; }
    jobs::JobRecorder* operator->() { return &recorder_; }

    // open(), expected to succeed.
    void Open() {
        std::string why;
        ASSERT_TRUE(recorder_.open(&why)) << why;
    }

    // From now on a writer's report waits until Release().
    void Hold() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = true;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    // Waits until a writer waits in its report; false when none came within the watchdog.
    bool WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kRecorderWatchdog, [this] { return waiting_ > 0; });
    }
    // Waits until n jobs are reported; false when they did not come within the watchdog.
    bool WaitForReports(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kRecorderWatchdog, [&] { return reports_.size() >= n; });
    }

    std::vector<jobs::RecordedJob> Reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    std::vector<std::string> Errors() {
        std::lock_guard<std::mutex> lock(mutex_);
        return errors_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;  // guarded by mutex_
    int waiting_ = 0;    // writers waiting in their report; guarded by mutex_
    std::vector<jobs::RecordedJob> reports_;
    std::vector<std::string> errors_;
    jobs::JobRecorder recorder_;  // last: its writers end before the rest goes
};

}  // namespace pellory::test
