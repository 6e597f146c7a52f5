// The plain texts a feed item is indexed with, made from its description:
// pure functions, no COM and no XML, so that they are tested and fuzzed alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ZYT {

// Texts no longer than limit characters come back unchanged. A longer one is
// cut at its last space within the first limit characters (the space kept)
// and gets "..." (at most limit + 3 characters then); without such a space
// it keeps limit - 3 characters and the "...".
std::u16string ShortenText(std::u16string_view text, size_t limit);

// A description (HTML, as feeds carry it) as one line of plain text: markup
// from "<" to the next ">" left out, line breaks dropped, runs of spaces
// written once, shortened to kFeedSummaryChars.
inline constexpr size_t kFeedSummaryChars = 320;
inline constexpr size_t kFeedTitleChars = 80;
std::u16string FeedSummaryOf(std::u16string_view description);

// The path a feed item is read from: "\\?\" dropped, and its long UNC form
// "\\?\UNC\server\share\..." written as "\\server\share\...".
std::u16string NormaliseItemPath(std::u16string_view path);

}  // namespace ZYT
