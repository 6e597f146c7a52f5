// What a PDF document says in words: the text of each page and the fields of
// its information dictionary. Bytes in, a plain struct out (poppler does the
// reading); no COM, so that it is fuzzed and tested alone.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct PdfTextLimits {
  size_t maxTextChars = 8u << 20;  // all pages together, UTF-16 code units
  size_t maxPages = 10000;         // pages read; the others are left out
};

struct PdfText {
  enum class Status {
    kRead,     // the fields below hold what the document says
    kLocked,   // encrypted, and the empty user password does not open it
    kDamaged,  // not a PDF, or one that cannot be repaired
  };
  Status status = Status::kDamaged;
  std::u16string title, author, subject, keywords;
  std::vector<std::u16string> pages;  // in page order; a page without text is empty
  size_t pageCount = 0;               // the document's pages, read or not
  bool textCut = false;               // maxTextChars ended the text inside `pages`
  bool pagesCut = false;              // maxPages left pages out
};

PdfText ReadPdfText(const std::string& bytes, const PdfTextLimits& limits);
