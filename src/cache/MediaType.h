#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cache {

// How many of a body's first bytes the signature test looks at: enough for an MPEG-TS
// packet boundary (188 bytes) to be seen twice.
inline constexpr std::size_t kSniffBytes = 512;

// A Content-Type header value as the program compares it: lower case, without its
// parameters and blanks ("Video/MP4; codecs=x" gives "video/mp4").
std::string NormalizeContentType(std::string_view value);

// True for a type that names audio or video itself: video/*, audio/* or a container
// type such as application/ogg. Playlists (HLS, DASH, PLS) are not media: they only name
// other resources.
bool IsMediaContentType(std::string_view type);

// True when a type tells nothing about the bytes (none, or application/octet-stream and
// its kin): the body's first bytes decide then.
bool IsUnusableContentType(std::string_view type);

// The media type that the first bytes of a body announce, or "" when they are no known
// container: MP4/MOV, WebM/Matroska, FLV, AVI, MPEG-TS, MPEG-PS, Ogg, MP3, ADTS AAC, WAV.
std::string SniffMediaType(const unsigned char* bytes, std::size_t length);

// The type to show for a body whose header said `contentType` and which starts with
// `firstBytes`: the header's type when it is media, the signature's when the header's is
// unusable, else "" (not media).
std::string MediaTypeOf(std::string_view contentType, std::string_view firstBytes);

// The manifest types as the program compares them.
inline constexpr std::string_view kHlsType = "application/vnd.apple.mpegurl";
inline constexpr std::string_view kDashType = "application/dash+xml";

// kHlsType or kDashType for a body that is an adaptive stream's playlist or manifest, by
// its header's type (`contentType`, normalized) or by its first bytes; "" otherwise.
std::string_view ManifestTypeOf(std::string_view contentType, std::string_view firstBytes);

// The usual file name extension of a media type, without the dot; "" when unknown.
std::string ExtensionForType(std::string_view type);

// A name a person recognises for the resource at `url`: its last path segment,
// percent-decoded, else the host. Never holds a "/" or a control character, so it can
// also be proposed as a file name.
std::string DisplayNameFromUrl(std::string_view url);

// True when `text` is valid UTF-8 without NUL characters.
bool IsCleanUtf8(std::string_view text);

}  // namespace cache
