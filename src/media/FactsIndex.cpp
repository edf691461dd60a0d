#include "media/FactsIndex.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "platform/WholeFile.h"

namespace media {

namespace {

constexpr std::string_view kFirstLine = "reelvault facts 1\n";
constexpr std::size_t kFields = 11;
constexpr std::size_t kMaxCodecName = 32;

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && !text.empty();
}

// Codec names are ours, but the file is not: nothing that could break a line or a field
// comes back out of it.
bool CleanName(std::string_view text) {
    return text.size() <= kMaxCodecName &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

std::string CleanedName(const std::string& name) {
    std::string out;
    for (const char c : name.substr(0, kMaxCodecName)) {
        out += c >= 0x20 && c < 0x7f ? c : '?';
    }
    return out;
}

bool ParseLine(std::string_view line, platform::FileIdentity& id, Record& record) {
    std::string_view fields[kFields];
    std::size_t count = 0;
    while (count < kFields) {
        const std::size_t tab = line.find('\t');
        fields[count++] = line.substr(0, tab);
        if (tab == std::string_view::npos) {
            break;
        }
        line.remove_prefix(tab + 1);
        if (count == kFields) {
            return false;  // more fields than a line has
        }
    }
    if (count != kFields) {
        return false;
    }
    Facts& f = record.facts;
    int thumbnail = 0;
    if (!ParseNumber(fields[0], id.device) || !ParseNumber(fields[1], id.inode) ||
        !ParseNumber(fields[2], id.size) || !ParseNumber(fields[3], id.lastWriteTimeNs) ||
        !ParseNumber(fields[5], f.durationMs) || !ParseNumber(fields[6], f.width) ||
        !ParseNumber(fields[7], f.height) || !ParseNumber(fields[8], thumbnail) ||
        !CleanName(fields[9]) || !CleanName(fields[10]) || f.durationMs < -1 || f.width < 0 ||
        f.height < 0 || (thumbnail != 0 && thumbnail != 1)) {
        return false;
    }
    if (fields[4] == "v") {
        f.kind = Kind::Video;
    } else if (fields[4] == "a") {
        f.kind = Kind::AudioOnly;
    } else if (fields[4] == "-") {
        f.kind = Kind::NotMedia;
    } else {
        return false;
    }
    f.videoCodec = std::string(fields[9]);
    f.audioCodec = std::string(fields[10]);
    record.thumbnail = thumbnail == 1;
    return true;
}

}  // namespace

std::size_t FactsIndex::Hash::operator()(const platform::FileIdentity& id) const noexcept {
    std::uint64_t h = id.inode * 0x9E3779B97F4A7C15ULL;
    h ^= id.device + 0x632BE59BD9B4E019ULL + (h << 6) + (h >> 2);
    h ^= static_cast<std::uint64_t>(id.size) + (h << 6) + (h >> 2);
    h ^= static_cast<std::uint64_t>(id.lastWriteTimeNs) + (h << 6) + (h >> 2);
    return static_cast<std::size_t>(h);
}

std::size_t FactsIndex::Parse(std::string_view text) {
    records_.clear();
    clock_ = 0;
    if (text.substr(0, kFirstLine.size()) != kFirstLine) {
        return 0;
    }
    text.remove_prefix(kFirstLine.size());
    while (!text.empty() && records_.size() < kMaxRecords) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            break;  // a last line without its end was cut short
        }
        platform::FileIdentity id;
        Record record;
        if (ParseLine(text.substr(0, end), id, record)) {
            records_[id] = Held{record, ++clock_};
        }
        text.remove_prefix(end + 1);
    }
    return records_.size();
}

std::string FactsIndex::Serialize() const {
    std::vector<std::pair<const platform::FileIdentity*, const Held*>> kept;
    kept.reserve(records_.size());
    for (const auto& [id, held] : records_) {
        kept.emplace_back(&id, &held);
    }
    // Oldest use first, so that the order of use survives the next load.
    std::sort(kept.begin(), kept.end(),
              [](const auto& a, const auto& b) { return a.second->used < b.second->used; });
    if (kept.size() > kMaxRecords) {
        kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(kMaxRecords));
    }
    std::string text(kFirstLine);
    for (const auto& [id, held] : kept) {
        const Facts& f = held->record.facts;
        const char* kind = f.kind == Kind::Video ? "v" : f.kind == Kind::AudioOnly ? "a" : "-";
        text += std::to_string(id->device) + '\t' + std::to_string(id->inode) + '\t' +
                std::to_string(id->size) + '\t' + std::to_string(id->lastWriteTimeNs) + '\t' +
                kind + '\t' + std::to_string(f.durationMs) + '\t' + std::to_string(f.width) + '\t' +
                std::to_string(f.height) + '\t' + (held->record.thumbnail ? "1" : "0") + '\t' +
                CleanedName(f.videoCodec) + '\t' + CleanedName(f.audioCodec) + '\n';
    }
    return text;
}

std::size_t FactsIndex::Load(const std::string& path) {
    std::string text;
    if (!platform::ReadWholeFile(path, kMaxFileSize, text)) {
        records_.clear();
        return 0;
    }
    return Parse(text);
}

bool FactsIndex::Save(const std::string& path) const {
    return platform::ReplaceWholeFile(path, Serialize(), 0600, platform::Durability::kCache);
}

const Record* FactsIndex::Find(const platform::FileIdentity& identity) {
    const auto found = records_.find(identity);
    if (found == records_.end()) {
        return nullptr;
    }
    found->second.used = ++clock_;
    return &found->second.record;
}

void FactsIndex::Put(const platform::FileIdentity& identity, const Record& record) {
    records_[identity] = Held{record, ++clock_};
}

}  // namespace media
