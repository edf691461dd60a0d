// DASH manifests (ISO/IEC 23009-1): Periods of AdaptationSets of Representations, whose
// segments a SegmentTemplate, a SegmentList or a SegmentBase names.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cache/HttpHead.h"
#include "cache/ManifestSupport.h"
#include "cache/Stream.h"
#include "cache/XmlTree.h"

namespace cache {

namespace {

using xml::Element;

// Wider than any 64-bit number: a width past it only pads with zeros.
constexpr std::size_t kMaxFormatWidth = 20;

// An ISO 8601 duration ("PT1H2M3.5S", "P1DT2H"); years and months as 365 and 30 days.
std::optional<double> ParseDuration(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\n')) {
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() != 'P') {
        return std::nullopt;
    }
    text.remove_prefix(1);
    double total = 0;
    bool time = false;
    bool any = false;
    while (!text.empty() && text.front() != ' ' && text.front() != '\n') {
        if (text.front() == 'T') {
            time = true;
            text.remove_prefix(1);
            continue;
        }
        double value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                                  std::chars_format::fixed);
        if (error != std::errc() || end == text.data() + text.size() || value < 0) {
            return std::nullopt;
        }
        const char unit = *end;
        text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
        double scale = 0;
        if (unit == 'Y' && !time) {
            scale = 365 * 86400.0;
        } else if (unit == 'M') {
            scale = time ? 60 : 30 * 86400.0;
        } else if (unit == 'W' && !time) {
            scale = 7 * 86400.0;
        } else if (unit == 'D' && !time) {
            scale = 86400;
        } else if (unit == 'H' && time) {
            scale = 3600;
        } else if (unit == 'S' && time) {
            scale = 1;
        } else {
            return std::nullopt;
        }
        total += value * scale;
        any = true;
    }
    if (!any || !std::isfinite(total) || total > 3.2e9) {
        return std::nullopt;
    }
    return total;
}

// "first-last", both included.
std::optional<std::pair<std::uint64_t, std::uint64_t>> ParseRange(std::string_view text) {
    const std::size_t dash = text.find('-');
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (dash == std::string_view::npos || !ParseDecimal(text.substr(0, dash), first) ||
        !ParseDecimal(text.substr(dash + 1), last) || last < first || last == UINT64_MAX) {
        return std::nullopt;
    }
    return std::pair(first, last - first + 1);
}

// One kind of segment addressing (SegmentTemplate, SegmentList or SegmentBase) as the
// Period, the AdaptationSet and the Representation give it: attributes and children are
// taken from the most specific level that has them.
struct Levels {
    const xml::Document* doc = nullptr;
    std::vector<const Element*> chain;  // most specific first; never empty when used

    std::optional<std::string> Attribute(std::string_view name) const {
        for (const Element* e : chain) {
            if (std::optional<std::string> v = doc->Attribute(*e, name)) {
                return v;
            }
        }
        return std::nullopt;
    }
    std::uint64_t Number(std::string_view name, std::uint64_t fallback) const {
        std::uint64_t value = 0;
        const std::optional<std::string> text = Attribute(name);
        return text && ParseDecimal(*text, value) ? value : fallback;
    }
    const Element* Child(std::string_view name) const {
        for (const Element* e : chain) {
            if (const Element* c = doc->Child(*e, name)) {
                return c;
            }
        }
        return nullptr;
    }
};

struct Context {
    const xml::Document* doc = nullptr;
    std::string base;  // the BaseURL chain resolved down to the Representation
    std::string id;
    std::uint64_t bandwidth = 0;
    double periodStart = 0;
    std::optional<double> periodLength;
    std::uint32_t period = 0;
    manifest::ResultBudget* budget = nullptr;
};

