#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cache/CacheEntry.h"
#include "support/MediaClips.h"
#include "support/TempDir.h"

namespace mediatest {

// The clips of StandardClips(), made once for the whole test program, with the bad ones
// beside them: MP4s cut in half, random bytes and an empty file.
class Clips {
  public:
    static Clips& Get() {
        static Clips clips;
        return clips;
    }
    std::string Path(const std::string& name) const { return folder_ / name; }
    const std::string& Folder() const { return folder_.path(); }
    bool Made() const { return made_; }

  private:
    testsupport::TempDir folder_;
    bool made_ = true;

    Clips() {
        for (const testsupport::Clip& clip : testsupport::StandardClips()) {
            made_ = made_ && testsupport::MakeClip(folder_.path(), clip);
        }
        for (const char* name : {"faststart.mp4", "indexlast.mp4"}) {
            const std::string whole = testsupport::ReadFile(Path(name));
            testsupport::WriteFile(Path(std::string("cut-") + name),
                                   whole.substr(0, whole.size() / 2));
        }
        testsupport::WriteFile(Path("random.bin"), testsupport::RandomBytes(1 << 20, 7));
        testsupport::WriteFile(Path("empty.bin"), "");
    }
};

inline cache::Entry WholeEntry(const std::string& path) {
    cache::Entry entry;
    entry.file = path;
    entry.bodySize = testsupport::ReadFile(path).size();
    return entry;
}

// The body of `source` stored as a cache stores it: behind a header of its own and before
// a trailer, both of bytes that would confuse a reader that saw them.
inline cache::Entry SpanEntry(const std::string& source, const std::string& target) {
    const std::string body = testsupport::ReadFile(source);
    const std::string header = "\x30\x5c\x72\xa8" + testsupport::RandomBytes(4093, 1) + "ftyp";
    testsupport::WriteFile(target, header + body + "moov" + testsupport::RandomBytes(700, 2));
    cache::Entry entry;
    entry.file = target;
    entry.format = cache::Format::Chromium;
    entry.storage = cache::Storage::Span;
    entry.bodyOffset = header.size();
    entry.bodySize = body.size();
    return entry;
}

inline std::unique_ptr<cache::BodyReader> Open(const cache::Entry& entry) {
    auto reader = cache::OpenBody(entry);
    EXPECT_TRUE(reader) << entry.file;
    return reader;
}

}  // namespace mediatest
