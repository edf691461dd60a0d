// The whole program under a private Xvfb, with the stand-in player as its instance: a
// player that ignores "quit", the program killed outright, a log that cannot be written,
// and odd command-line arguments. The program runs from a folder of its own, as an
// unpacked copy would, with its settings file beside it.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Process.h"
#include "support/FakePlayerRecord.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::ReadFile;
using testsupport::SplitZeros;
using testsupport::WriteFile;

namespace {

constexpr uid_t kNobody = 65534;

bool PollFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Live (not zombie) processes, with their parent and arguments.
struct ProcessInfo {
    pid_t pid;
    pid_t parent;
    std::vector<std::string> argv;
};

std::vector<ProcessInfo> LiveProcesses() {
    std::vector<ProcessInfo> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string stat = ReadFile(entry.path() / "stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        rest >> state >> parent;
        if (state != "Z") {
            found.push_back(
                {std::stoi(name), parent, SplitZeros(ReadFile(entry.path() / "cmdline"))});
        }
    }
    return found;
}

// Stand-in players whose last argument is `path`, whoever started them.
std::vector<pid_t> PlayersOf(const std::string& path) {
    std::vector<pid_t> pids;
    for (const ProcessInfo& p : LiveProcesses()) {
        if (p.argv.size() > 1 && p.argv.back() == path &&
            fs::path(p.argv.front()).filename() == "fakeplayer") {
            pids.push_back(p.pid);
        }
    }
    return pids;
}

std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> pids;
    for (const ProcessInfo& p : LiveProcesses()) {
        if (p.parent == parent) {
            pids.push_back(p.pid);
        }
    }
    return pids;
}

// One private X server for the whole run; every program started here draws on it. It must
// not reset when its last client leaves (as a killed program does): a program started
// during the reset cannot connect.
class XvfbEnvironment : public ::testing::Environment {
  public:
    static inline bool available = false;

    void SetUp() override {
        // Run on a display with a window manager (OnDisplay.sh), the test takes that one.
        if (std::getenv("REELVAULT_TEST_WM") != nullptr && std::getenv("DISPLAY") != nullptr) {
            available = true;
            return;
        }
        const std::string xvfb = platform::FindExecutable("Xvfb");
        if (xvfb.empty()) {
            return;
        }
        for (int n = 140; n < 220 && server <= 0; ++n) {
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            if (fs::exists("/tmp/.X" + std::to_string(n) + "-lock") || fs::exists(socket)) {
                continue;
            }
            const std::string display = ":" + std::to_string(n);
            server = ::fork();
            if (server == 0) {
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, STDOUT_FILENO);
                ::dup2(null, STDERR_FILENO);
                ::execl(xvfb.c_str(), "Xvfb", display.c_str(), "-screen", "0", "1024x768x24",
                        "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            available = PollFor([&] { return fs::exists(socket); }, 5s);
            if (available) {
                ::setenv("DISPLAY", display.c_str(), 1);
                ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            }
        }
    }
    void TearDown() override {
        if (server > 0) {
            ::kill(server, SIGTERM);
            ::waitpid(server, nullptr, 0);
        }
    }

  private:
    pid_t server = 0;
};

[[maybe_unused]] auto* const xvfb = ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

// A copy of the program in a folder of its own, with the stand-in player beside it.
class Program {
  public:
    explicit Program(const std::string& extraSettings = "") {
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
        fs::copy_file(REELVAULT_PROGRAM, exe);
        fs::copy_file(FAKEPLAYER, player);
        fs::create_directory(dir / "cache");
        WriteFile(ini, "[Mplayer]\nInstance=" + player + "\n[Opera]\nCacheDir=" + (dir / "cache") +
                           "\n[Logging]\nLogToFile=1\n" + extraSettings);
    }
    ~Program() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        for (const ProcessInfo& p : LiveProcesses()) {
            if (!p.argv.empty() && p.argv.front() == player) {
                ::kill(p.pid, SIGKILL);
            }
        }
    }

