#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/Log.h"
#include "support/TempDir.h"

using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

platform::LocalTime At(int millis) {
    platform::LocalTime when;
    when.fields.tm_year = 2011 - 1900;
    when.fields.tm_mon = 7;
    when.fields.tm_mday = 21;
    when.fields.tm_hour = 23;
    when.fields.tm_min = 29;
    when.fields.tm_sec = 28;
    when.millis = static_cast<unsigned short>(millis);
    return when;
}

std::string Format(int millis, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string Format(int millis, const char* format, ...) {
    char buffer[CLog::kBufferSize];
    va_list args;
    va_start(args, format);
    const std::size_t length = CLog::FormatLine(buffer, At(millis), format, args);
    va_end(args);
    EXPECT_EQ(length, std::string(buffer).size());
    return std::string(buffer, length);
}

// Each test gets a fresh logger and leaves none behind.
class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { CLog::DestroyInstance(); }
    void TearDown() override { CLog::DestroyInstance(); }

    std::vector<std::string> lines;
    void CollectLines() {
        CLog::Instance()->OnLog = [this](const char* line) { lines.emplace_back(line); };
    }
};

}  // namespace

TEST(LogLineFormat, PrefixMillisecondsAndLineFeed) {
    EXPECT_EQ(Format(47, "%s", "Application started"),
              "2011-08-21 23:29:28.047 Application started\n");
    EXPECT_EQ(Format(7, "x"), "2011-08-21 23:29:28.007 x\n");
    EXPECT_EQ(Format(999, "x"), "2011-08-21 23:29:28.999 x\n");
    // The empty message still gives the whole prefix, ending in its blank.
    EXPECT_EQ(Format(0, "%s", ""), "2011-08-21 23:29:28.000 \n");
}

TEST(LogLineFormat, MessageIsCutAfter998Characters) {
    const std::string exact(998, 'a');
    const std::string line998 = Format(1, "%s", exact.c_str());
    EXPECT_EQ(line998.size(), 1023u);
    EXPECT_EQ(line998.substr(24, 998), exact);
    EXPECT_EQ(line998.back(), '\n');

    for (std::size_t length : {999u, 1000u, 5000u}) {
        std::string longer(length, 'b');
        longer[997] = 'c';
        const std::string line = Format(1, "%s", longer.c_str());
        EXPECT_EQ(line.size(), 1023u) << length;
        EXPECT_EQ(line[24 + 997], 'c');
        EXPECT_EQ(line[24 + 998], '\n') << "the line feed follows the 998th character directly";
    }
}

TEST(LogLineFormat, ArgumentsArePrintedVerbatim) {
    // Text from outside goes in as an argument: its percent signs are not expanded.
    EXPECT_EQ(Format(5, "%s", "A:  15% %s %d %n").substr(24), "A:  15% %s %d %n\n");
    EXPECT_EQ(Format(5, "%d-%s", -60, "seek").substr(24), "-60-seek\n");
}

TEST_F(LoggerTest, LinesGoToFileAndSinkAndFileIsAppended) {
    TempDir dir;
    const std::string file = dir / "reelvault.log";
    testsupport::WriteFile(file, "earlier run\n");

    ASSERT_EQ(CLog::Instance()->SetLogFile(file), 0);
    CollectLines();
    CLog::Instance()->Log("%s", "first 15%");
    CLog::Instance()->Log("Application started");

    const std::string content = ReadFile(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(content, "earlier run\n" + lines[0] + lines[1]);
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} first 15%\n)")))
        << lines[0];
    EXPECT_EQ(lines[1].substr(24), "Application started\n");
}

TEST_F(LoggerTest, NoFileMeansNothingIsCreatedButTheSinkStillGetsLines) {
    TempDir dir;
    EXPECT_EQ(CLog::Instance()->SetLogFile(""), -1);
    CollectLines();
    CLog::Instance()->Log("hello");
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(LoggerTest, UnwritableFileIsSkippedSilentlyAndRetried) {
    TempDir dir;
    const std::string folder = dir / "ro";
    ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
    const std::string file = folder + "/reelvault.log";
    const bool root = ::geteuid() == 0;  // root writes anywhere; the folder test means nothing then
    if (!root) {
        EXPECT_EQ(CLog::Instance()->SetLogFile(file), -1);
    } else {
        CLog::Instance()->SetLogFile(file);
    }
    CollectLines();
    CLog::Instance()->Log("one");
    EXPECT_EQ(lines.size(), 1u);

    // A path into a missing folder fails for everyone, root included; each line retries.
    const std::string missing = dir / "gone/reelvault.log";
    EXPECT_EQ(CLog::Instance()->SetLogFile(missing), -1);
    CLog::Instance()->Log("two");
    ASSERT_EQ(::mkdir((dir / "gone").c_str(), 0755), 0);
    CLog::Instance()->Log("three");
    EXPECT_EQ(lines.size(), 3u);
    EXPECT_EQ(ReadFile(missing), lines[2]);
}

TEST_F(LoggerTest, DeviceThatFailsEveryWriteStillFeedsTheSink) {
    CLog::Instance()->SetLogFile("/dev/full");
    CollectLines();
    CLog::Instance()->Log("to a full device");
    EXPECT_EQ(lines.size(), 1u);

    // A fifo nobody reads in place of the file: skipped at once, never waited on.
    TempDir dir;
    const std::string fifo = dir / "reelvault.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(CLog::Instance()->SetLogFile(fifo), -1);
    CLog::Instance()->Log("past a fifo");
    EXPECT_EQ(lines.size(), 2u);
}

TEST_F(LoggerTest, LinesFromManyThreadsNeverInterleave) {
    TempDir dir;
    const std::string file = dir / "threads.log";
    CLog::Instance()->SetLogFile(file);
    constexpr int kThreads = 8;
    constexpr int kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string body(100 + t * 50, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                CLog::Instance()->Log("%d %s", t, body.c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::istringstream in(ReadFile(file));
    std::string line;
    int count = 0;
    const std::regex shape(R"(\S+ \S+ (\d) ([a-h]+))");
    while (std::getline(in, line)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line.substr(0, 80);
        const int t = match[1].str()[0] - '0';
        EXPECT_EQ(match[2].str(), std::string(100 + t * 50, static_cast<char>('a' + t)));
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(LoggerTest, DestroyedLoggerIsRecreatedWithoutFileOrSink) {
    TempDir dir;
    CLog::Instance()->SetLogFile(dir / "x.log");
    CollectLines();
    CLog::DestroyInstance();
    CLog::Instance()->Log("after destroy");
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "x.log") && !ReadFile(dir / "x.log").empty());
}
