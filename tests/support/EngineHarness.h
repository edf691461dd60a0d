#pragma once

// Shared by the engine's tests: a stand-in for the user interface thread (the test's main
// thread pumps the hand-offs), a collector of logged lines, and views of the process's
// descriptors and children.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "log/Log.h"
#include "platform/Synchronize.h"
#include "platform/Thread.h"

namespace testsupport {

// The test's main thread plays the user interface thread.
class UiLoop {
  public:
    UiLoop() {
        platform::SetSynchronizeHook([this] {
            std::lock_guard<std::mutex> guard(lock);
            woken = true;
            wake.notify_all();
        });
    }
    ~UiLoop() { platform::SetSynchronizeHook(nullptr); }

    // Runs hand-offs until `done` holds or `timeout` has passed; returns `done()`.
    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            platform::RunSynchronized();
            if (done()) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::unique_lock<std::mutex> guard(lock);
            wake.wait_for(guard, std::chrono::milliseconds(2), [this] { return woken; });
            woken = false;
        }
    }

    // Runs hand-offs for `span`, whatever happens.
    void PumpFor(std::chrono::milliseconds span) {
        PumpUntil([] { return false; }, span);
    }

    bool PumpUntilNoThreads(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return PumpUntil([] { return platform::LiveThreadCount() == 0; }, timeout);
    }

  private:
    std::mutex lock;
    std::condition_variable wake;
    bool woken = false;
};

// Collects the messages the logger receives (without the timestamp and line feed).
class LogLines {
  public:
    LogLines() {
        CLog::Instance()->OnLog = [this](const char* line) {
            std::string text(line);
            text = text.substr(CLog::kPrefixLength);
            if (!text.empty() && text.back() == '\n') {
                text.pop_back();
            }
            std::lock_guard<std::mutex> guard(lock);
            lines.push_back(std::move(text));
        };
    }
    ~LogLines() { CLog::Instance()->OnLog = nullptr; }

    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(lock);
        return lines;
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> guard(lock);
        return lines.size();
    }
    bool Contains(const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        for (const auto& line : lines) {
            if (line == text) {
                return true;
            }
        }
        return false;
    }

  private:
    std::mutex lock;
    std::vector<std::string> lines;
};

inline int OpenDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// Children of this process, zombies included: "pid state" for each.
inline std::vector<std::string> ChildProcesses() {
    std::vector<std::string> children;
    const std::string self = std::to_string(::getpid());
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        if (!std::getline(in, stat)) {
            continue;
        }
        // pid (comm) state ppid ...; comm may hold blanks, so parse after the last ')'.
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(stat.substr(close + 1));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid == self) {
            children.push_back(entry.path().filename().string() + " " + state);
        }
    }
    return children;
}

}  // namespace testsupport
