#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/FileEdges.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Text(std::span<const unsigned char> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string Numbered(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('a' + i % 26);
    }
    return text;
}

// One batch over files as a scan meets them: small and read whole, large and read at both
// ends, empty, shrunk since the listing, gone, and a fifo put in a file's place, which must
// not hold the batch (nor the next one) past the reader's patience.
TEST(FileEdges, OneBatchReadsWhatIsThereAndGivesUpOnWhatIsNot) {
    testsupport::TempDir dir;
    const std::string small = Numbered(100);
    const std::string large = Numbered(100000);
    std::ofstream(dir.path() + "/small") << small;
    std::ofstream(dir.path() + "/large") << large;
    std::ofstream(dir.path() + "/empty");
    std::ofstream(dir.path() + "/shrunk") << "short";
    ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);

    platform::DirectoryListing folder(dir.path());
    platform::EdgeReader reader(folder, 1000, 64, 32, std::chrono::milliseconds(300));
    if (!reader.Available()) {
        GTEST_SKIP() << "no io_uring on this system: the scan reads file by file";
    }
    struct Case {
        const char* name;
        std::uint64_t size;
        bool read;
        std::string head;
        std::string tail;
    };
    const std::vector<Case> cases = {
        {"small", 100, true, small, ""},
        {"large", 100000, true, large.substr(0, 64), large.substr(100000 - 32)},
        {"empty", 0, true, "", ""},
        {"shrunk", 5000, false, "", ""},
        {"gone", 10, false, "", ""},
        {"fifo", 10, false, "", ""},
    };
    std::vector<platform::EdgeReader::File> files;
    for (const Case& c : cases) {
        files.push_back({c.name, c.size});
    }
    const auto start = Clock::now();
    reader.Read(files);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_FALSE(reader.Of(i).read) << cases[i].name;
    }

    // The fifo called the whole batch off; without it the same files come in one go.
    files.pop_back();
    reader.Read(files);
    ASSERT_TRUE(reader.Available());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Case& c = cases[i];
        const auto& edges = reader.Of(i);
        EXPECT_EQ(edges.read, c.read) << c.name;
        if (c.read) {
            EXPECT_EQ(Text(edges.head), c.head) << c.name;
            EXPECT_EQ(Text(edges.tail), c.tail) << c.name;
        }
    }
}

}  // namespace
