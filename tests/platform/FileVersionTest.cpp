// Reading the version note back from executables: real ones built here, hand-made images
// of every class and byte order, and damaged files.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/FileVersion.h"
#include "support/TempDir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

const std::string kHelper = std::string(REELVAULT_TEST_BIN) + "/version_note_helper";
const std::string kSelf = std::string(REELVAULT_TEST_BIN) + "/file_version_test";

std::string ParseBytes(const std::string& image) {
    const platform::ReadAt read = [&image](std::uint64_t offset, void* buffer, std::size_t size) {
        if (offset > image.size() || size > image.size() - offset) {
            return false;
        }
        std::memcpy(buffer, image.data() + offset, size);
        return true;
    };
    return platform::ParseFileVersion(read, image.size());
}

// Builds a minimal ELF image: header, section names, one note section, section table.
class ElfImage {
  public:
    ElfImage(bool is64, bool bigEndian) : is64_(is64), bigEndian_(bigEndian) {}

    std::string note_section_name = ".note.reelvault.version";
    std::string owner = std::string("Reelvault", 10);
    std::uint32_t type = 1;
    std::vector<std::uint32_t> numbers{1, 2, 3, 4};

    std::string Build() const {
        std::string out(is64_ ? 64 : 52, '\0');
        out[0] = 0x7F;
        out[1] = 'E';
        out[2] = 'L';
        out[3] = 'F';
        out[4] = is64_ ? 2 : 1;
        out[5] = bigEndian_ ? 2 : 1;
        out[6] = 1;

        const std::string names = std::string("\0.shstrtab\0", 11) + note_section_name + '\0';
        const std::uint64_t namesAt = out.size();
        out += names;
        Pad(out);

        const std::uint64_t noteAt = out.size();
        Put(out, out.size(), static_cast<std::uint32_t>(owner.size()), 4, true);
        Put(out, out.size(), static_cast<std::uint32_t>(numbers.size() * 4), 4, true);
        Put(out, out.size(), type, 4, true);
        out += owner;
        Pad(out);
        for (std::uint32_t n : numbers) {
            Put(out, out.size(), n, 4, true);
        }
        const std::uint64_t noteSize = out.size() - noteAt;
        Pad(out);

        const std::uint64_t tableAt = out.size();
        const std::size_t entry = is64_ ? 64 : 40;
        out.append(3 * entry, '\0');
        Section(out, tableAt + entry, 1, 3, namesAt, names.size());
        Section(out, tableAt + 2 * entry, 11, 7, noteAt, noteSize);

        Put(out, is64_ ? 0x28 : 0x20, tableAt, is64_ ? 8 : 4);
        const std::size_t counts = is64_ ? 0x3A : 0x2E;
        Put(out, counts, entry, 2);
        Put(out, counts + 2, 3, 2);
        Put(out, counts + 4, 1, 2);
        return out;
    }

    // Where the fields of the note section's header live in a built image.
    std::size_t TableOffset(const std::string& image) const {
        std::size_t at = is64_ ? 0x28 : 0x20;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < (is64_ ? 8u : 4u); ++i) {
            const auto byte =
                static_cast<unsigned char>(image[at + (bigEndian_ ? i : (is64_ ? 7 : 3) - i)]);
            value = (value << 8) | byte;
        }
        return static_cast<std::size_t>(value);
    }

    void Put(std::string& out, std::size_t at, std::uint64_t value, std::size_t width,
             bool append = false) const {
        if (append) {
            out.append(width, '\0');
        }
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t shift = 8 * (bigEndian_ ? width - 1 - i : i);
            out[at + i] = static_cast<char>((value >> shift) & 0xFF);
        }
    }

  private:
    static void Pad(std::string& out) {
        while (out.size() % 8 != 0) {
            out += '\0';
        }
    }

    void Section(std::string& out, std::size_t at, std::uint32_t name, std::uint32_t kind,
                 std::uint64_t offset, std::uint64_t size) const {
        const std::size_t word = is64_ ? 8 : 4;
        Put(out, at, name, 4);
        Put(out, at + 4, kind, 4);
        Put(out, at + 8 + 2 * word, offset, word);
        Put(out, at + 8 + 3 * word, size, word);
    }

    bool is64_;
    bool bigEndian_;
};

TEST(FileVersion, ReadsTheNoteTheBuildPutIntoAProgram) {
    EXPECT_EQ(platform::GetFileVersion(kHelper), "10.0.12.345");
}

TEST(FileVersion, ProgramWithoutANoteHasNoVersion) {
    ASSERT_FALSE(ReadFile(kSelf).empty());
    EXPECT_EQ(platform::GetFileVersion(kSelf), "");
}

TEST(FileVersion, FilesThatAreNotExecutablesHaveNoVersion) {
    TempDir dir;
    WriteFile(dir / "empty", "");
    WriteFile(dir / "text", "just some text, long enough to cover an ELF header and more.....");
    WriteFile(dir / "magic",
              "\x7f"
              "ELF");
    for (const std::string& path :
         {dir / "empty", dir / "text", dir / "magic", dir.path(), dir / "missing", std::string()}) {
        EXPECT_EQ(platform::GetFileVersion(path), "") << path;
    }
}