    // Starts the program with `args`; as the unprivileged user when `asNobody`, with the
    // extra `environment` ("NAME=value").
    void Start(const std::vector<std::string>& args, bool asNobody = false,
               const std::vector<std::string>& environment = {}) {
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        const std::string output = dir / "output.txt";
        pid = ::fork();
        if (pid == 0) {
            const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            for (const std::string& e : environment) {
                ::putenv(const_cast<char*>(e.c_str()));
            }
            if (asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 ||
                             ::setuid(kNobody) != 0)) {
                ::_exit(126);
            }
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        started = Clock::now();
    }

    bool Running() {
        if (pid <= 0) {
            return false;
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            exitStatus = status;
            ended = Clock::now();
            pid = 0;
            return false;
        }
        return true;
    }

    bool LogSays(const std::string& text) {
        return ReadFile(dir / "reelvault.log").find(text) != std::string::npos;
    }

    // Asks the window to close as a window manager's close button does, and waits at
    // most `bound` for the program to end. The time it took goes to `took`.
    bool CloseAndWait(std::chrono::milliseconds bound, std::chrono::milliseconds& took) {
        const bool asked = PollFor(
            [&] {
                return !Running() ||
                       std::system((std::string(CLOSE_WINDOW) + " Reelvault").c_str()) == 0;
            },
            10s);
        const auto closeTime = Clock::now();
        if (!asked || !PollFor([&] { return !Running(); }, bound)) {
            return false;
        }
        took = std::chrono::duration_cast<std::chrono::milliseconds>(ended - closeTime);
        return true;
    }

    std::string Output() { return ReadFile(dir / "output.txt"); }

    testsupport::TempDir dir;
    const std::string exe = dir / "reelvault";
    const std::string player = dir / "fakeplayer";
    const std::string ini = dir / "reelvault.ini";
    pid_t pid = 0;
    int exitStatus = -1;
    Clock::time_point started, ended;
};

// The arguments the stand-in player recorded for `script`: empty until it has started.
std::vector<std::string> RecordedArguments(const std::string& script) {
    return SplitZeros(ReadFile(script + ".argv"));
}

bool PlayerStarted(const std::string& script) {
    return PollFor([&] { return fs::exists(script + ".argv"); }, 10s);
}

class ProgramFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!XvfbEnvironment::available) {
            GTEST_SKIP() << "Xvfb missing: the program needs an X server";
        }
    }
};

void ExpectNormalEnd(Program& program, std::chrono::milliseconds bound,
                     std::chrono::milliseconds& took) {
    ASSERT_TRUE(program.CloseAndWait(bound, took))
        << "still running " << bound.count() << " ms after the close; output:\n"
        << program.Output();
    EXPECT_TRUE(WIFEXITED(program.exitStatus) && WEXITSTATUS(program.exitStatus) == 0)
        << "status " << program.exitStatus << "; output:\n"
        << program.Output();
}

// At close the program says "quit", waits a bounded time and then ends the player itself.
TEST_F(ProgramFaults, PlayerIgnoringQuitIsEndedAtClose) {
    Program program;
    const std::string script = program.dir / "stubborn.flv";
    WriteFile(script, "ignore-quit\nout playing\\n\n");
    program.Start({script});
    ASSERT_TRUE(PlayerStarted(script)) << program.Output();
    std::chrono::milliseconds took{};
    ExpectNormalEnd(program, 8s, took);
    std::printf("closed with a player ignoring quit in %lld ms\n",
                static_cast<long long>(took.count()));
    EXPECT_LT(took, 5s);
    EXPECT_TRUE(PlayersOf(script).empty()) << "the player outlived the program";
    // "quit" at the close of the window, and again when the program winds down.
    EXPECT_EQ(ReadFile(script + ".stdin").rfind("quit\n", 0), 0u);
}