// A SegmentTemplate's address for one segment; nullopt when the template is malformed
// (unknown identifier, unclosed "$", a format other than %0<width>d or a width past
// kMaxFormatWidth).
std::optional<std::string> Expand(std::string_view pattern, const Context& c, std::uint64_t number,
                                  std::uint64_t time) {
    std::string out;
    while (!pattern.empty()) {
        const std::size_t open = pattern.find('$');
        out.append(pattern.substr(0, open));
        if (open == std::string_view::npos) {
            break;
        }
        const std::size_t close = pattern.find('$', open + 1);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view id = pattern.substr(open + 1, close - open - 1);
        pattern.remove_prefix(close + 1);
        if (id.empty()) {
            out += '$';
            continue;
        }
        std::size_t width = 1;
        const std::size_t percent = id.find('%');
        if (percent != std::string_view::npos) {
            const std::string_view format = id.substr(percent);
            id = id.substr(0, percent);
            std::uint64_t w = 0;
            if (format.size() < 4 || format.substr(0, 2) != "%0" || format.back() != 'd' ||
                !ParseDecimal(format.substr(2, format.size() - 3), w) || w > kMaxFormatWidth ||
                id == "RepresentationID") {
                return std::nullopt;
            }
            width = std::max<std::size_t>(1, w);
        }
        std::uint64_t value = 0;
        if (id == "RepresentationID") {
            out += c.id;
            continue;
        }
        if (id == "Number") {
            value = number;
        } else if (id == "Time") {
            value = time;
        } else if (id == "Bandwidth") {
            value = c.bandwidth;
        } else {
            return std::nullopt;
        }
        const std::string digits = std::to_string(value);
        out.append(width > digits.size() ? width - digits.size() : 0, '0');
        out += digits;
        if (out.size() > manifest::kMaxUrlBytes) {
            return std::nullopt;
        }
    }
    return out;
}

// Walks a SegmentTimeline: calls `each(time, duration)` for every segment in order until
// it returns false, at most kMaxSegmentsPerRendition times. `end` is the period's end in
// the timeline's units, where known: what an S with r="-1" repeats up to.
void WalkTimeline(const xml::Document& doc, const Element& timeline, std::optional<double> end,
                  const std::function<bool(std::uint64_t, std::uint64_t)>& each) {
    const std::vector<const Element*> entries = doc.Children(timeline, "S");
    std::uint64_t t = 0;
    std::size_t calls = 0;
    const auto number = [&](const Element& s, std::string_view name) {
        std::uint64_t v = 0;
        const std::optional<std::string> text = doc.Attribute(s, name);
        return text && ParseDecimal(*text, v) ? std::optional(v) : std::nullopt;
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        t = number(*entries[i], "t").value_or(t);
        const std::uint64_t d = number(*entries[i], "d").value_or(0);
        if (d == 0) {
            continue;
        }
        std::uint64_t count = 1;
        const std::optional<std::string> r = doc.Attribute(*entries[i], "r");
        if (r && r->substr(0, 1) == "-") {
            const std::optional<std::uint64_t> next =
                i + 1 < entries.size() ? number(*entries[i + 1], "t") : std::nullopt;
            const double until = next ? static_cast<double>(*next) : end.value_or(0);
            if (until > static_cast<double>(t)) {
                count = static_cast<std::uint64_t>(std::min(
                    std::ceil((until - static_cast<double>(t)) / static_cast<double>(d)), 1e18));
            }
        } else if (r) {
            std::uint64_t repeats = 0;
            count = ParseDecimal(*r, repeats) ? std::min<std::uint64_t>(repeats, UINT64_MAX - 1) + 1
                                              : 1;
        }
        for (std::uint64_t k = 0; k < count; ++k) {
            if (++calls > kMaxSegmentsPerRendition || !each(t, d) || t > UINT64_MAX - d) {
                return;
            }
            t += d;
        }
    }
}

// Adds a segment unless its address is unusable; false once the budget is spent.
bool Add(Rendition& r, const Context& c, SegmentRef s) {
    if (s.url.empty()) {
        return true;
    }
    s.discontinuity = c.period;
    if (!c.budget->Take(r, s)) {
        return false;
    }
    r.segments.push_back(std::move(s));
    return true;
}

