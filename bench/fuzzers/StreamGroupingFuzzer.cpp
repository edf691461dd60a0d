// The assembly of streams from a cache's entries on arbitrary addresses, types and small
// bodies: every row's pieces come from the entries given and lie inside their bodies,
// consumed entries are real and listed once, present stretches are sorted and disjoint.
//
// Input: lines, each "url \x01 type \x01 size \x01 body" (body with \x02 for a line break).
// The body is what reading the entry gives; sizes above it are kept, as a cache says.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "cache/StreamAssembly.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<cache::Entry> entries;
    std::map<std::size_t, std::string> bodies;
    std::string_view rest = input;
    while (!rest.empty() && entries.size() < 2000) {
        const std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        const auto fields =
            fuzz::SplitFields(reinterpret_cast<const std::uint8_t*>(line.data()), line.size(), 4);
        cache::Entry e;
        e.url = std::string(fields[0]);
        e.contentType = std::string(fields[1]);
        std::string body(fields[3]);
        for (char& c : body) {
            c = c == '\x02' ? '\n' : c;
        }
        std::uint64_t declared = 0;
        std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), declared);
        e.bodySize = std::max<std::uint64_t>(declared, body.size());
        e.complete = declared % 7 != 3;
        e.storage = declared % 5 == 4 ? cache::Storage::Pieces : cache::Storage::Span;
        // No file behind it: whatever opens the body itself finds nothing.
        e.file = "/nonexistent/reelvault-fuzz";
        e.piecesFile = e.file;
        bodies[entries.size()] = std::move(body);
        entries.push_back(std::move(e));
    }
    std::map<const cache::Entry*, std::size_t> indexOf;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        indexOf[&entries[i]] = i;
    }
    const cache::ReadBodyText read = [&](const cache::Entry& e,
                                         std::size_t limit) -> std::optional<std::string> {
        const auto& body = bodies[indexOf.at(&e)];
        if (body.size() > limit) {
            return std::nullopt;
        }
        return body;
    };
    std::size_t probes = 0;
    const cache::ProbeTracks probe = [&](const cache::Entry& e) {
        ++probes;
        const auto n = e.bodySize;
        return cache::TrackProbe{n % 2 == 0, n % 3 == 0, static_cast<double>(n % 50) / 4};
    };
    const auto scan = cache::FindStreams(entries, read, probe);

    for (std::size_t i = 0; i < scan.consumed.size(); ++i) {
        fuzz::Check(scan.consumed[i] < entries.size() &&
                        (i == 0 || scan.consumed[i] > scan.consumed[i - 1]),
                    "consumed entries are real, sorted, once each", {{"input", input}});
    }
    fuzz::Check(probes <= entries.size(), "each entry is probed at most once", {{"input", input}});
    for (const cache::Stream& s : scan.streams) {
        fuzz::Check(!s.tracks.empty() && s.segmentsPresent > 0, "a row holds something",
                    {{"input", input}, {"url", s.url}});
        fuzz::Check(s.segmentsTotal == 0 || s.segmentsPresent <= s.segmentsTotal,
                    "present never exceeds the whole", {{"input", input}, {"url", s.url}});
        for (std::size_t i = 0; i < s.present.size(); ++i) {
            fuzz::Check(s.present[i].first <= s.present[i].second &&
                            (i == 0 || s.present[i].first > s.present[i - 1].second),
                        "present stretches are sorted and disjoint", {{"input", input}});
        }
        std::uint64_t bytes = 0;
        for (const cache::StreamTrack& t : s.tracks) {
            std::vector<const cache::StreamPiece*> pieces;
            if (t.init) {
                pieces.push_back(&*t.init);
            }
            for (const auto& p : t.pieces) {
                pieces.push_back(&p);
            }
            for (const cache::StreamPiece* p : pieces) {
                bytes += p->length;
                bool known = false;
                for (const cache::Entry& e : entries) {
                    known = known || (e.url == p->body.url && e.bodySize == p->body.bodySize);
                }
                fuzz::Check(known && p->length > 0 && p->offset <= p->body.bodySize &&
                                p->length <= p->body.bodySize - p->offset,
                            "a piece lies inside a body of the cache",
                            {{"input", input}, {"piece", p->body.url}});
            }
        }
        fuzz::Check(bytes == s.presentBytes, "the bytes present add up", {{"input", input}});
    }
    return 0;
}
