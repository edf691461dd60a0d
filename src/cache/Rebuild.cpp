#include "cache/Rebuild.h"

#include <atomic>
#include <string_view>
#include <vector>

#include "cache/ByteSource.h"
#include "cache/ChromiumEntry.h"
#include "platform/DirectoryListing.h"
#include "platform/WritableFile.h"

namespace cache {

namespace {

constexpr char kPrefix[] = "body-";

// "body-<pid>-<n>.<ext>" gives pid; 0 for any other name.
int OwnerOf(const char* name, std::size_t length) {
    const std::string_view text(name, length);
    if (text.substr(0, sizeof kPrefix - 1) != kPrefix) {
        return 0;
    }
    long pid = 0;
    std::size_t i = sizeof kPrefix - 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && pid < 100000000; ++i) {
        pid = pid * 10 + (text[i] - '0');
    }
    return i < text.size() && text[i] == '-' ? static_cast<int>(pid) : 0;
}

}  // namespace

bool RebuildPieces(const Entry& entry, const std::string& target) {
    platform::ReadOnlyFile pieces(entry.piecesFile);
    RangeWalk walk;
    if (!pieces.IsOpen() || !WalkChromiumRanges(FileSource(pieces), walk) || walk.ranges.empty()) {
        return false;
    }
    platform::WritableFile out(target);
    if (!out.IsOpen()) {
        return false;
    }
    bool ok = out.SetSize(walk.end);
    for (const ChromiumRange& range : walk.ranges) {
        if (!ok) {
            break;
        }
        ok = out.CopyFrom(pieces, range.fileOffset, range.offset, range.length);
    }
    ok = out.Close() && ok;
    if (!ok) {
        platform::RemoveFile(target);
    }
    return ok;
}

std::string NewTemporaryBodyPath(const std::string& extension) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = platform::PrivateTemporaryFolder();
    if (folder.empty()) {
        return {};
    }
    std::string path = folder + "/" + kPrefix + std::to_string(platform::CurrentProcessId()) + "-" +
                       std::to_string(counter++);
    if (!extension.empty()) {
        path += "." + extension;
    }
    return path;
}

void SweepTemporaryBodies() {
    const std::string folder = platform::PrivateTemporaryFolder();
    if (folder.empty()) {
        return;
    }
    platform::DirectoryListing listing(folder);
    platform::DirectoryEntry entry;
    std::vector<std::string> dead;
    while (listing.Next(entry)) {
        const int pid = OwnerOf(entry.name, entry.nameLength);
        if (pid > 0 && pid != platform::CurrentProcessId() && !platform::ProcessIsAlive(pid)) {
            dead.emplace_back(entry.name, entry.nameLength);
        }
    }
    for (const auto& name : dead) {
        platform::RemoveFile(folder + "/" + name);
    }
}

}  // namespace cache