TEST(FileVersion, HandMadeImagesOfEveryClassAndByteOrder) {
    for (const bool is64 : {false, true}) {
        for (const bool bigEndian : {false, true}) {
            ElfImage image(is64, bigEndian);
            image.numbers = {10, 0, 12, 345};
            EXPECT_EQ(ParseBytes(image.Build()), "10.0.12.345") << is64 << bigEndian;
            image.numbers = {4294967295u, 65536, 0, 7};
            EXPECT_EQ(ParseBytes(image.Build()), "4294967295.65536.0.7") << is64 << bigEndian;

            TempDir dir;
            image.numbers = {1, 3, 0, 0};
            WriteFile(dir / "image", image.Build());
            EXPECT_EQ(platform::GetFileVersion(dir / "image"), "1.3.0.0");
        }
    }
}

TEST(FileVersion, NotesThatAreNotOursAreIgnored) {
    const auto version = [](auto change) {
        ElfImage image(true, false);
        change(image);
        return ParseBytes(image.Build());
    };
    EXPECT_EQ(version([](ElfImage& i) { i.note_section_name = ".note.other"; }), "");
    EXPECT_EQ(version([](ElfImage& i) { i.note_section_name = ".note.reelvault.versio"; }), "");
    EXPECT_EQ(version([](ElfImage& i) { i.owner = std::string("Reelvaul", 9); }), "");
    EXPECT_EQ(version([](ElfImage& i) { i.owner = "Reelvault"; }), "");  // no terminator
    EXPECT_EQ(version([](ElfImage& i) { i.type = 2; }), "");
    EXPECT_EQ(version([](ElfImage& i) { i.numbers = {1, 2, 3}; }), "");
    EXPECT_EQ(version([](ElfImage& i) { i.numbers = {1, 2, 3, 4, 5}; }), "");
}

TEST(FileVersion, EveryTruncationOfARealProgramGivesNothing) {
    const std::string program = ReadFile(kHelper);
    ASSERT_EQ(ParseBytes(program), "10.0.12.345");
    // The section table sits at the end of the file, so no shorter prefix holds it whole.
    for (std::size_t length = 0; length < program.size(); ++length) {
        ASSERT_EQ(ParseBytes(program.substr(0, length)), "") << length;
    }
}

TEST(FileVersion, DamagedHeadersNeverReadOutOfBounds) {
    for (const bool is64 : {false, true}) {
        ElfImage image(is64, false);
        const std::string good = image.Build();
        const std::size_t table = image.TableOffset(good);
        // Every byte of the file header and the section table, set to values that make
        // offsets, sizes and counts run off the end.
        std::vector<std::size_t> positions;
        for (std::size_t at = 0; at < (is64 ? 64u : 52u); ++at) {
            positions.push_back(at);
        }
        for (std::size_t at = table; at < good.size(); ++at) {
            positions.push_back(at);
        }
        for (const std::size_t at : positions) {
            for (const unsigned char value : {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF}) {
                std::string bad = good;
                bad[at] = static_cast<char>(value);
                const std::string version = ParseBytes(bad);
                EXPECT_TRUE(version.empty() || version == "1.2.3.4") << at << " " << version;
            }
        }
    }
}

TEST(FileVersion, HostileSizesAreRejected) {
    ElfImage image(true, false);
    const std::string good = image.Build();
    const std::size_t table = image.TableOffset(good);
    const std::size_t note = table + 2 * 64;
    const struct {
        const char* what;
        std::size_t at;
        std::uint64_t value;
        std::size_t width;
    } cases[] = {
        {"section table past the end", 0x28, good.size(), 8},
        {"section table offset wraps", 0x28, ~std::uint64_t{0} - 10, 8},
        {"section count huge", 0x3C, 0xFFFE, 2},
        {"names index out of range", 0x3E, 3, 2},
        {"entry size too small", 0x3A, 16, 2},
        {"note offset wraps", note + 24, ~std::uint64_t{0} - 4, 8},
        {"note size huge", note + 32, std::uint64_t{1} << 40, 8},
        {"name offset past the names", note, 0xFFFFFFF0u, 4},
    };
    for (const auto& c : cases) {
        std::string bad = good;
        image.Put(bad, c.at, c.value, c.width);
        EXPECT_EQ(ParseBytes(bad), "") << c.what;
    }
    // A note whose own sizes run past its section.
    std::string bad = good;
    const std::size_t noteData = good.find("Reelvault") - 12;
    image.Put(bad, noteData, 0xFFFFFFF0u, 4);
    EXPECT_EQ(ParseBytes(bad), "");
    bad = good;
    image.Put(bad, noteData + 4, 0xFFFFFFF0u, 4);
    EXPECT_EQ(ParseBytes(bad), "");
}

}  // namespace
