// A job recorder run by a test: its reports and error lines kept, and a gate that holds its writers
// in their report until the test lets them go (so that jobs wait in its queue as long as the test
// wants). The including test links the jobs module.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_folder_lock.h"
#include "jobs/job_recorder.h"

namespace pellory::test {

// How long a test waits for the writers at most; only a hang comes near it.
inline constexpr std::chrono::seconds kRecorderWatchdog(30);

// Waits until done() is true, in steps of 10 ms; false when the watchdog ran out first.
inline bool WaitUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + kRecorderWatchdog;
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
        if (it->path().filename() != jobs::kLockFileName) names.push_back(it->path().filename().string());
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
                  reports.push_back(r);
              },
              [this](const std::string& line) {
                  std::lock_guard<std::mutex> lock(mutex_);
                  errors.push_back(line);
              }) {}
    ~RecordingRun() {
        Release();
        recorder_.finish();
    }

    jobs::JobRecorder* operator->() { return &recorder_; }
    void Open() {
        std::string why;
        ASSERT_TRUE(recorder_.open(&why)) << why;
    }
    // From now on a writer's report waits until Release().
    void Hold() { Set(true); }
    void Release() { Set(false); }
    // Waits until a writer waits in its report; false when none came within the watchdog.
    bool WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kRecorderWatchdog, [this] { return waiting_ > 0; });
    }

    // Read once the recorder has finished (or under no writer's report).
    std::vector<jobs::RecordedJob> reports;
    std::vector<std::string> errors;

private:
    void Set(bool held) {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = held;
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;           // guarded by mutex_
    int waiting_ = 0;             // writers waiting in their report; guarded by mutex_
    jobs::JobRecorder recorder_;  // last: its writers end before the rest goes
};

}  // namespace pellory::test