void FromTemplate(Rendition& r, const Context& c, const Levels& t) {
    const std::string media = t.Attribute("media").value_or("");
    const std::uint64_t timescale = std::max<std::uint64_t>(1, t.Number("timescale", 1));
    const std::uint64_t startNumber = t.Number("startNumber", 1);
    const std::uint64_t offset = t.Number("presentationTimeOffset", 0);
    const std::uint64_t duration = t.Number("duration", 0);
    if (media.empty() || !Expand(media, c, 0, 0)) {
        return;
    }
    if (const std::optional<std::string> init = t.Attribute("initialization")) {
        const std::optional<std::string> address = Expand(*init, c, startNumber, 0);
        SegmentRef s;
        s.url = address ? manifest::Resolve(c.base, *address) : std::string();
        if (!s.url.empty()) {
            r.init = std::move(s);
        }
    }
    const auto add = [&](std::uint64_t number, std::uint64_t time, std::uint64_t length) {
        SegmentRef s;
        s.url = manifest::Resolve(c.base, Expand(media, c, number, time).value_or(""));
        s.start = c.periodStart +
                  std::max(0.0, (static_cast<double>(time) - static_cast<double>(offset)) /
                                    static_cast<double>(timescale));
        s.duration = static_cast<double>(length) / static_cast<double>(timescale);
        return Add(r, c, std::move(s));
    };
    if (const Element* timeline = t.Child("SegmentTimeline")) {
        std::uint64_t number = startNumber;
        std::optional<double> end;
        if (c.periodLength) {
            end = static_cast<double>(offset) + *c.periodLength * static_cast<double>(timescale);
        }
        WalkTimeline(*c.doc, *timeline, end,
                     [&](std::uint64_t time, std::uint64_t d) { return add(number++, time, d); });
    } else if (duration > 0 && c.periodLength) {
        // Without an end (a live stream) the numbers run on: none is named then.
        const double count = std::ceil(*c.periodLength * static_cast<double>(timescale) /
                                           static_cast<double>(duration) -
                                       1e-9);
        const auto n = static_cast<std::uint64_t>(
            std::min(count, static_cast<double>(kMaxSegmentsPerRendition)));
        for (std::uint64_t k = 0; k < n && startNumber <= UINT64_MAX - k; ++k) {
            if (!add(startNumber + k, offset + k * duration, duration)) {
                return;
            }
        }
    }
}

void FromList(Rendition& r, const Context& c, const Levels& l) {
    const std::uint64_t timescale = std::max<std::uint64_t>(1, l.Number("timescale", 1));
    const std::uint64_t duration = l.Number("duration", 0);
    const std::uint64_t offset = l.Number("presentationTimeOffset", 0);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> times;  // from a SegmentTimeline
    std::vector<const Element*> urls;
    for (const Element* e : l.chain) {
        if (urls.empty()) {
            urls = c.doc->Children(*e, "SegmentURL");
        }
    }
    if (const Element* timeline = l.Child("SegmentTimeline")) {
        WalkTimeline(*c.doc, *timeline, std::nullopt, [&](std::uint64_t time, std::uint64_t d) {
            times.emplace_back(time, d);
            return times.size() < urls.size();
        });
    }
    for (std::size_t k = 0; k < urls.size() && k < kMaxSegmentsPerRendition; ++k) {
        SegmentRef s;
        s.url = manifest::Resolve(c.base, c.doc->Attribute(*urls[k], "media").value_or(""));
        if (const std::optional<std::string> range = c.doc->Attribute(*urls[k], "mediaRange")) {
            const auto bytes = ParseRange(*range);
            if (!bytes) {
                continue;
            }
            std::tie(s.offset, s.length) = *bytes;
        }
        const auto [time, length] =
            k < times.size()
                ? times[k]
                : std::pair(offset + static_cast<std::uint64_t>(k) * duration, duration);
        s.start = c.periodStart +
                  std::max(0.0, (static_cast<double>(time) - static_cast<double>(offset)) /
                                    static_cast<double>(timescale));
        s.duration = static_cast<double>(length) / static_cast<double>(timescale);
        if (!Add(r, c, std::move(s))) {
            return;
        }
    }
}

// An Initialization element: its sourceURL (the base when absent) and its range.
std::optional<SegmentRef> Initialization(const Context& c, const Element* e) {
    if (e == nullptr) {
        return std::nullopt;
    }
    SegmentRef s;
    s.url = manifest::Resolve(c.base, c.doc->Attribute(*e, "sourceURL").value_or(""));
    if (const std::optional<std::string> range = c.doc->Attribute(*e, "range")) {
        const auto bytes = ParseRange(*range);
        if (!bytes) {
            return std::nullopt;
        }
        std::tie(s.offset, s.length) = *bytes;
    }
    return s.url.empty() ? std::nullopt : std::optional(s);
}

