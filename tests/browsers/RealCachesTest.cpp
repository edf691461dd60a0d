// The program pointed at caches that Debian's Chromium and Firefox ESR wrote (made by
// make-browser-caches.sh): it lists exactly the videos the page loaded, and for each of
// them the stand-in player receives arguments from which the served bytes read back
// exactly: at the `-sb` offset of a Chromium entry file, from a Firefox entry file as it
// is, or from the file a pieced entry was rebuilt into. Each adaptive stream is one row,
// played and copied as one joined file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/FormMain.h"
#include "app/ProgramWindows.h"
#include "app/QtSynchronize.h"
#include "app/ScreenSizeProvider.h"
#include "browser/CachedFilesModel.h"
#include "browser/FormMediaBrowser.h"
#include "browser/ScanWait.h"
#include "browsers/ServedFiles.h"
#include "platform/Thread.h"
#include "support/EngineHarness.h"
#include "support/FakePlayerRecord.h"
#include "support/MediaClips.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using testsupport::PathOf;
using testsupport::ReadFile;
using testsupport::Served;
using testsupport::WriteFile;

namespace {

const std::string kFixture = REELVAULT_BROWSER_CACHES;

struct CacheCase {
    const char* name;    // the folder make-browser-caches.sh made
    const char* folder;  // what CacheDir names, below it
    bool firefox;
    bool open;           // copied while the browser ran
    int minimalKB = -1;  // the settings' minimal file size; -1: the default
};

void PrintTo(const CacheCase& c, std::ostream* os) {
    *os << c.name;
}

class RealCachesTest : public ::testing::TestWithParam<CacheCase> {
  protected:
    testsupport::TempDir dir;
    std::string cache;
    std::map<std::string, Served> files;

    void SetUp() override {
        if (!fs::exists(kFixture + "/stamp")) {
            GTEST_SKIP() << "no browser caches in " << kFixture << " (a browser missing?)";
        }
        files = testsupport::ReadServedFiles(kFixture);
        ASSERT_FALSE(files.empty());
        // Rebuilt bodies go to a private folder of this test's own.
        ::setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
        fs::create_directories(dir / "runtime");
        fs::permissions(dir / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        // A copy: the stand-in player leaves its record beside the file it is given.
        fs::copy(kFixture + "/" + GetParam().name, dir / "cache", fs::copy_options::recursive);
        cache = dir / "cache/" + GetParam().folder;

        QApplication::setApplicationName("Reelvault");
        QApplication::setQuitOnLastWindowClosed(false);
        InstallScreenSizeProvider();
        InstallQtSynchronize();
        QCursor::setPos(0, 0);
        const int minimal = GetParam().minimalKB;
        WriteFile(dir / "reelvault.ini",
                  "[frmMain]\nAppWidth=900\nAppHeight=600\nAppPositionX=0\nAppPositionY=0\n"
                  "Maximized=0\n[Logging]\nLogToFile=0\n[Mplayer]\nInstance=" +
                      std::string(FAKEPLAYER) + "\n[Opera]\nCacheDir=" + cache + "\n" +
                      (minimal < 0 ? "" : "MinimalFileSize=" + std::to_string(minimal) + "\n"));
        CreateProgramWindows({dir / "reelvault.ini", dir / "reelvault.log"});
        frmMain->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frmMain));
    }

    void TearDown() override {
        if (frmMain != nullptr) {
            EXPECT_TRUE(DestroyProgramWindows());
        }
        EXPECT_TRUE(testsupport::ChildProcesses().empty());
    }

    std::uint64_t Sent(const Served& s) const { return s.SentTo(GetParam().firefox); }

    // Every "<file>.argv" the stand-in player has left anywhere in the test's folder.
    std::vector<std::string> Records() const {
        std::vector<std::string> found;
        for (const auto& item : fs::recursive_directory_iterator(dir.path())) {
            if (item.path().extension() == ".argv") {
                found.push_back(item.path());
            }
        }
        return found;
    }

    // Clicks row `row` of the list, then Play; the arguments the player was started with.
    std::vector<std::string> Play(int row) {
        auto* view = frmMediaBrowser->lvCachedFiles;
        const QRect rect = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseClick(frmMain->btnPlay, Qt::LeftButton);
        std::vector<std::string> records;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !(records = Records()).empty(); }, 10000));
        if (records.size() != 1) {
            ADD_FAILURE() << records.size() << " player records";
            return {};
        }
        const std::vector<std::string> argv = testsupport::SplitZeros(ReadFile(records[0]));
        fs::remove(records[0]);
        return argv;
    }

    void Stop() {
        QTest::mouseClick(frmMain->btnStop, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([] { return platform::LiveThreadCount() == 0; }, 10000));
    }

    // URL path -> row, each path listed once.
    std::map<std::string, int> Rows() {
        frmMediaBrowser->Rescan();
        EXPECT_TRUE(browsertest::WaitForScan(*frmMediaBrowser));
        const auto& scanner = frmMediaBrowser->scanner;
        std::map<std::string, int> rowOf;
        for (std::size_t i = 0; i < scanner.entries.size(); ++i) {
            const std::string path = PathOf(scanner.Describe(scanner.entries[i]).url);
            EXPECT_TRUE(rowOf.emplace(path, static_cast<int>(i)).second) << path << " listed twice";
        }
        return rowOf;
    }
};

