#include "platform/com/Registrar.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/win32/RegistryFile.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/Strings.h"

namespace ZYT {

namespace {

enum class Mark { Plain, NoRemove, ForceRemove, Delete };

struct Value {
  Mark mark = Mark::Plain;
  std::u16string name;  // empty: the default value
  DWORD type = REG_SZ;
  std::u16string text;
};

struct Key {
  Mark mark = Mark::Plain;
  std::u16string name;
  bool hasDefault = false;
  Value defaultValue;
  std::vector<Value> values;
  std::vector<std::unique_ptr<Key>> children;
};

class Parser {
 public:
  explicit Parser(const std::u16string& text) : m_text(text) {}

  bool ParseScript(std::vector<std::pair<HKEY, std::unique_ptr<Key>>>& roots, std::string& error) {
    try {
      while (SkipSpace(), m_pos < m_text.size()) {
        std::u16string rootName = Word();
        HKEY root = RegRootFromName(rootName);
        if (!root) Fail("unknown root key '" + WideToUtf8(rootName) + "'");
        auto top = std::make_unique<Key>();
        Expect(u'{');
        ParseBody(*top);
        roots.emplace_back(root, std::move(top));
      }
      return true;
    } catch (const std::string& why) {
      error = "line " + std::to_string(Line()) + ": " + why;
      return false;
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& why) { throw why; }

  size_t Line() const {
    size_t line = 1;
    for (size_t i = 0; i < m_pos && i < m_text.size(); ++i) line += m_text[i] == u'\n';
    return line;
  }

  void SkipSpace() {
    while (m_pos < m_text.size() && (m_text[m_pos] == u' ' || m_text[m_pos] == u'\t' || m_text[m_pos] == u'\r' ||
                                     m_text[m_pos] == u'\n'))
      ++m_pos;
  }

  // A brace opens a block only when followed by white space; "{GUID}" is a name.
  bool AtBlock(char16_t brace) {
    SkipSpace();
    if (m_pos >= m_text.size() || m_text[m_pos] != brace) return false;
    return brace == u'}' || m_pos + 1 >= m_text.size() || m_text[m_pos + 1] == u' ' || m_text[m_pos + 1] == u'\t' ||
           m_text[m_pos + 1] == u'\r' || m_text[m_pos + 1] == u'\n';
  }

  void Expect(char16_t c) {
    if (!AtBlock(c)) Fail(std::string("expected '") + static_cast<char>(c) + "'");
    ++m_pos;
  }

  std::u16string Word() {
    SkipSpace();
    if (m_pos >= m_text.size()) Fail("unexpected end of script");
    if (m_text[m_pos] == u'\'') return Quoted();
    size_t start = m_pos;
    while (m_pos < m_text.size() && m_text[m_pos] != u' ' && m_text[m_pos] != u'\t' && m_text[m_pos] != u'\r' &&
           m_text[m_pos] != u'\n' && m_text[m_pos] != u'=' && m_text[m_pos] != u'\'')
      ++m_pos;
    if (start == m_pos) Fail("expected a name");
    return m_text.substr(start, m_pos - start);
  }

  std::u16string Quoted() {
    ++m_pos;  // opening quote
    std::u16string out;
    for (;;) {
      if (m_pos >= m_text.size()) Fail("unterminated string");
      char16_t c = m_text[m_pos++];
      if (c == u'\'') {
        if (m_pos < m_text.size() && m_text[m_pos] == u'\'') {
          out += u'\'';
          ++m_pos;
          continue;
        }
        return out;
      }
      out += c;
    }
  }

  bool PeekEquals() {
    SkipSpace();
    if (m_pos < m_text.size() && m_text[m_pos] == u'=') {
      ++m_pos;
      return true;
    }
    return false;
  }

  void ParseTypedValue(Value& v) {
    std::u16string type = Word();
    SkipSpace();
    if (EqualsNoCase(type, u"s") || EqualsNoCase(type, u"e")) {
      if (m_pos >= m_text.size() || m_text[m_pos] != u'\'') Fail("expected a quoted string");
      v.type = EqualsNoCase(type, u"s") ? REG_SZ : REG_EXPAND_SZ;
      v.text = Quoted();
    } else if (EqualsNoCase(type, u"d")) {
      v.type = REG_DWORD;
      v.text = m_pos < m_text.size() && m_text[m_pos] == u'\'' ? Quoted() : Word();
    } else {
      Fail("unknown value type '" + WideToUtf8(type) + "'");
    }
  }

  Mark ReadMark(std::u16string& word) {
    if (EqualsNoCase(word, u"NoRemove")) return word = Word(), Mark::NoRemove;
    if (EqualsNoCase(word, u"ForceRemove")) return word = Word(), Mark::ForceRemove;
    if (EqualsNoCase(word, u"Delete")) return word = Word(), Mark::Delete;
    return Mark::Plain;
  }

  void ParseBody(Key& key) {
    for (;;) {
      if (AtBlock(u'}')) {
        ++m_pos;
        return;
      }
      if (m_pos >= m_text.size()) Fail("missing '}'");
      bool quoted = m_text[m_pos] == u'\'';
      std::u16string word = Word();
      Mark mark = quoted ? Mark::Plain : ReadMark(word);
      if (!quoted && EqualsNoCase(word, u"val")) {
        Value v;
        v.mark = mark;
        v.name = Word();
        if (!PeekEquals()) Fail("expected '=' after the value name");
        ParseTypedValue(v);
        key.values.push_back(std::move(v));
        continue;
      }
      auto child = std::make_unique<Key>();
      child->mark = mark;
      child->name = word;
      if (PeekEquals()) {
        child->hasDefault = true;
        ParseTypedValue(child->defaultValue);
      }
      if (AtBlock(u'{')) {
        ++m_pos;
        ParseBody(*child);
      }
      key.children.push_back(std::move(child));
    }
  }

  const std::u16string& m_text;
  size_t m_pos = 0;
};

HRESULT FromWin32(LONG rc) { return HRESULT_FROM_WIN32(static_cast<DWORD>(rc)); }

LONG WriteValue(HKEY key, const Value& v) {
  if (v.type == REG_DWORD) {
    std::string digits = WideToUtf8(v.text);
    char* end = nullptr;
    DWORD d = static_cast<DWORD>(std::strtoul(digits.c_str(), &end, 0));
    if (digits.empty() || *end) return ERROR_INVALID_DATA;
    return RegSetValueExW(key, v.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), sizeof d);
  }
  return RegSetValueExW(key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.text.c_str()),
                        static_cast<DWORD>((v.text.size() + 1) * sizeof(WCHAR)));
}

LONG RegisterKey(HKEY parent, const Key& key) {
  if (key.mark == Mark::ForceRemove) {
    LONG rc = RegDeleteTreeW(parent, key.name.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
  }
  if (key.mark == Mark::Delete) return ERROR_SUCCESS;
  CRegKey handle;
  LONG rc = handle.Create(parent, key.name.c_str(), KEY_ALL_ACCESS);
  if (rc != ERROR_SUCCESS) return rc;
  if (key.hasDefault && (rc = WriteValue(handle, key.defaultValue)) != ERROR_SUCCESS) return rc;
  for (const Value& v : key.values)
    if (v.mark != Mark::Delete && (rc = WriteValue(handle, v)) != ERROR_SUCCESS) return rc;
  for (const auto& child : key.children)
    if ((rc = RegisterKey(handle, *child)) != ERROR_SUCCESS) return rc;
  return ERROR_SUCCESS;
}

LONG UnregisterKey(HKEY parent, const Key& key) {
  if (key.mark == Mark::ForceRemove || key.mark == Mark::Delete) {
    LONG rc = RegDeleteTreeW(parent, key.name.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  CRegKey handle;
  LONG rc = handle.Open(parent, key.name.c_str(), KEY_ALL_ACCESS);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return rc;
  for (const auto& child : key.children)
    if ((rc = UnregisterKey(handle, *child)) != ERROR_SUCCESS) return rc;
  for (const Value& v : key.values) {
    if (v.mark == Mark::NoRemove) continue;
    rc = RegDeleteValueW(handle, v.name.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
  }
  if (key.mark == Mark::NoRemove) return ERROR_SUCCESS;
  if (key.hasDefault) RegDeleteValueW(handle, nullptr);
  DWORD subkeys = 0, values = 0;
  rc = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                        nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  handle.Close();
  if (subkeys == 0 && values == 0) {
    rc = RegDeleteKeyW(parent, key.name.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
  }
  return ERROR_SUCCESS;
}

}  // namespace

HRESULT CRegistrar::Register(const std::u16string& script) { return Run(script, true); }
HRESULT CRegistrar::Unregister(const std::u16string& script) { return Run(script, false); }

HRESULT CRegistrar::Run(const std::u16string& script, bool doRegister) {
  m_error.clear();
  std::u16string text = script;
  for (const auto& [key, value] : m_replacements) {
    std::u16string quoted;
    for (char16_t c : value) {
      quoted += c;
      if (c == u'\'') quoted += u'\'';
    }
    for (size_t pos = 0; (pos = text.find(key, pos)) != std::u16string::npos; pos += quoted.size())
      text.replace(pos, key.size(), quoted);
  }
  std::vector<std::pair<HKEY, std::unique_ptr<Key>>> roots;
  Parser parser(text);
  if (!parser.ParseScript(roots, m_error)) return E_INVALIDARG;
  for (const auto& [root, top] : roots) {
    for (const auto& key : top->children) {
      LONG rc = doRegister ? RegisterKey(root, *key) : UnregisterKey(root, *key);
      if (rc != ERROR_SUCCESS) {
        m_error = "cannot " + std::string(doRegister ? "write" : "remove") + " " + WideToUtf8(key->name);
        return FromWin32(rc);
      }
    }
  }
  return S_OK;
}

}  // namespace ZYT
