#include "cache/XmlTree.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

namespace cache::xml {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view LocalName(std::string_view name) {
    const std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Appends the text of `raw` with references expanded; an unknown or malformed one stays
// as written. The output is never longer than the input.
void AppendExpanded(std::string& out, std::string_view raw) {
    while (!raw.empty()) {
        const std::size_t amp = raw.find('&');
        out.append(raw.substr(0, amp));
        if (amp == std::string_view::npos) {
            return;
        }
        raw.remove_prefix(amp);
        const std::size_t semi = raw.find(';');
        const std::string_view name = semi == std::string_view::npos || semi > 10
                                          ? std::string_view()
                                          : raw.substr(1, semi - 1);
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
        bool done = false;
        for (const auto& [n, c] : kNamed) {
            if (name == n) {
                out += c;
                done = true;
            }
        }
        if (!done && name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t cp = 0;
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
            if (!digits.empty() && error == std::errc() && end == digits.data() + digits.size() &&
                cp > 0 && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
                AppendUtf8(out, cp);
                done = true;
            }
        }
        if (done) {
            raw.remove_prefix(semi + 1);
        } else {
            out += '&';
            raw.remove_prefix(1);
        }
    }
}

class Reader {
  public:
    Reader(std::string_view text, std::vector<Element>& elements,
           std::vector<AttributeText>& attributes)
        : text_(text), elements_(elements), attributes_(attributes) {}

    bool Run() {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") {
            pos_ = 3;
        }
        while (pos_ < text_.size()) {
            const std::size_t lt = text_.find('<', pos_);
            if (lt == std::string_view::npos) {
                break;
            }
            pos_ = lt;
            const std::string_view rest = text_.substr(pos_);
            bool ok = true;
            if (rest.substr(0, 4) == "<!--") {
                ok = SkipPast("-->");
            } else if (rest.substr(0, 9) == "<![CDATA[") {
                ok = !open_.empty() && SkipPast("]]>");
            } else if (rest.substr(0, 2) == "<!") {
                const std::size_t gt = rest.find('>');
                // An internal subset could declare entities: not read, so refused.
                ok = gt != std::string_view::npos && rest.substr(0, gt).find('[') == rest.npos;
                pos_ += gt + 1;
            } else if (rest.substr(0, 2) == "<?") {
                ok = SkipPast("?>");
            } else if (rest.substr(0, 2) == "</") {
                ok = EndTag();
            } else {
                ok = StartTag();
            }
            if (!ok) {
                return false;
            }
            if (rootDone_) {
                return true;  // what follows the root element is not read
            }
        }
        return rootDone_;
    }

  private:
    struct Open {
        std::uint32_t index;
        std::uint32_t lastChild;
        std::size_t contentStart;
    };