// The whole file is the one segment; its init section is the range before the index
// (the moov box) where the manifest does not name it.
void FromBase(Rendition& r, const Context& c, const Levels* b) {
    if (b != nullptr) {
        r.init = Initialization(c, b->Child("Initialization"));
        const std::optional<std::string> index = b->Attribute("indexRange");
        const auto indexBytes = index ? ParseRange(*index) : std::nullopt;
        if (!r.init && indexBytes && indexBytes->first > 0) {
            SegmentRef s;
            s.url = c.base;
            s.length = indexBytes->first;
            r.init = std::move(s);
        }
    }
    SegmentRef s;
    s.url = c.base;
    s.start = c.periodStart;
    s.duration = c.periodLength.value_or(0);
    Add(r, c, std::move(s));
}

// Kind and container from the types and codecs; nullopt for tracks that are not sound or
// picture (subtitles, thumbnails).
bool Classify(Rendition& r, std::string_view contentType, std::string_view mime) {
    const manifest::CodecKinds says = manifest::KindsOfCodecs(r.codecs);
    std::string_view type = contentType.empty() ? mime.substr(0, mime.find('/')) : contentType;
    if (says.video && says.audio) {
        r.kind = TrackKind::Muxed;
    } else if (type == "video" || (type != "audio" && says.video)) {
        r.kind = TrackKind::Video;
    } else if (type == "audio" || says.audio) {
        r.kind = TrackKind::Audio;
    } else if (!type.empty()) {
        return false;
    }
    const std::string_view subtype = mime.substr(std::min(mime.find('/'), mime.size()));
    if (subtype == "/mp4") {
        r.container = Container::Fmp4;
    } else if (subtype == "/webm") {
        r.container = Container::WebM;
    } else if (subtype == "/mp2t") {
        r.container = Container::MpegTs;
    }
    return true;
}

bool SameInit(const std::optional<SegmentRef>& a, const std::optional<SegmentRef>& b) {
    return a.has_value() == b.has_value() &&
           (!a || (a->url == b->url && a->offset == b->offset && a->length == b->length));
}

std::string BaseOf(const xml::Document& doc, const Element& e, const std::string& parent) {
    const Element* base = doc.Child(e, "BaseURL");
    if (base == nullptr) {
        return parent;
    }
    return manifest::Resolve(parent, doc.Text(*base));
}

std::uint64_t Number(const xml::Document& doc, const Element& e, std::string_view name) {
    std::uint64_t value = 0;
    const std::optional<std::string> text = doc.Attribute(e, name);
    return text && ParseDecimal(*text, value) ? value : 0;
}

int Pixels(const xml::Document& doc, const Element& e, const Element& set, std::string_view name) {
    std::uint64_t value = Number(doc, e, name);
    value = value ? value : Number(doc, set, name);
    return value <= 65535 ? static_cast<int>(value) : 0;
}

}  // namespace

