#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Cuts what the player prints into lines, read by read. CR LF, a lone LF and a lone CR
// each end a line (an LF right after a CR completes the pair, even when the two arrive in
// different reads); NUL bytes are dropped wherever they are and end nothing. Only the
// first `maxLength` bytes of a line are kept: the rest is passed over as it arrives, so a
// player that never ends its line costs neither memory nor time beyond one look at each
// byte.
class OutputLines {
  public:
    using LineSink = std::function<void(const std::string& line)>;

    explicit OutputLines(std::size_t maxLength);

    // Hands every line that `chunk` finishes, if it is not empty, to `onLine` in order.
    void Feed(std::string_view chunk, const LineSink& onLine);

    // What has arrived of the line not finished yet (at most maxLength bytes).
    const std::string& Unfinished() const { return line; }

  private:
    const std::size_t maxLength;
    std::string line;
    bool afterCr = false;  // the last byte that was not NUL ended a line with CR
};
