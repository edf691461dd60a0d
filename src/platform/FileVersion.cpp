#include "platform/FileVersion.h"

#include <array>
#include <cstring>

namespace platform {

namespace {

constexpr std::size_t kIdentSize = 16;
constexpr unsigned char kClass32 = 1;
constexpr unsigned char kClass64 = 2;
constexpr unsigned char kLittleEndian = 1;
constexpr unsigned char kBigEndian = 2;
constexpr std::uint32_t kSectionNoBits = 8;
constexpr std::uint16_t kSectionIndexEscape = 0xFFFF;
// Far more than any real program has; keeps a hostile count from making us loop forever.
constexpr std::uint64_t kMaxSections = 1u << 20;
// The note holds a name and four numbers; anything much larger is not ours.
constexpr std::uint64_t kMaxNoteSection = 4096;

struct Layout {
    bool is64 = false;
    bool bigEndian = false;
};

struct Section {
    std::uint32_t name = 0;
    std::uint32_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t link = 0;
};

std::uint64_t Decode(const unsigned char* bytes, std::size_t width, bool bigEndian) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t index = bigEndian ? i : width - 1 - i;
        value = (value << 8) | bytes[index];
    }
    return value;
}

bool InFile(std::uint64_t offset, std::uint64_t size, std::uint64_t fileSize) {
    return offset <= fileSize && size <= fileSize - offset;
}

class ElfReader {
  public:
    ElfReader(const ReadAt& read, std::uint64_t fileSize) : read_(read), fileSize_(fileSize) {}

    bool Bytes(std::uint64_t offset, void* buffer, std::size_t size) const {
        return InFile(offset, size, fileSize_) && read_(offset, buffer, size);
    }

    bool Number(std::uint64_t offset, std::size_t width, std::uint64_t& value) const {
        std::array<unsigned char, 8> bytes{};
        if (!Bytes(offset, bytes.data(), width)) {
            return false;
        }
        value = Decode(bytes.data(), width, layout.bigEndian);
        return true;
    }

    bool Header() {
        std::array<unsigned char, kIdentSize> ident{};
        if (!Bytes(0, ident.data(), ident.size()) || ident[0] != 0x7F || ident[1] != 'E' ||
            ident[2] != 'L' || ident[3] != 'F') {
            return false;
        }
        if ((ident[4] != kClass32 && ident[4] != kClass64) ||
            (ident[5] != kLittleEndian && ident[5] != kBigEndian)) {
            return false;
        }
        layout.is64 = ident[4] == kClass64;
        layout.bigEndian = ident[5] == kBigEndian;

        const std::size_t word = layout.is64 ? 8 : 4;
        const std::uint64_t shoffAt = layout.is64 ? 0x28 : 0x20;
        const std::uint64_t shentsizeAt = layout.is64 ? 0x3A : 0x2E;
        std::uint64_t entrySize = 0;
        std::uint64_t count = 0;
        std::uint64_t namesIndex = 0;
        if (!Number(shoffAt, word, tableOffset) || !Number(shentsizeAt, 2, entrySize) ||
            !Number(shentsizeAt + 2, 2, count) || !Number(shentsizeAt + 4, 2, namesIndex)) {
            return false;
        }
        entrySize_ = entrySize;
        if (tableOffset == 0 || entrySize_ < (layout.is64 ? 64u : 40u)) {
            return false;
        }
        // Large counts and indexes live in the first section header.
        if (count == 0 || namesIndex == kSectionIndexEscape) {
            Section first;
            if (!SectionAt(0, first, /*checked=*/false)) {
                return false;
            }
            if (count == 0) {
                count = first.size;
            }
            if (namesIndex == kSectionIndexEscape) {
                namesIndex = first.link;
            }
        }
        sectionCount = count;
        if (sectionCount == 0 || sectionCount > kMaxSections ||
            !InFile(tableOffset, sectionCount * entrySize_, fileSize_)) {
            return false;
        }
        return namesIndex < sectionCount && SectionAt(namesIndex, names);
    }

