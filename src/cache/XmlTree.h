#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A small reader of XML documents from outside (DASH manifests): elements, attributes and
// text, and nothing that makes a small text large or slow. No DTD is read (a document
// with an internal subset is refused), no entity but the five predefined ones and
// character references is expanded, and depth, attributes per element and the numbers of
// elements and attributes are bounded. Names are compared without their namespace prefix.
namespace cache::xml {

inline constexpr std::size_t kMaxDepth = 64;
inline constexpr std::size_t kMaxAttributesPerElement = 64;
inline constexpr std::size_t kMaxElements = 1u << 20;
inline constexpr std::size_t kMaxAttributes = 1u << 20;

inline constexpr std::uint32_t kNone = UINT32_MAX;

struct Element {
    std::string_view name;  // without its prefix
    std::uint32_t firstAttribute = 0;
    std::uint32_t attributeCount = 0;
    std::uint32_t firstChild = kNone;
    std::uint32_t nextSibling = kNone;
    std::string_view content;  // as written, for an element without child elements
};

struct AttributeText {
    std::string_view name;
    std::string_view value;  // as written, between its quotes
};

// Views into the text it was read from, which must outlive it.
class Document {
  public:
    // nullopt when `text` is not one well-formed element (with the leniencies of
    // browsers' manifest readers: unknown entities are kept as written) or breaks a bound.
    static std::optional<Document> Read(std::string_view text);

    const Element& Root() const { return elements_.front(); }
    // The child elements of `parent` named `name`, in document order.
    std::vector<const Element*> Children(const Element& parent, std::string_view name) const;
    const Element* Child(const Element& parent, std::string_view name) const;
    // The attribute's value with references expanded; nullopt when absent.
    std::optional<std::string> Attribute(const Element& element, std::string_view name) const;
    // The element's text with references and CDATA expanded, comments left out.
    std::string Text(const Element& element) const;

  private:
    std::vector<Element> elements_;
    std::vector<AttributeText> attributes_;
};

}  // namespace cache::xml
