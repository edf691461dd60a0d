#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/ExecutableFiles.h"
#include "support/TempDir.h"

using platform::ChangeFileExt;
using platform::FileBesideExecutable;
using platform::XdgFolder;
using testsupport::TempDir;

namespace {

TEST(ExecutableFiles, ChangeFileExt) {
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"/opt/rv/reelvault", "/opt/rv/reelvault.ini"},
        {"/opt/rv/Reelvault.exe", "/opt/rv/Reelvault.ini"},
        {"/opt/rv.d/reelvault", "/opt/rv.d/reelvault.ini"},
        {"/opt/rv/x.tar.gz", "/opt/rv/x.tar.ini"},
        {"/opt/rv/.hidden", "/opt/rv/.hidden.ini"},
        {"reelvault", "reelvault.ini"},
        {"/opt/rv/trailing.", "/opt/rv/trailing.ini"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChangeFileExt(c.path, ".ini"), c.expected) << c.path;
    }
}

TEST(ExecutableFiles, ExecutablePathIsThisProgram) {
    const std::string path = platform::ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(std::filesystem::path(path).filename(), "platform_test");
}

TEST(ExecutableFiles, BesideAWritableExecutable) {
    TempDir dir;
    EXPECT_EQ(FileBesideExecutable(dir / "reelvault", ".ini", XdgFolder::kConfig),
              dir / "reelvault.ini");
}

// Restores an environment variable when the test ends.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = ::getenv(name)) {
            old_ = old;
            had_ = true;
        }
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { had_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(ExecutableFiles, FallsBackToXdgFolders) {
    TempDir dir;
    const std::string unwritable = "/proc/no-such-folder/reelvault";
    {
        ScopedEnv config("XDG_CONFIG_HOME", (dir / "cfg").c_str());
        ScopedEnv state("XDG_STATE_HOME", (dir / "st").c_str());
        EXPECT_EQ(FileBesideExecutable(unwritable, ".ini", XdgFolder::kConfig),
                  dir / "cfg/reelvault/reelvault.ini");
        EXPECT_EQ(FileBesideExecutable(unwritable, ".log", XdgFolder::kState),
                  dir / "st/reelvault/reelvault.log");
        EXPECT_TRUE(std::filesystem::is_directory(dir / "cfg/reelvault"));
        EXPECT_TRUE(std::filesystem::is_directory(dir / "st/reelvault"));
    }
    {
        // Unset or relative XDG variables mean the defaults under $HOME.
        ScopedEnv home("HOME", dir.path().c_str());
        ScopedEnv config("XDG_CONFIG_HOME", "relative/cfg");
        ScopedEnv state("XDG_STATE_HOME", nullptr);
        EXPECT_EQ(FileBesideExecutable(unwritable, ".ini", XdgFolder::kConfig),
                  dir / ".config/reelvault/reelvault.ini");
        EXPECT_EQ(FileBesideExecutable("", ".log", XdgFolder::kState),
                  dir / ".local/state/reelvault/reelvault.log");
        EXPECT_TRUE(std::filesystem::is_directory(dir / ".local/state/reelvault"));
    }
}

}  // namespace