TEST_P(RealCachesTest, ListsExactlyTheVideosAndHandsThePlayerTheirBytes) {
    const std::map<std::string, int> rowOf = Rows();
    const auto& scanner = frmMediaBrowser->scanner;

    for (const auto& [path, s] : files) {
        SCOPED_TRACE(s.urlPath);
        const auto row = rowOf.find(s.urlPath);
        // The rows of the streams are checked by tests of their own.
        if (!s.stream.empty()) {
            continue;
        }
        if (!s.video) {
            EXPECT_TRUE(row == rowOf.end()) << "not a video, but listed";
            continue;
        }
        // A download dropped half way is kept while the browser runs; after a clean
        // close the browser may have let it go.
        if (s.mode == "stall" && !GetParam().open && row == rowOf.end()) {
            continue;
        }
        ASSERT_TRUE(row != rowOf.end()) << "a video not listed";
        const cache::Entry entry = scanner.Describe(scanner.entries[row->second]);
        EXPECT_EQ(entry.contentType, s.contentType);
        const bool whole = s.mode != "stall";
        EXPECT_EQ(entry.complete, whole);
        const std::uint64_t expected = whole ? s.bytes.size() : Sent(s);

        const std::vector<std::string> argv = Play(row->second);
        ASSERT_GE(argv.size(), 2u);
        const std::string file = argv.back();
        std::uint64_t offset = 0;
        const auto sb = std::find(argv.begin(), argv.end(), "-sb");
        if (sb != argv.end()) {
            ASSERT_EQ(sb + 2, argv.end() - 1) << "-sb <offset> is not just before the file";
            offset = std::stoull(*(sb + 1));
            EXPECT_FALSE(GetParam().firefox);
            EXPECT_EQ(file, entry.file);
        }
        const std::string bytes = ReadFile(file);
        ASSERT_GE(bytes.size(), offset + expected);
        EXPECT_TRUE(bytes.compare(offset, expected, s.bytes, 0, expected) == 0)
            << "the player does not read the served bytes from " << file << " at " << offset;
        if (entry.storage == cache::Storage::Pieces) {
            EXPECT_EQ(bytes.size(), s.bytes.size()) << "a rebuilt body of another length";
            EXPECT_EQ(sb, argv.end());
            EXPECT_NE(file, entry.file);
        }
        Stop();
        if (entry.storage == cache::Storage::Pieces) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !fs::exists(file); }, 5000))
                << "the rebuilt body outlived its playback";
        }
    }
}

// The seconds and the kinds of stream ("video audio") that ffprobe reads in `file`.
std::pair<double, std::string> Probe(const std::string& file) {
    std::string out;
    EXPECT_EQ(testsupport::RunProgram(
                  {"ffprobe", "-v", "error", "-show_entries", "format=duration:stream=codec_type",
                   "-of", "default=noprint_wrappers=1", file},
                  &out),
              0)
        << out;
    std::istringstream lines(out);
    double seconds = 0;
    std::string kinds;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("codec_type=", 0) == 0) {
            kinds += (kinds.empty() ? "" : " ") + line.substr(11);
        } else if (line.rfind("duration=", 0) == 0) {
            seconds = std::strtod(line.c_str() + 9, nullptr);
        }
    }
    return {seconds, kinds};
}

using RealStreamsTest = RealCachesTest;