std::optional<Manifest> ReadDashManifest(std::string_view text, std::string_view url) {
    if (text.size() > kMaxManifestBytes) {
        return std::nullopt;
    }
    const std::optional<xml::Document> doc = xml::Document::Read(text);
    if (!doc || doc->Root().name != "MPD") {
        return std::nullopt;
    }
    const Element& mpd = doc->Root();
    Manifest m;
    m.kind = StreamKind::Dash;
    m.url = std::string(url);
    m.live = doc->Attribute(mpd, "type") == "dynamic";
    const std::optional<double> total =
        ParseDuration(doc->Attribute(mpd, "mediaPresentationDuration").value_or(""));
    const std::string mpdBase = BaseOf(*doc, mpd, manifest::Resolve(url, ""));
    manifest::ResultBudget budget;

    const std::vector<const Element*> periods = doc->Children(mpd, "Period");
    std::vector<double> starts(periods.size(), 0);
    for (std::size_t p = 0; p < periods.size(); ++p) {
        const std::optional<double> start =
            ParseDuration(doc->Attribute(*periods[p], "start").value_or(""));
        const std::optional<double> previous =
            p == 0 ? std::optional(0.0)
                   : ParseDuration(doc->Attribute(*periods[p - 1], "duration").value_or(""));
        starts[p] = start ? *start : p == 0 ? 0 : starts[p - 1] + previous.value_or(0);
    }
    for (std::size_t p = 0; p < periods.size(); ++p) {
        const Element& period = *periods[p];
        Context c;
        c.doc = &*doc;
        c.periodStart = starts[p];
        c.period = static_cast<std::uint32_t>(std::min<std::size_t>(p, UINT32_MAX));
        c.budget = &budget;
        const std::optional<double> own =
            ParseDuration(doc->Attribute(period, "duration").value_or(""));
        if (own) {
            c.periodLength = own;
        } else if (p + 1 < periods.size() && starts[p + 1] > starts[p]) {
            c.periodLength = starts[p + 1] - starts[p];
        } else if (p + 1 == periods.size() && total && *total > starts[p]) {
            c.periodLength = *total - starts[p];
        }
        const std::string periodBase = BaseOf(*doc, period, mpdBase);
        for (const Element* set : doc->Children(period, "AdaptationSet")) {
            const std::string setBase = BaseOf(*doc, *set, periodBase);
            const bool setLocked = doc->Child(*set, "ContentProtection") != nullptr;
            for (const Element* rep : doc->Children(*set, "Representation")) {
                Rendition r;
                r.id = doc->Attribute(*rep, "id").value_or("");
                r.bandwidth = Number(*doc, *rep, "bandwidth");
                r.width = Pixels(*doc, *rep, *set, "width");
                r.height = Pixels(*doc, *rep, *set, "height");
                r.codecs = doc->Attribute(*rep, "codecs")
                               .value_or(doc->Attribute(*set, "codecs").value_or(""));
                const std::string mime =
                    doc->Attribute(*rep, "mimeType")
                        .value_or(doc->Attribute(*set, "mimeType").value_or(""));
                if (!Classify(r, doc->Attribute(*set, "contentType").value_or(""), mime)) {
                    continue;
                }
                // Any ContentProtection (a key system's urn:uuid, the mp4protection
                // scheme's cenc or cbcs) means the media is encrypted for a key system.
                if (setLocked || doc->Child(*rep, "ContentProtection") != nullptr) {
                    r.protection = Protection::Drm;
                }
                c.base = BaseOf(*doc, *rep, setBase);
                c.id = r.id;
                c.bandwidth = r.bandwidth;
                // The addressing of the most specific level that names one, its
                // attributes inherited from the levels above.
                Levels chosen{&*doc, {}};
                std::string_view chosenKind;
                for (const Element* e : {rep, set, &period}) {
                    for (std::string_view kind :
                         {"SegmentTemplate", "SegmentList", "SegmentBase"}) {
                        if (chosenKind.empty() && doc->Child(*e, kind) != nullptr) {
                            chosenKind = kind;
                        }
                    }
                }
                for (const Element* e : {rep, set, &period}) {
                    if (const Element* found =
                            chosenKind.empty() ? nullptr : doc->Child(*e, chosenKind)) {
                        chosen.chain.push_back(found);
                    }
                }
                if (chosenKind == "SegmentTemplate") {
                    FromTemplate(r, c, chosen);
                } else if (chosenKind == "SegmentList") {
                    r.init = Initialization(c, chosen.Child("Initialization"));
                    FromList(r, c, chosen);
                } else {
                    FromBase(r, c, chosen.chain.empty() ? nullptr : &chosen);
                }
                if (r.segments.empty()) {
                    continue;
                }
                // The same Representation in a later Period goes on where it left off.
                const auto same =
                    std::find_if(m.renditions.begin(), m.renditions.end(), [&](const Rendition& o) {
                        return p > 0 && o.id == r.id && o.kind == r.kind &&
                               SameInit(o.init, r.init);
                    });
                if (same != m.renditions.end()) {
                    // Already counted in the budget: only the rendition's own bound is left.
                    const std::size_t room = kMaxSegmentsPerRendition - same->segments.size();
                    r.segments.resize(std::min(room, r.segments.size()));
                    same->segments.insert(same->segments.end(),
                                          std::make_move_iterator(r.segments.begin()),
                                          std::make_move_iterator(r.segments.end()));
                    same->protection = manifest::Stronger(same->protection, r.protection);
                } else if (m.renditions.size() < kMaxRenditions) {
                    m.renditions.push_back(std::move(r));
                }
            }
        }
    }
    if (total) {
        m.length = *total;
    } else {
        for (const Rendition& r : m.renditions) {
            for (const SegmentRef& s : r.segments) {
                m.length = std::max(m.length, s.start + s.duration);
            }
        }
    }
    manifest::SumUpProtection(m);
    return m;
}

}  // namespace cache