// Esc while a file plays closes the program, also when the player has been stopped
// (SIGSTOP) and so neither reads "quit" nor dies of SIGTERM until it is continued.
TEST_F(ProgramFaults, EscEndsTheProgramAndAStoppedPlayer) {
    if (platform::FindExecutable("xdotool").empty()) {
        GTEST_SKIP() << "xdotool missing";
    }
    Program program;
    const std::string script = program.dir / "stopped.flv";
    WriteFile(script, "out playing\\n\n");
    program.Start({script});
    std::vector<pid_t> players;
    ASSERT_TRUE(PollFor([&] { return (players = PlayersOf(script)).size() == 1; }, 10s));
    const char* focus = "xdotool search --onlyvisible --name '^Reelvault$' windowfocus --sync";
    ASSERT_TRUE(PollFor([&] { return std::system(focus) == 0; }, 10s)) << program.Output();
    ASSERT_EQ(::kill(players.front(), SIGSTOP), 0);
    ASSERT_EQ(std::system("xdotool key --clearmodifiers Escape"), 0);
    const auto pressed = Clock::now();
    EXPECT_TRUE(PollFor([&] { return !program.Running() && PlayersOf(script).empty(); }, 2s))
        << "program or player still there 2 s after Esc; output:\n"
        << program.Output();
    std::printf(
        "program and stopped player gone %lld ms after Esc\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed).count()));
    EXPECT_NE(ReadFile(program.ini).find("Maximized=0"), std::string::npos)
        << "settings not written";
}

// Signals while a file plays: SIGTERM, SIGINT and SIGHUP (the terminal closed) close the
// program the normal way (settings written); SIGKILL allows no clean-up, yet the player
// still goes with it.
TEST_F(ProgramFaults, SignalledProgramTakesThePlayerAlong) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(::strsignal(signal));
        Program program;
        const std::string script = program.dir / "playing.flv";
        WriteFile(script, "out playing\\n\n");
        program.Start({script});
        ASSERT_TRUE(PlayerStarted(script)) << program.Output();
        ASSERT_TRUE(PollFor([&] { return PlayersOf(script).size() == 1; }, 5s));
        ::kill(program.pid, signal);
        const auto sent = Clock::now();
        ASSERT_TRUE(PollFor([&] { return !program.Running(); }, 5s));
        EXPECT_TRUE(PollFor([&] { return PlayersOf(script).empty(); }, 3s))
            << "the player outlived the program";
        std::printf("%s: player gone %lld ms after the signal\n", ::strsignal(signal),
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent)
                            .count()));
        if (signal == SIGKILL) {
            EXPECT_TRUE(WIFSIGNALED(program.exitStatus));
            continue;
        }
        EXPECT_TRUE(WIFEXITED(program.exitStatus) && WEXITSTATUS(program.exitStatus) == 0)
            << program.Output();
        EXPECT_NE(ReadFile(program.ini).find("Maximized=0"), std::string::npos)
            << "settings not written";
        EXPECT_EQ(ReadFile(script + ".stdin").rfind("quit\n", 0), 0u) << "no quit sent";
    }
}

// A termination signal while the first show waits for the missing player's warning ends
// the program: the box goes, the settings are written, no window or process is left.
TEST_F(ProgramFaults, TerminationDuringTheMissingPlayerWarningEndsTheProgram) {
    if (platform::FindExecutable("xdotool").empty()) {
        GTEST_SKIP() << "xdotool missing";
    }
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal));
        Program program;
        WriteFile(program.ini, "[Mplayer]\nInstance=" + (program.dir / "no-player-here") +
                                   "\n[Logging]\nLogToFile=1\n");
        program.Start({});
        // The warning is the only window shown: the main window waits behind it.
        ASSERT_TRUE(PollFor(
            [] {
                return std::system(
                           "xdotool search --onlyvisible --name '^Reelvault$' "
                           ">/dev/null 2>&1") == 0;
            },
            10s))
            << program.Output();
        ::kill(program.pid, signal);
        ASSERT_TRUE(PollFor([&] { return !program.Running(); }, 5s))
            << "still running after the signal; output:\n"
            << program.Output();
        EXPECT_TRUE(WIFEXITED(program.exitStatus) && WEXITSTATUS(program.exitStatus) == 0)
            << program.Output();
        EXPECT_NE(ReadFile(program.ini).find("Maximized=0"), std::string::npos)
            << "settings not written";
        EXPECT_EQ(std::system("xdotool search --onlyvisible --name '^Reelvault$' >/dev/null 2>&1"),
                  256)
            << "a window is left";
    }
}