    bool SectionAt(std::uint64_t index, Section& section, bool checked = true) const {
        if (checked && index >= sectionCount) {
            return false;
        }
        const std::uint64_t at = tableOffset + index * entrySize_;
        const std::size_t word = layout.is64 ? 8 : 4;
        std::uint64_t name = 0;
        std::uint64_t type = 0;
        std::uint64_t link = 0;
        const std::uint64_t offsetAt = at + 8 + 2 * word;
        if (!Number(at, 4, name) || !Number(at + 4, 4, type) ||
            !Number(offsetAt, word, section.offset) ||
            !Number(offsetAt + word, word, section.size) || !Number(offsetAt + 2 * word, 4, link)) {
            return false;
        }
        section.name = static_cast<std::uint32_t>(name);
        section.type = static_cast<std::uint32_t>(type);
        section.link = static_cast<std::uint32_t>(link);
        return true;
    }

    bool NameIs(const Section& section, const char* wanted) const {
        const std::uint64_t length = std::strlen(wanted) + 1;  // with its terminator
        if (section.name >= names.size || length > names.size - section.name) {
            return false;
        }
        std::array<char, 64> name{};
        if (length > name.size() ||
            !Bytes(names.offset + section.name, name.data(), static_cast<std::size_t>(length))) {
            return false;
        }
        return std::memcmp(name.data(), wanted, static_cast<std::size_t>(length)) == 0;
    }

    Layout layout;
    std::uint64_t tableOffset = 0;
    std::uint64_t sectionCount = 0;
    Section names;

  private:
    const ReadAt& read_;
    std::uint64_t fileSize_;
    std::uint64_t entrySize_ = 0;
};

std::uint64_t Aligned4(std::uint64_t value) {
    return (value + 3) & ~std::uint64_t{3};
}

// Walks the notes of one section for ours and formats its four numbers.
std::string VersionFromNotes(const unsigned char* data, std::uint64_t size, bool bigEndian) {
    const std::uint64_t ownerLength = std::strlen(kVersionNoteOwner) + 1;
    std::uint64_t at = 0;
    while (size - at >= 12) {
        const std::uint64_t nameSize = Decode(data + at, 4, bigEndian);
        const std::uint64_t descSize = Decode(data + at + 4, 4, bigEndian);
        const std::uint64_t type = Decode(data + at + 8, 4, bigEndian);
        const std::uint64_t nameAt = at + 12;
        if (Aligned4(nameSize) > size - nameAt) {
            return {};
        }
        const std::uint64_t descAt = nameAt + Aligned4(nameSize);
        if (Aligned4(descSize) > size - descAt) {
            return {};
        }
        if (type == kVersionNoteType && nameSize == ownerLength && descSize == 16 &&
            std::memcmp(data + nameAt, kVersionNoteOwner, ownerLength) == 0) {
            std::string text;
            for (int part = 0; part < 4; ++part) {
                if (part > 0) {
                    text += '.';
                }
                text += std::to_string(Decode(data + descAt + 4 * part, 4, bigEndian));
            }
            return text;
        }
        at = descAt + Aligned4(descSize);
    }
    return {};
}

}  // namespace

std::string ParseFileVersion(const ReadAt& read, std::uint64_t fileSize) {
    ElfReader elf(read, fileSize);
    if (!elf.Header()) {
        return {};
    }
    for (std::uint64_t index = 0; index < elf.sectionCount; ++index) {
        Section section;
        if (!elf.SectionAt(index, section)) {
            return {};
        }
        if (section.type == kSectionNoBits || !elf.NameIs(section, kVersionSectionName)) {
            continue;
        }
        if (section.size > kMaxNoteSection) {
            return {};
        }
        std::array<unsigned char, kMaxNoteSection> data{};
        if (!elf.Bytes(section.offset, data.data(), static_cast<std::size_t>(section.size))) {
            return {};
        }
        return VersionFromNotes(data.data(), section.size, elf.layout.bigEndian);
    }
    return {};
}

}  // namespace platform
