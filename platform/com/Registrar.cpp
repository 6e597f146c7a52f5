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
    // Registering walks the keys recursively; no key can be deeper anyway.
    if (++m_depth > 512) Fail("keys nested deeper than 512 levels");
    for (;;) {
      if (AtBlock(u'}')) {
        ++m_pos;
        --m_depth;
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
  int m_depth = 0;
};

HRESULT FromWin32(LONG rc) { return HRESULT_FROM_WIN32(static_cast<DWORD>(rc)); }

// The bytes a script value stores; false for a DWORD that is not a number.
bool ValueBytes(const Value& v, std::vector<BYTE>& bytes) {
  if (v.type == REG_DWORD) {
    std::string digits = WideToUtf8(v.text);
    char* end = nullptr;
    DWORD d = static_cast<DWORD>(std::strtoul(digits.c_str(), &end, 0));
    if (digits.empty() || *end) return false;
    bytes.assign(reinterpret_cast<const BYTE*>(&d), reinterpret_cast<const BYTE*>(&d) + sizeof d);
    return true;
  }
  auto text = reinterpret_cast<const BYTE*>(v.text.c_str());
  bytes.assign(text, text + (v.text.size() + 1) * sizeof(WCHAR));
  return true;
}

// Writes a value unless it already holds exactly this: registering again
// changes nothing, so readers in other processes never see a difference.
LONG WriteValue(HKEY key, const Value& v) {
  std::vector<BYTE> bytes;
  if (!ValueBytes(v, bytes)) return ERROR_INVALID_DATA;
  DWORD type = REG_NONE, size = 0;
  const WCHAR* name = v.name.empty() ? nullptr : v.name.c_str();
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == v.type &&
      size == bytes.size()) {
    std::vector<BYTE> current(size);
    if (RegQueryValueExW(key, name, nullptr, &type, current.data(), &size) == ERROR_SUCCESS && current == bytes)
      return ERROR_SUCCESS;
  }
  return RegSetValueExW(key, name, 0, v.type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

// Removes what the script does not name from a key that it states whole.
LONG RemoveOthers(HKEY handle, const Key& key) {
  std::vector<std::u16string> doomedValues, doomedKeys;
  std::vector<WCHAR> name(16384);
  for (DWORD i = 0;; ++i) {
    DWORD cch = static_cast<DWORD>(name.size());
    LONG rc = RegEnumValueW(handle, i, name.data(), &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    std::u16string found(name.data(), cch);
    bool named = found.empty() ? key.hasDefault : false;
    for (const Value& v : key.values)
      named = named || (v.mark != Mark::Delete && EqualsNoCase(v.name, found));
    if (!named) doomedValues.push_back(found);
  }
  for (DWORD i = 0;; ++i) {
    DWORD cch = 256;
    LONG rc = RegEnumKeyExW(handle, i, name.data(), &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    std::u16string found(name.data(), cch);
    bool named = false;
    for (const auto& child : key.children)
      named = named || (child->mark != Mark::Delete && EqualsNoCase(child->name, found));
    if (!named) doomedKeys.push_back(found);
  }
  for (const std::u16string& v : doomedValues)
    if (LONG rc = RegDeleteValueW(handle, v.empty() ? nullptr : v.c_str()); rc != ERROR_SUCCESS) return rc;
  for (const std::u16string& k : doomedKeys)
    if (LONG rc = RegDeleteTreeW(handle, k.c_str()); rc != ERROR_SUCCESS) return rc;
  return ERROR_SUCCESS;
}

// A ForceRemove key, and everything below it, ends up exactly as the script
// states it. It is brought there in place rather than deleted and written
// anew, so that a key that is already right keeps its identity: another
// process holding it open does not find it deleted under its handle.
LONG RegisterKey(HKEY parent, const Key& key, bool whole) {
  if (key.mark == Mark::Delete) {
    LONG rc = RegDeleteTreeW(parent, key.name.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  whole = whole || key.mark == Mark::ForceRemove;
  CRegKey handle;
  LONG rc = handle.Create(parent, key.name.c_str(), KEY_ALL_ACCESS);
  if (rc != ERROR_SUCCESS) return rc;
  if (whole && (rc = RemoveOthers(handle, key)) != ERROR_SUCCESS) return rc;
  if (key.hasDefault && (rc = WriteValue(handle, key.defaultValue)) != ERROR_SUCCESS) return rc;
  for (const Value& v : key.values)
    if (v.mark != Mark::Delete && (rc = WriteValue(handle, v)) != ERROR_SUCCESS) return rc;
  for (const auto& child : key.children)
    if ((rc = RegisterKey(handle, *child, whole)) != ERROR_SUCCESS) return rc;
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
      LONG rc = doRegister ? RegisterKey(root, *key, false) : UnregisterKey(root, *key);
      if (rc != ERROR_SUCCESS) {
        m_error = "cannot " + std::string(doRegister ? "write" : "remove") + " " + WideToUtf8(key->name);
        return FromWin32(rc);
      }
    }
  }
  return S_OK;
}

}  // namespace ZYT