// A log that cannot be written changes nothing else: the program starts, plays, closes
// and writes its settings. (The log window's lines are the logger's tests' business.)
TEST_F(ProgramFaults, UnwritableLogChangesNothingElse) {
    struct Case {
        const char* name;
        bool asNobody;
    };
    for (const Case c : {Case{"log linked to /dev/full", false},
                         Case{"folders that are read-only to the user", true}}) {
        SCOPED_TRACE(c.name);
        Program program;
        const std::string media = program.dir / "media";
        fs::create_directory(media);
        const std::string script = media + "/clip.flv";
        WriteFile(script, "out playing\\n\n");
        std::vector<std::string> environment;
        std::string settingsFile = program.ini;
        if (c.asNobody) {
            // The program's folder and the fallback log folder are root's; only the
            // settings folder and the media folder belong to the user.
            const std::string config = program.dir / "config";
            const std::string state = program.dir / "state";
            fs::create_directories(config + "/reelvault");
            fs::create_directories(state);
            settingsFile = config + "/reelvault/reelvault.ini";
            fs::rename(program.ini, settingsFile);
            for (const std::string& owned : {config, config + "/reelvault", settingsFile, media}) {
                ASSERT_EQ(::chown(owned.c_str(), kNobody, kNobody), 0);
            }
            environment = {"XDG_CONFIG_HOME=" + config, "XDG_STATE_HOME=" + state,
                           "HOME=/nonexistent"};
            if (::geteuid() != 0) {
                GTEST_SKIP() << "needs root to run the program as another user";
            }
        } else {
            fs::create_symlink("/dev/full", program.dir / "reelvault.log");
        }
        program.Start({script}, c.asNobody, environment);
        ASSERT_TRUE(PlayerStarted(script)) << program.Output();
        EXPECT_EQ(RecordedArguments(script).back(), script);
        std::chrono::milliseconds took{};
        ExpectNormalEnd(program, 5s, took);
        EXPECT_TRUE(PlayersOf(script).empty());
        EXPECT_NE(ReadFile(settingsFile).find("Maximized=0"), std::string::npos)
            << "settings not written at close";
        EXPECT_FALSE(fs::exists(program.dir / "state/reelvault/reelvault.log"));
    }
}

// Whatever the one argument names, the program starts, hands it to the player as one
// argument (or plays nothing for the empty string), and closes.
TEST_F(ProgramFaults, OddCommandLineArguments) {
    struct Case {
        const char* name;
        std::function<std::string(const std::string& dir)> make;  // returns the argument
        std::chrono::milliseconds bound;  // the fifo's player never reads "quit"
    };
    const Case cases[] = {
        {"missing file", [](const std::string& d) { return d + "/missing.avi"; }, 2s},
        {"folder",
         [](const std::string& d) {
             fs::create_directory(d + "/folder");
             return d + "/folder";
         },
         2s},
        {"fifo",
         [](const std::string& d) {
             ::mkfifo((d + "/fifo").c_str(), 0600);
             return d + "/fifo";
         },
         6s},
        {"not UTF-8",
         [](const std::string& d) {
             WriteFile(d + "/caf\xe9 \xff.flv", "out playing\\n\n");
             return d + "/caf\xe9 \xff.flv";
         },
         2s},
        {"empty string", [](const std::string&) { return std::string(); }, 2s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Program program;
        const std::string argument = c.make(program.dir.path());
        program.Start({argument});
        ASSERT_TRUE(PollFor([&] { return program.LogSays("Application started"); }, 10s))
            << program.Output();
        if (argument.empty()) {
            std::this_thread::sleep_for(300ms);
            EXPECT_TRUE(ChildrenOf(program.pid).empty()) << "a player was started";
        } else {
            ASSERT_TRUE(PlayerStarted(argument)) << program.Output();
            EXPECT_EQ(RecordedArguments(argument).back(), argument);
        }
        std::chrono::milliseconds took{};
        ExpectNormalEnd(program, c.bound, took);
        std::printf("%s: closed in %lld ms\n", c.name, static_cast<long long>(took.count()));
        EXPECT_TRUE(PlayersOf(argument).empty());
    }
}

}  // namespace
