#include "filters/items/FeedSummary.h"

namespace ZYT {

std::u16string ShortenText(std::u16string_view text, size_t limit) {
  if (text.size() <= limit) return std::u16string(text);
  std::u16string_view kept = text.substr(0, limit);
  size_t space = kept.rfind(u' ');
  std::u16string out(space != std::u16string_view::npos ? kept.substr(0, space + 1)
                                                        : kept.substr(0, limit < 3 ? 0 : limit - 3));
  out += u"...";
  return out;
}

std::u16string FeedSummaryOf(std::u16string_view description) {
  std::u16string text;
  size_t i = 0;
  // Building stops once the text is past the limit: the rest could only be cut.
  while (i < description.size() && text.size() <= kFeedSummaryChars) {
    char16_t c = description[i++];
    if (c == u'\n' || c == u'\r') continue;
    if (c == u' ') {
      text += c;
      while (i < description.size() && description[i] == u' ') ++i;
    } else if (c == u'<') {
      size_t end = description.find(u'>', i);
      i = end == std::u16string_view::npos ? description.size() : end + 1;
    } else {
      text += c;
    }
  }
  return ShortenText(text, kFeedSummaryChars);
}

std::u16string NormaliseItemPath(std::u16string_view path) {
  constexpr std::u16string_view kLongPrefix = u"\\\\?\\", kUnc = u"UNC\\";
  if (path.starts_with(kLongPrefix)) path.remove_prefix(kLongPrefix.size());
  else return std::u16string(path);
  if (path.starts_with(kUnc)) return u"\\\\" + std::u16string(path.substr(kUnc.size()));
  return std::u16string(path);
}

}  // namespace ZYT