TEST_P(RealStreamsTest, EachStreamIsOneRowPlayedAndCopiedJoined) {
    struct StreamCase {
        const char* stream;  // make-streams.py's kind
        const char* type;
        bool concatenated;  // played as its segments one after the other
    };
    const StreamCase streams[] = {{"hls-ts", "HLS stream", true},
                                  {"hls-fmp4", "HLS stream", false},
                                  {"dash", "DASH stream", false},
                                  {"dash-ondemand", "DASH stream", false}};
    const std::map<std::string, int> rowOf = Rows();
    const auto& scanner = frmMediaBrowser->scanner;
    std::size_t streamRows = 0;
    for (const auto& [path, row] : rowOf) {
        streamRows +=
            scanner.Describe(scanner.entries[static_cast<std::size_t>(row)]).stream != nullptr;
        const auto served = files.find(path);
        EXPECT_TRUE(served == files.end() || served->second.stream.empty() ||
                    served->second.role == "master" || served->second.role == "mpd")
            << path << ", a " << served->second.role << " of a stream, is a row of its own";
    }
    std::size_t present = 0;
    for (const StreamCase& c : streams) {
        SCOPED_TRACE(c.stream);
        // What the cache holds of it (Firefox keeps no reply to a byte range), and the
        // row it is listed as: its master playlist's or manifest's.
        std::string top;
        std::uint64_t bytes = 0;
        std::map<std::pair<std::string, int>, const std::string*> segments;
        for (const auto& [path, s] : files) {
            if (s.stream != c.stream) {
                continue;
            }
            if (s.role == "master" || s.role == "mpd") {
                top = path;
            } else if (s.role != "playlist" && !(GetParam().firefox && s.role == "track")) {
                bytes += s.bytes.size();
                if (s.role == "segment") {
                    segments[{s.track, s.order}] = &s.bytes;
                }
            }
        }
        const auto row = rowOf.find(top);
        if (bytes == 0) {
            EXPECT_TRUE(row == rowOf.end()) << "listed with nothing of it cached";
            continue;
        }
        ++present;
        ASSERT_TRUE(row != rowOf.end()) << "not listed at " << top;
        const cache::Entry entry =
            scanner.Describe(scanner.entries[static_cast<std::size_t>(row->second)]);
        EXPECT_EQ(entry.contentType, c.type);
        EXPECT_EQ(entry.bodySize, bytes) << "not the size of its bodies";

        const std::vector<std::string> argv = Play(row->second);
        ASSERT_FALSE(argv.empty());
        const std::string file = argv.back();
        EXPECT_EQ(file.rfind(dir / "runtime/", 0), 0u) << file << " not private";
        std::string joined;
        for (const auto& segment : segments) {
            joined += *segment.second;
        }
        EXPECT_TRUE(c.concatenated ? ReadFile(file) == joined : fs::exists(file))
            << "the player is not given the segments joined in " << file;
        Stop();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !fs::exists(file); }, 5000))
            << "the joined file outlived its playback";

        // Copy file to... from the list's menu, saved under the name it proposes.
        const fs::path copies = fs::path(dir / "copies") / c.stream;
        fs::create_directories(copies);
        frmMediaBrowser->dialogs.chooseCopyTarget = [&] {
            return QString::fromStdString(copies / frmMediaBrowser->proposedCopyName.toStdString());
        };
        auto* view = frmMediaBrowser->lvCachedFiles;
        const QPoint at = view->viewport()->mapTo(
            frmMain, view->visualRect(view->model()->index(row->second, 0)).center());
        QTest::mouseClick(frmMain->windowHandle(), Qt::RightButton, {}, at);
        QMenu* menu = frmMediaBrowser->PopupMenu;
        ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
        QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {},
                          menu->actionGeometry(frmMediaBrowser->miCopyFile).center());
        std::vector<fs::path> saved;
        for (const auto& item : fs::directory_iterator(copies)) {
            saved.push_back(item.path());
        }
        ASSERT_EQ(saved.size(), 1u);
        EXPECT_EQ(saved[0].extension(), ".mp4");
        const auto [seconds, kinds] = Probe(saved[0]);
        EXPECT_NEAR(seconds, 20.0, 1.0);
        EXPECT_EQ(kinds, "video audio");
        std::printf("%s %s: row of %llu bytes; copied %s: %.2f s, %s\n", GetParam().name, c.stream,
                    static_cast<unsigned long long>(entry.bodySize), saved[0].filename().c_str(),
                    seconds, kinds.c_str());
    }
    EXPECT_EQ(streamRows, present) << "stream rows besides the streams";
    EXPECT_EQ(present, GetParam().firefox ? 3u : 4u);
}

std::string CaseName(const ::testing::TestParamInfo<CacheCase>& param) {
    std::string name = param.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return param.param.minimalKB < 0 ? name
                                     : name + "_minimal_" + std::to_string(param.param.minimalKB);
}

INSTANTIATE_TEST_SUITE_P(Browsers, RealCachesTest,
                         ::testing::Values(CacheCase{"chromium", "Cache_Data", false, false},
                                           CacheCase{"chromium-open", "Cache_Data", false, true},
                                           CacheCase{"firefox", "cache2", true, false}),
                         CaseName);
// The streams' parts are small: at a minimal size of 0 they must still not be rows.
INSTANTIATE_TEST_SUITE_P(Browsers, RealStreamsTest,
                         ::testing::Values(CacheCase{"chromium", "Cache_Data", false, false},
                                           CacheCase{"firefox", "cache2", true, false},
                                           CacheCase{"chromium-open", "Cache_Data", false, true, 0},
                                           CacheCase{"firefox", "cache2", true, false, 0}),
                         CaseName);

}  // namespace
