// libFuzzer target: the feed item filter's summary of a description (taken
// as UTF-16LE code units), its title cut, and the long-path rewriting.
#include <cstddef>
#include <cstdint>
#include <string>

#include "filters/items/FeedSummary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);

  const std::u16string summary = ZYT::FeedSummaryOf(text);
  if (summary.size() > ZYT::kFeedSummaryChars + 3) __builtin_trap();
  if (summary.find_first_of(u"<\r\n") != std::u16string::npos) __builtin_trap();
  // A summary without the dots is the whole plain text, which is never longer.
  const bool cut = summary.size() >= 3 && summary.compare(summary.size() - 3, 3, u"...") == 0;
  if (!cut && summary.size() > ZYT::kFeedSummaryChars) __builtin_trap();
  const std::u16string title = ZYT::ShortenText(summary, ZYT::kFeedTitleChars);
  if (title.size() > ZYT::kFeedTitleChars + 3) __builtin_trap();
  if (summary.size() <= ZYT::kFeedTitleChars && title != summary) __builtin_trap();

  if (ZYT::NormaliseItemPath(text).size() > text.size()) __builtin_trap();
  return 0;
}
