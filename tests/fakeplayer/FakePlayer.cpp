// A stand-in for the real player in the engine's tests. It is started exactly as the real
// one (same options); its last argument names a script instead of a video. It records its
// arguments to "<script>.argv" (each followed by a zero byte) and every byte it reads on
// standard input to "<script>.stdin", then runs the script, one directive a line:
//
//   out TEXT       one write of TEXT to standard output (escapes: \n \r \t \0 \\ \xHH)
//   err TEXT       the same on standard error
//   sleep MS       pause MS milliseconds (so that the writes around it arrive apart)
//   burst BYTES    BYTES of numbered 64-byte lines ("burst 00000000 ...") in large writes
//   unbroken BYTES BYTES of text without a line break ("0123456789" over and over) in
//                  large writes
//   ignore-quit    from now on a "quit" line is recorded but not obeyed
//   wait-line TEXT wait until TEXT has been read as a whole line on standard input
//   end            exit with 0 (the end of the file)
//   exit CODE      exit at once with CODE
//   abort | segv   crash
//   spawn-sleeper  start a child that keeps our output and sleeps; its pid goes to
//                  "<script>.sleeper" (a player that leaves a helper behind)
//   spawn-stubborn-sleeper  the same, but the child ignores SIGTERM
//   spawn-stubborn-stray    a child that ignores SIGTERM and holds none of our pipes
//                  (its standard streams on /dev/null): nothing tells that it is left
//   stop-reading   from now on standard input is no longer read (a stopped player, or
//                  one blocked opening a fifo): the engine's writes fill the pipe
//
// After the last directive it waits for "quit" (or for a signal when quit is ignored).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <cerrno>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> ignoreQuit{false};
std::atomic<bool> deaf{false};
std::mutex linesLock;
std::condition_variable lineArrived;
std::multiset<std::string> linesSeen;

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        switch (c) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case '0':
                out += '\0';
                break;
            case 'x':
                out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

// Written under another name and renamed, so that a test polling for the file never
// reads it half-written.
void RecordArguments(const std::string& file, int argc, char** argv) {
    const std::string partial = file + ".partial";
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (int i = 0; i < argc; ++i) {
        WriteAll(fd, argv[i], std::strlen(argv[i]) + 1);
    }
    ::close(fd);
    ::rename(partial.c_str(), file.c_str());
}

// Records standard input byte for byte and obeys "quit".
void ReadCommands(std::string recordFile) {
    const int record = ::open(recordFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    std::string pending;
    char buffer[4096];
    for (;;) {
        while (deaf.load()) {
            ::pause();
        }
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // like the real player, the end of input is not the end of playback
        }
        WriteAll(record, buffer, static_cast<std::size_t>(n));
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t lf; (lf = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, lf);
            pending.erase(0, lf + 1);
            if (line == "quit" && !ignoreQuit.load()) {
                static const char bye[] = "\nExiting... (Quit)\n";
                WriteAll(STDOUT_FILENO, bye, sizeof bye - 1);
                ::_exit(0);
            }
            std::lock_guard<std::mutex> guard(linesLock);
            linesSeen.insert(line);
            lineArrived.notify_all();
        }
    }
}

void Burst(long bytes) {
    std::string chunk;
    long written = 0;
    for (long n = 0; written < bytes; ++n) {
        char number[16];
        std::snprintf(number, sizeof number, "%08ld", n % 100000000);
        // "burst NNNNNNNN " and zeros up to 63 characters, then the line feed.
        chunk += "burst ";
        chunk += number;
        chunk += ' ';
        chunk.append(48, '0');
        chunk += '\n';
        written += 64;
        if (chunk.size() >= 65536) {
            WriteAll(STDOUT_FILENO, chunk.data(), chunk.size());
            chunk.clear();
        }
    }
    WriteAll(STDOUT_FILENO, chunk.data(), chunk.size());
}

void Unbroken(long bytes) {
    std::string chunk;
    for (int i = 0; i < 65536; ++i) {
        chunk += static_cast<char>('0' + i % 10);
    }
    for (long left = bytes; left > 0;) {
        const std::size_t size = static_cast<std::size_t>(std::min<long>(left, 65536));
        WriteAll(STDOUT_FILENO, chunk.data(), size);
        left -= static_cast<long>(size);
    }
}

}  // namespace

#if defined(REELVAULT_TSAN)
// ThreadSanitizer waits a second before a program with a live thread exits, to catch
// races at exit. The stand-in always ends with its input reader still running, so each
// start would cost the engine's tests a second (200 start/stop cycles: four minutes);
// races at the stand-in's own exit are of no interest to them.
extern "C" const char* __tsan_default_options() {
    return "atexit_sleep_ms=0";
}
#endif

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fakeplayer [options] SCRIPT\n");
        return 2;
    }
    const std::string script = argv[argc - 1];
    RecordArguments(script + ".argv", argc, argv);

    std::vector<std::string> directives;
    std::ifstream in(script);
    for (std::string line; std::getline(in, line);) {
        directives.push_back(line);
    }
    // A script that starts by ignoring "quit" must do so before the first command is read.
    if (!directives.empty() && directives.front() == "ignore-quit") {
        ignoreQuit = true;
    }
    // Likewise, a script that starts deaf never reads a byte.
    if (!directives.empty() && directives.front() == "stop-reading") {
        deaf = true;
    }
    std::thread(ReadCommands, script + ".stdin").detach();

    for (const std::string& line : directives) {
        const std::size_t blank = line.find(' ');
        const std::string word = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (word == "out" || word == "err") {
            const std::string text = Unescape(rest);
            WriteAll(word == "out" ? STDOUT_FILENO : STDERR_FILENO, text.data(), text.size());
        } else if (word == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(rest)));
        } else if (word == "burst") {
            Burst(std::stol(rest));
        } else if (word == "unbroken") {
            Unbroken(std::stol(rest));
        } else if (word == "ignore-quit") {
            ignoreQuit = true;
        } else if (word == "wait-line") {
            std::unique_lock<std::mutex> guard(linesLock);
            lineArrived.wait(guard, [&] { return linesSeen.count(rest) > 0; });
        } else if (word == "stop-reading") {
            deaf = true;
        } else if (word == "spawn-sleeper" || word == "spawn-stubborn-sleeper" ||
                   word == "spawn-stubborn-stray") {
            // The pid is published only once the child is set up, so that a test never
            // signals it while it still takes SIGTERM.
            int ready[2];
            if (::pipe(ready) != 0) {
                return 3;
            }
            const pid_t sleeper = ::fork();
            if (sleeper == 0) {
                if (word != "spawn-sleeper") {
                    ::signal(SIGTERM, SIG_IGN);
                }
                if (word == "spawn-stubborn-stray") {
                    const int null = ::open("/dev/null", O_RDWR);
                    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
                        ::dup2(null, stream);
                    }
                }
                ::close(ready[0]);
                ::close(ready[1]);
                for (;;) {
                    ::pause();
                }
            }
            ::close(ready[1]);
            char none;
            while (::read(ready[0], &none, 1) < 0 && errno == EINTR) {
            }
            ::close(ready[0]);
            const std::string pid = std::to_string(sleeper);
            std::ofstream(script + ".sleeper") << pid;
        } else if (word == "end") {
            ::_exit(0);
        } else if (word == "exit") {
            ::_exit(std::stoi(rest));
        } else if (word == "abort") {
            std::abort();
        } else if (word == "segv") {
            ::raise(SIGSEGV);
        }
    }
    for (;;) {
        ::pause();
    }
}
