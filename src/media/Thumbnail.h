#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "media/MediaFacts.h"

// Thumbnails as the freedesktop Thumbnail Managing Standard keeps them, so that file
// managers share ours and we theirs: $XDG_CACHE_HOME/thumbnails/<size>/<md5 of URI>.png,
// each PNG carrying the URI and the modification time of the file it shows.
namespace media {

constexpr char kThumbUri[] = "Thumb::URI";
constexpr char kThumbMTime[] = "Thumb::MTime";
constexpr char kThumbSize[] = "Thumb::Size";

// The two sizes of the standard: its folder name and the longer side in pixels.
struct ThumbnailSize {
    const char* folder;
    int side;
};
constexpr ThumbnailSize kNormalThumbnail{"normal", 128};
constexpr ThumbnailSize kLargeThumbnail{"large", 256};

// The file:// URI of absolute `path`, escaped as GLib escapes it (the digest of this exact
// text names the thumbnail, so it must agree byte for byte with other programs).
std::string FileUri(const std::string& path);

// Lower-case hex MD5 of `text`.
std::string Md5Hex(std::string_view text);

// `cacheHome`/thumbnails/`size.folder`/<md5 of uri>.png
std::string ThumbnailPath(const std::string& cacheHome, const ThumbnailSize& size,
                          const std::string& uri);

// `png` with a tEXt chunk per entry of `texts` right after its header chunk. Empty when
// `png` does not begin with a PNG signature and header.
std::string InsertPngTexts(std::string_view png, const std::vector<PngText>& texts);

// The tEXt chunks of a whole PNG. False when `png` is not a complete PNG (signature, chunks
// that fit, an end chunk, checksums that match): a file cut short by a crash is refused.
bool ReadPngTexts(std::string_view png, std::vector<PngText>& texts);

// The value of `key` in `texts`, or null.
const std::string* FindPngText(const std::vector<PngText>& texts, std::string_view key);

// Whether the thumbnail file at `path` is one of the file with `uri` as it was at `mtime`
// (seconds): what a reader checks before it trusts a thumbnail instead of making it anew.
bool ThumbnailIsCurrent(const std::string& path, const std::string& uri, std::int64_t mtime);

}  // namespace media
