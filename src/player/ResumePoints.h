#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ReadOnlyFile.h"

// Where the user left each file, so that the next play starts there. Keyed as the media
// facts are, by what tells one version of a file from another (device, inode, size,
// modification time): a file rewritten since starts from its beginning again. Kept in a
// small text file of our own, one line per file, least recently left first:
//   device inode size mtime-ns tenths-of-a-second
// separated by tabs. Lines that do not read are skipped.
class ResumePoints {
  public:
    static constexpr std::size_t kMaxRecords = 1000;
    static constexpr std::size_t kMaxFileSize = 256u << 10;
    // Not worth resuming: the first seconds, and the last ones before the end.
    static constexpr double kMargin = 5;

    // Where the file's default lives: $XDG_STATE_HOME/reelvault/positions.
    static std::string DefaultPath();

    void Parse(std::string_view text);
    std::string Serialize() const;
    // Reads the file once (missing, unreadable or too big: nothing is held).
    void Load(const std::string& path);
    bool Save(const std::string& path) const;

    // Seconds to start the file at, or 0.
    double Find(const platform::FileIdentity& identity) const;
    // The file was left at `seconds` of `length` (0: unknown). Too near either end, it
    // is forgotten instead. Both say whether anything changed, that is, whether to save.
    bool Leave(const platform::FileIdentity& identity, double seconds, double length);
    bool Forget(const platform::FileIdentity& identity);
    std::size_t Size() const { return records_.size(); }

  private:
    struct Point {
        platform::FileIdentity identity;
        long tenths = 0;
    };
    std::vector<Point> records_;  // least recently left first
};
