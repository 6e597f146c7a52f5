// libFuzzer target: the PDF filter's reading of a document, from the bytes
// through poppler to the pages' text and the information fields, with small
// limits so that the cuts are reached too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "components/pdf/PdfText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  PdfTextLimits limits;
  limits.maxTextChars = size % 2 ? 64 : 1u << 16;
  limits.maxPages = size % 3 ? 4 : 64;
  const PdfText text = ReadPdfText(bytes, limits);
  size_t total = 0;
  for (const std::u16string& page : text.pages) total += page.size();
  if (total > limits.maxTextChars || text.pages.size() > limits.maxPages || text.pages.size() > text.pageCount)
    __builtin_trap();
  if (text.status != PdfText::Status::kRead && (!text.pages.empty() || !text.title.empty())) __builtin_trap();
  if (text.pagesCut && text.pages.size() != limits.maxPages) __builtin_trap();
  return 0;
}
