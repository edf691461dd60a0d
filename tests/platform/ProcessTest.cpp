#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "platform/Synchronize.h"
#include "platform/Thread.h"
#include "support/EngineHarness.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;

namespace {

// Field `index` (1-based, after the command name) of /proc/<pid>/stat.
std::string StatField(pid_t pid, int index) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 0; i < index; ++i) {
        rest >> field;
    }
    return field;
}

struct Pipes {
    platform::PipeEnd inRead = platform::kNoPipe, inWrite = platform::kNoPipe;
    platform::PipeEnd outRead = platform::kNoPipe, outWrite = platform::kNoPipe;
    Pipes() {
        EXPECT_TRUE(platform::CreatePipe(inRead, inWrite));
        EXPECT_TRUE(platform::CreatePipe(outRead, outWrite));
    }
    void CloseChildEnds() {
        platform::ClosePipe(inRead);
        platform::ClosePipe(outWrite);
        inRead = outWrite = platform::kNoPipe;
    }
    ~Pipes() {
        for (auto end : {inRead, inWrite, outRead, outWrite}) {
            platform::ClosePipe(end);
        }
    }
    std::string ReadAll() {
        std::string text;
        char buffer[256];
        for (long n; (n = platform::ReadPipe(outRead, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
};

TEST(Process, ArgumentsArriveUnsplitAndBothStreamsShareOnePipe) {
    Pipes pipes;
    const std::vector<std::string> argv = {
        "sh", "-c", "printf '%s|' \"$@\"; echo err >&2; cat", "x", "a b", "$HOME", "", "-n"};
    auto child = platform::SpawnProcess(argv, pipes.inRead, pipes.outWrite);
    ASSERT_TRUE(child);
    pipes.CloseChildEnds();
    ASSERT_TRUE(platform::WritePipe(pipes.inWrite, "in\n", 3));
    platform::ClosePipe(pipes.inWrite);
    pipes.inWrite = platform::kNoPipe;
    EXPECT_EQ(pipes.ReadAll(), "a b|$HOME||-n|err\nin\n");
    const int status = child->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(child->HasEnded());
    EXPECT_FALSE(child->Terminate()) << "a reaped child is never signalled";
}

TEST(Process, ChildRunsInItsOwnSessionWithDefaultSignals) {
    Pipes pipes;
    // SIGPIPE ignored here must not be ignored in the child: "yes" dies of it.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    auto child = platform::SpawnProcess({"sleep", "30"}, pipes.inRead, pipes.outWrite);
    auto yes = platform::SpawnProcess({"yes"}, pipes.inRead, pipes.outWrite);
    sigaction(SIGPIPE, &previous, nullptr);
    ASSERT_TRUE(child);
    ASSERT_TRUE(yes);
    pipes.CloseChildEnds();
    EXPECT_EQ(StatField(child->Pid(), 4), std::to_string(child->Pid())) << "session id";
    platform::ClosePipe(pipes.outRead);
    pipes.outRead = platform::kNoPipe;
    const int yesStatus = yes->Wait();
    EXPECT_TRUE(WIFSIGNALED(yesStatus) && WTERMSIG(yesStatus) == SIGPIPE);
    EXPECT_TRUE(child->Terminate());
    const int status = child->Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
}

// A player catches SIGTERM; stopped, it would hold the signal until something continued
// it (and Wait would wait for ever).
TEST(Process, AStoppedChildIsTerminatedAllTheSame) {
    Pipes pipes;
    auto child = platform::SpawnProcess({"sh", "-c", "trap 'exit 3' TERM; kill -STOP $$; sleep 30"},
                                        pipes.inRead, pipes.outWrite);
    ASSERT_TRUE(child);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child->Pid()), &info, WSTOPPED), 0);
    EXPECT_TRUE(child->Terminate());
    const int status = child->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
}

TEST(Process, ChildIsTerminatedWhenItsStarterGoes) {
    Pipes pipes;
    platform::ProcessHandle child;
    std::thread([&] {
        child = platform::SpawnProcess({"sleep", "30"}, pipes.inRead, pipes.outWrite);
    }).join();
    ASSERT_TRUE(child);
    const int status = child->Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
}

TEST(Process, FailedStartsLeaveNothingBehind) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "plain", "not a program");
    const int fds = testsupport::OpenDescriptorCount();
    {
        Pipes pipes;
        for (const std::vector<std::string>& argv : {std::vector<std::string>{},
                                                     {""},
                                                     {dir / "missing"},
                                                     {dir / "plain"},
                                                     {dir.path()},
                                                     {"no-such-program-anywhere"}}) {
            EXPECT_FALSE(platform::SpawnProcess(argv, pipes.inRead, pipes.outWrite))
                << (argv.empty() ? "(empty)" : argv[0]);
        }
    }
    EXPECT_EQ(testsupport::OpenDescriptorCount(), fds);
    EXPECT_TRUE(testsupport::ChildProcesses().empty());
}

TEST(Process, ExecutableLookup) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "plain", "x");
    EXPECT_FALSE(platform::FindExecutable("sh").empty());
    EXPECT_EQ(platform::FindExecutable("/bin/sh"), "/bin/sh");
    EXPECT_EQ(platform::FindExecutable(dir / "plain"), "") << "not executable";
    EXPECT_EQ(platform::FindExecutable(""), "");
    EXPECT_TRUE(platform::ExecutableExists("sh"));
    EXPECT_TRUE(platform::ExecutableExists(dir / "plain")) << "a path only has to exist";
    EXPECT_FALSE(platform::ExecutableExists(dir / "missing"));
    EXPECT_FALSE(platform::ExecutableExists(dir.path())) << "a folder is no player";
    EXPECT_FALSE(platform::ExecutableExists("no-such-program-anywhere"));
    EXPECT_FALSE(platform::ExecutableExists(""));
}

TEST(Process, WritingToAGoneReaderFailsWithoutSigpipe) {
    platform::PipeEnd readEnd, writeEnd;
    ASSERT_TRUE(platform::CreatePipe(readEnd, writeEnd));
    platform::ClosePipe(readEnd);
    EXPECT_FALSE(platform::WritePipe(writeEnd, "quit\n", 5));  // would kill us otherwise
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    platform::ClosePipe(writeEnd);
}

class Recorder final : public platform::Thread {
  public:
    Recorder(std::vector<int>& order, std::atomic<int>& deleted)
        : order_(order), deleted_(deleted) {
        Start();
    }

  private:
    ~Recorder() override { ++deleted_; }
    void Execute() override {
        for (int i = 0; i < 3; ++i) {
            platform::Synchronize([this, i] { order_.push_back(i); });
        }
    }
    std::vector<int>& order_;
    std::atomic<int>& deleted_;
};

TEST(Thread, HandOffsRunOnTheWaitingThreadAndTheThreadDeletesItself) {
    std::vector<int> order;  // touched only on this thread, inside the hand-offs
    std::atomic<int> deleted{0};
    new Recorder(order, deleted);
    new Recorder(order, deleted);
    EXPECT_TRUE(platform::WaitForThreads(10s));
    EXPECT_EQ(deleted.load(), 2);
    EXPECT_EQ(order.size(), 6u);
    EXPECT_EQ(platform::LiveThreadCount(), 0);
}

}  // namespace
