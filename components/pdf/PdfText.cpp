#include "components/pdf/PdfText.h"

#include <climits>
#include <memory>

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

namespace {

// poppler reports each repair it makes of a broken file on stderr unless told
// otherwise; a filter runs inside the indexer, whose terminal is not ours,
// and the filter's own answer already says what matters about the file.
void DropPopplerMessage(const std::string&, void*) {}

std::u16string Wide(const poppler::ustring& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

PdfText ReadPdfText(const std::string& bytes, const PdfTextLimits& limits) {
  static const bool quiet = (poppler::set_debug_error_function(&DropPopplerMessage, nullptr), true);
  (void)quiet;
  PdfText result;
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX)) return result;
  // The bytes are borrowed, not copied: they outlive the document.
  std::unique_ptr<poppler::document> document(
      poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
  if (!document) return result;
  if (document->is_locked()) {
    result.status = PdfText::Status::kLocked;
    return result;
  }
  const int pages = document->pages();
  if (pages <= 0) return result;
  result.status = PdfText::Status::kRead;
  result.pageCount = static_cast<size_t>(pages);
  result.title = Wide(document->get_title());
  result.author = Wide(document->get_author());
  result.subject = Wide(document->get_subject());
  result.keywords = Wide(document->get_keywords());
  size_t room = limits.maxTextChars;
  for (int i = 0; i < pages; ++i) {
    if (static_cast<size_t>(i) >= limits.maxPages) {
      result.pagesCut = true;
      break;
    }
    std::unique_ptr<poppler::page> page(document->create_page(i));
    std::u16string text;
    // Reading order, as a reader of the page would take it, not the order of
    // the drawing operators.
    if (page) text = Wide(page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout));
    // poppler ends each line with a line feed and the page with a form feed.
    while (!text.empty() && (text.back() == u'\f' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
    if (text.size() > room) {
      size_t cut = room;
      if (cut > 0 && IsHighSurrogate(text[cut - 1])) --cut;  // never half a character
      text.resize(cut);
      result.textCut = true;
    }
    room -= text.size();
    result.pages.push_back(std::move(text));
    if (result.textCut) break;
  }
  return result;
}
