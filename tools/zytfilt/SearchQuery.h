// What a user types after 'zytfilt search', turned into an FTS5 query of the
// index's columns.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace ZYT::Index {

// A property name that is not one of the index's columns.
class UnknownProperty : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The index's columns in their order in the FTS5 table.
inline constexpr const char* kColumns[] = {"text", "title", "author",      "genre",    "subject",
                                           "from", "to",    "contenttype", "keywords", "other"};
inline constexpr size_t kColumnCount = sizeof kColumns / sizeof kColumns[0];

// The column a property name (any case; "artist", "type", "content-type",
// "category", "keyword" are other names of columns) stands for; -1 if none.
int ColumnOf(std::string_view name);

// FTS5 query syntax passes through; property names before ':' (and inside
// '{...}') become column names, throwing UnknownProperty for one that is not;
// a word with characters FTS5 does not take in a bare word (an address, a
// MIME type, "e-mail") becomes a phrase of its own; a word of punctuation
// alone is dropped. What FTS5 then cannot parse is its to report.
std::string TranslateQuery(std::string_view query);

}  // namespace ZYT::Index
