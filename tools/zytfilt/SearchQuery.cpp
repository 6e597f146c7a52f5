#include "tools/zytfilt/SearchQuery.h"

#include <cctype>

namespace ZYT::Index {

namespace {

struct Alias {
  const char* name;
  const char* column;
};
constexpr Alias kAliases[] = {{"artist", "author"},
                              {"type", "contenttype"},
                              {"content-type", "contenttype"},
                              {"content_type", "contenttype"},
                              {"category", "genre"},
                              {"keyword", "keywords"},
                              {"content", "text"}};

bool EqualFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
// Characters with a meaning of their own in FTS5's syntax.
bool IsSyntax(char c) {
  return c == '"' || c == '(' || c == ')' || c == '{' || c == '}' || c == ':' || c == '*' || c == '^' || c == '+' ||
         c == ',';
}
// What FTS5 takes in a bare word.
bool IsBareword(unsigned char c) { return std::isalnum(c) || c == '_' || c == 0x1a || c >= 0x80; }

size_t SkipSpace(std::string_view q, size_t i) {
  while (i < q.size() && IsSpace(q[i])) ++i;
  return i;
}

std::string Column(std::string_view name) {
  int column = ColumnOf(name);
  if (column < 0)
    throw UnknownProperty("unknown property '" + std::string(name) +
                          "' (title, author, artist, genre, subject, from, to, contenttype, keywords, text, other)");
  return kColumns[column];
}

}  // namespace

int ColumnOf(std::string_view name) {
  for (const Alias& alias : kAliases)
    if (EqualFolded(name, alias.name)) name = alias.column;
  for (size_t i = 0; i < kColumnCount; ++i)
    if (EqualFolded(name, kColumns[i])) return static_cast<int>(i);
  return -1;
}

std::string TranslateQuery(std::string_view q) {
  std::string out;
  out.reserve(q.size() + 16);
  size_t i = 0;
  while (i < q.size()) {
    char c = q[i];
    if (c == '"') {
      // A phrase, with "" for a quote inside, up to its closing quote (or the
      // end, which FTS5 then reports).
      size_t end = i + 1;
      while (end < q.size()) {
        if (q[end] == '"') {
          if (end + 1 < q.size() && q[end + 1] == '"') {
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        ++end;
      }
      out.append(q.substr(i, end - i));
      i = end;
    } else if (c == '{') {
      // A set of columns: each name is mapped.
      out += '{';
      ++i;
      for (;;) {
        i = SkipSpace(q, i);
        if (i >= q.size() || q[i] == '}') break;
        size_t start = i;
        while (i < q.size() && !IsSpace(q[i]) && !IsSyntax(q[i])) ++i;
        if (i == start) break;  // something else inside: FTS5 reports it
        if (out.back() != '{') out += ' ';
        out += Column(q.substr(start, i - start));
      }
      if (i < q.size() && q[i] == '}') {
        out += '}';
        ++i;
      }
    } else if (IsSpace(c) || IsSyntax(c)) {
      out += c;
      ++i;
    } else {
      size_t start = i;
      for (; i < q.size() && !IsSpace(q[i]); ++i) {
        // An address ("https://...") is a word, not a column filter.
        if (q[i] == ':' && q.substr(i + 1, 2) == "//") continue;
        if (IsSyntax(q[i])) break;
      }
      std::string_view word = q.substr(start, i - start);
      size_t next = SkipSpace(q, i);
      if (next < q.size() && q[next] == ':') {
        // "-title:" leaves the column out; the dash stays FTS5's.
        if (word.size() > 1 && word[0] == '-') {
          out += "- ";
          word.remove_prefix(1);
        }
        out += Column(word);
        continue;
      }
      if (word == "AND" || word == "OR" || word == "NOT" || word == "NEAR" || word == "-") {
        out.append(word);
        continue;
      }
      bool bare = true, anyToken = false;
      for (unsigned char w : word) {
        bare = bare && IsBareword(w);
        anyToken = anyToken || IsBareword(w);
      }
      if (bare) {
        out.append(word);
      } else if (anyToken) {
        // Its tokens as one phrase, as the tokenizer splits the text.
        out += '"';
        out.append(word);
        out += '"';
      }
      // Punctuation alone would be an empty phrase, which matches nothing.
    }
  }
  return out;
}

}  // namespace ZYT::Index