    bool SkipPast(std::string_view end) {
        const std::size_t at = text_.find(end, pos_ + 2);
        if (at == std::string_view::npos) {
            return false;
        }
        pos_ = at + end.size();
        return true;
    }

    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) {
            ++pos_;
        }
    }

    std::string_view Name() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !IsSpace(text_[pos_]) && text_[pos_] != '/' &&
               text_[pos_] != '>' && text_[pos_] != '=' && text_[pos_] != '<') {
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }

    bool EndTag() {
        const std::size_t tagStart = pos_;
        pos_ += 2;
        const std::string_view name = LocalName(Name());
        SkipSpace();
        if (open_.empty() || pos_ >= text_.size() || text_[pos_] != '>' ||
            elements_[open_.back().index].name != name) {
            return false;
        }
        Element& e = elements_[open_.back().index];
        if (e.firstChild == kNone) {
            e.content =
                text_.substr(open_.back().contentStart, tagStart - open_.back().contentStart);
        }
        ++pos_;
        open_.pop_back();
        rootDone_ = open_.empty();
        return true;
    }

    bool StartTag() {
        ++pos_;
        const std::string_view name = LocalName(Name());
        if (name.empty() || open_.size() >= kMaxDepth || elements_.size() >= kMaxElements) {
            return false;
        }
        const auto index = static_cast<std::uint32_t>(elements_.size());
        Element e;
        e.name = name;
        e.firstAttribute = static_cast<std::uint32_t>(attributes_.size());
        for (;;) {
            SkipSpace();
            if (pos_ >= text_.size()) {
                return false;
            }
            if (text_[pos_] == '>' || text_.substr(pos_, 2) == "/>") {
                break;
            }
            const std::string_view attribute = Name();
            SkipSpace();
            if (attribute.empty() || pos_ >= text_.size() || text_[pos_] != '=') {
                return false;
            }
            ++pos_;
            SkipSpace();
            if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) {
                return false;
            }
            const std::size_t close = text_.find(text_[pos_], pos_ + 1);
            if (close == std::string_view::npos || e.attributeCount >= kMaxAttributesPerElement ||
                attributes_.size() >= kMaxAttributes) {
                return false;
            }
            attributes_.push_back({attribute, text_.substr(pos_ + 1, close - pos_ - 1)});
            ++e.attributeCount;
            pos_ = close + 1;
        }
        const bool empty = text_[pos_] == '/';
        pos_ += empty ? 2 : 1;
        if (!open_.empty()) {
            Open& parent = open_.back();
            if (parent.lastChild == kNone) {
                elements_[parent.index].firstChild = index;
            } else {
                elements_[parent.lastChild].nextSibling = index;
            }
            parent.lastChild = index;
        } else if (!elements_.empty()) {
            return false;
        }
        elements_.push_back(e);
        if (empty) {
            rootDone_ = open_.empty();
        } else {
            open_.push_back({index, kNone, pos_});
        }
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::vector<Element>& elements_;
    std::vector<AttributeText>& attributes_;
    std::vector<Open> open_;
    bool rootDone_ = false;
};

}  // namespace

std::optional<Document> Document::Read(std::string_view text) {
    Document d;
    if (!Reader(text, d.elements_, d.attributes_).Run()) {
        return std::nullopt;
    }
    return d;
}

std::vector<const Element*> Document::Children(const Element& parent, std::string_view name) const {
    std::vector<const Element*> out;
    for (std::uint32_t i = parent.firstChild; i != kNone; i = elements_[i].nextSibling) {
        if (elements_[i].name == name) {
            out.push_back(&elements_[i]);
        }
    }
    return out;
}

const Element* Document::Child(const Element& parent, std::string_view name) const {
    for (std::uint32_t i = parent.firstChild; i != kNone; i = elements_[i].nextSibling) {
        if (elements_[i].name == name) {
            return &elements_[i];
        }
    }
    return nullptr;
}

std::optional<std::string> Document::Attribute(const Element& element,
                                               std::string_view name) const {
    for (std::uint32_t i = 0; i < element.attributeCount; ++i) {
        const AttributeText& a = attributes_[element.firstAttribute + i];
        if (a.name == name) {
            std::string out;
            AppendExpanded(out, a.value);
            return out;
        }
    }
    return std::nullopt;
}

std::string Document::Text(const Element& element) const {
    std::string out;
    std::string_view raw = element.content;
    while (!raw.empty()) {
        const std::size_t lt = raw.find('<');
        AppendExpanded(out, raw.substr(0, lt));
        if (lt == std::string_view::npos) {
            break;
        }
        raw.remove_prefix(lt);
        if (raw.substr(0, 9) == "<![CDATA[") {
            const std::size_t end = std::min(raw.find("]]>"), raw.size());
            out.append(raw.substr(9, end - std::min<std::size_t>(end, 9)));
            raw.remove_prefix(std::min(end + 3, raw.size()));
        } else {
            const std::string_view close = raw.substr(0, 4) == "<!--" ? "-->" : ">";
            const std::size_t end = raw.find(close);
            raw.remove_prefix(end == std::string_view::npos ? raw.size() : end + close.size());
        }
    }
    return out;
}

}  // namespace cache::xml
