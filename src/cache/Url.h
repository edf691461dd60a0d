#pragma once

#include <string>
#include <string_view>

namespace cache {

// `reference` (a link as written in a playlist or manifest) made absolute against `base`,
// the address of the document it was read from, as a browser does before it fetches it:
// relative paths and "." / ".." segments resolved, the query kept, the fragment dropped,
// scheme and host in lower case, credentials and a default port left out, blanks and bytes outside
// ASCII percent-encoded. "" when the result is not an http or https address (file:, data:, blob:
// and the like are never fetched into a cache we read) or `base` cannot anchor a relative
// reference.
std::string ResolveUrl(std::string_view base, std::string_view reference);

}  // namespace cache
