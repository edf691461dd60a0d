#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "media/MediaFacts.h"
#include "platform/ReadOnlyFile.h"

namespace media {

// What was found out about one file, remembered between runs.
struct Record {
    Facts facts;
    bool thumbnail = false;  // a thumbnail was made (whether it is still there is checked)
};

// The facts of the files seen before, keyed by what tells one version of a file from
// another (device, inode, size, modification time): a file replaced or rewritten is simply
// not found. A small text file of our own, one line per file:
//   device inode size mtime-ns kind duration-ms width height thumbnail video-codec audio-codec
// separated by tabs, kind being "-" (not media), "v" (video) or "a" (audio only). Lines that
// do not read are skipped, so a damaged file costs only the facts it held.
class FactsIndex {
  public:
    // Files beyond this many are forgotten, those unused longest first.
    static constexpr std::size_t kMaxRecords = 100000;
    // A file bigger than this is not ours: it is ignored and later replaced.
    static constexpr std::size_t kMaxFileSize = 32u << 20;

    // Replaces what is held with the records of `text`. Returns how many were read.
    std::size_t Parse(std::string_view text);
    std::string Serialize() const;

    // Reads the file (missing or unreadable: nothing is held) / replaces it atomically.
    std::size_t Load(const std::string& path);
    bool Save(const std::string& path) const;

    const Record* Find(const platform::FileIdentity& identity);
    void Put(const platform::FileIdentity& identity, const Record& record);
    std::size_t Size() const { return records_.size(); }

  private:
    struct Hash {
        std::size_t operator()(const platform::FileIdentity& id) const noexcept;
    };
    struct Held {
        Record record;
        std::uint64_t used = 0;
    };
    std::unordered_map<platform::FileIdentity, Held, Hash> records_;
    std::uint64_t clock_ = 0;
};

}  // namespace media
