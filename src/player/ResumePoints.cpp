#include "player/ResumePoints.h"

#include <algorithm>
#include <charconv>

#include "platform/ExecutableFiles.h"
#include "platform/PathNames.h"
#include "platform/UserFolders.h"
#include "platform/WholeFile.h"

namespace {

constexpr std::string_view kFirstLine = "reelvault positions 1\n";
constexpr long kMaxTenths = 366L * 24 * 3600 * 10;

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && !text.empty();
}

}  // namespace

std::string ResumePoints::DefaultPath() {
    return platform::XdgBaseFolder(platform::XdgFolder::kState) + "/reelvault/positions";
}

void ResumePoints::Parse(std::string_view text) {
    records_.clear();
    if (text.substr(0, kFirstLine.size()) != kFirstLine) {
        return;
    }
    text.remove_prefix(kFirstLine.size());
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            break;  // a last line without its end was cut short
        }
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        std::string_view fields[5];
        std::size_t count = 0;
        for (; count < 5 && !line.empty(); ++count) {
            const std::size_t tab = line.find('\t');
            fields[count] = line.substr(0, tab);
            line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
        }
        Point point;
        platform::FileIdentity& id = point.identity;
        if (count == 5 && line.empty() && ParseNumber(fields[0], id.device) &&
            ParseNumber(fields[1], id.inode) && ParseNumber(fields[2], id.size) &&
            ParseNumber(fields[3], id.lastWriteTimeNs) && ParseNumber(fields[4], point.tenths) &&
            point.tenths > 0 && point.tenths <= kMaxTenths) {
            Forget(id);
            records_.push_back(point);
        }
    }
    if (records_.size() > kMaxRecords) {
        records_.erase(records_.begin(), records_.end() - static_cast<std::ptrdiff_t>(kMaxRecords));
    }
}

std::string ResumePoints::Serialize() const {
    std::string text(kFirstLine);
    for (const Point& p : records_) {
        const platform::FileIdentity& id = p.identity;
        text += std::to_string(id.device) + '\t' + std::to_string(id.inode) + '\t' +
                std::to_string(id.size) + '\t' + std::to_string(id.lastWriteTimeNs) + '\t' +
                std::to_string(p.tenths) + '\n';
    }
    return text;
}

void ResumePoints::Load(const std::string& path) {
    std::string text;
    if (!platform::ReadWholeFile(path, kMaxFileSize, text)) {
        records_.clear();
        return;
    }
    Parse(text);
}

bool ResumePoints::Save(const std::string& path) const {
    return platform::MakeFolders(platform::FolderOf(path)) &&
           platform::ReplaceWholeFile(path, Serialize(), 0600, platform::Durability::kCache);
}

double ResumePoints::Find(const platform::FileIdentity& identity) const {
    const auto found = std::find_if(records_.begin(), records_.end(),
                                    [&](const Point& p) { return p.identity == identity; });
    return found == records_.end() ? 0 : static_cast<double>(found->tenths) / 10;
}

bool ResumePoints::Leave(const platform::FileIdentity& identity, double seconds, double length) {
    const bool nearEnd = length > 0 && seconds > length - kMargin;
    if (!(seconds >= kMargin) || nearEnd || seconds * 10 > kMaxTenths) {
        return Forget(identity);
    }
    Forget(identity);
    records_.push_back({identity, static_cast<long>(seconds * 10)});
    if (records_.size() > kMaxRecords) {
        records_.erase(records_.begin());
    }
    return true;
}

bool ResumePoints::Forget(const platform::FileIdentity& identity) {
    return std::erase_if(records_, [&](const Point& p) { return p.identity == identity; }) > 0;
}
