#include "platform/win32/RegistryFile.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/com/ComError.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"

namespace {

struct RootName {
  HKEY root;
  const char16_t* name;
  const char16_t* shortName;
};

const RootName kRoots[] = {
    {HKEY_LOCAL_MACHINE, u"HKEY_LOCAL_MACHINE", u"HKLM"},
    {HKEY_CURRENT_USER, u"HKEY_CURRENT_USER", u"HKCU"},
    {HKEY_CLASSES_ROOT, u"HKEY_CLASSES_ROOT", u"HKCR"},
    {HKEY_USERS, u"HKEY_USERS", u"HKU"},
};

class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (m_key) RegCloseKey(m_key);
  }
  HKEY* put() {
    Reset();
    return &m_key;
  }
  void Reset() {
    if (m_key) RegCloseKey(m_key);
    m_key = nullptr;
  }
  HKEY get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

std::string Quote(std::u16string_view text) {
  std::string out = "\"";
  for (char c : ZYT::WideToUtf8(text)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

void AppendHex(std::string& out, const std::string& head, const std::vector<BYTE>& data) {
  size_t column = head.size();
  out += head;
  char byte[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    out += byte;
    column += 2;
    if (i + 1 < data.size()) {
      out += ',';
      ++column;
      if (column > 76) {
        out += "\\\n  ";
        column = 2;
      }
    }
  }
  out += '\n';
}

// A REG_SZ that regedit can write as a quoted string and read back unchanged.
bool IsPlainString(const std::vector<BYTE>& data) {
  if (data.size() < 2 || data.size() % 2) return false;
  size_t n = data.size() / 2;
  std::u16string text(n, u'\0');
  std::memcpy(text.data(), data.data(), data.size());
  if (text.back() != 0) return false;
  text.pop_back();
  return text.find(u'\0') == std::u16string::npos && text.find_first_of(u"\r\n") == std::u16string::npos;
}

void ExportValue(std::string& out, const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
  std::string head = name.empty() ? "@=" : Quote(name) + "=";
  if (type == REG_SZ && IsPlainString(data)) {
    std::u16string text(data.size() / 2 - 1, u'\0');
    std::memcpy(text.data(), data.data(), text.size() * 2);
    out += head + Quote(text) + "\n";
  } else if (type == REG_DWORD && data.size() == 4) {
    DWORD v;
    std::memcpy(&v, data.data(), 4);
    char text[24];
    std::snprintf(text, sizeof text, "dword:%08x", v);
    out += head + text + "\n";
  } else if (type == REG_BINARY) {
    AppendHex(out, head + "hex:", data);
  } else {
    char tag[16];
    std::snprintf(tag, sizeof tag, "hex(%x):", type);
    AppendHex(out, head + tag, data);
  }
}

// A key's header line and its values.
LONG ExportValues(HKEY key, const std::u16string& fullName, std::vector<WCHAR>& name, std::string& out) {
  out += "\n[" + ZYT::WideToUtf8(fullName) + "]\n";
  for (DWORD i = 0;; ++i) {
    DWORD cch = static_cast<DWORD>(name.size()), type = 0, cb = 0;
    LONG rc = RegEnumValueW(key, i, name.data(), &cch, nullptr, &type, nullptr, &cb);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    std::vector<BYTE> data(cb);
    cch = static_cast<DWORD>(name.size());
    rc = RegEnumValueW(key, i, name.data(), &cch, nullptr, &type, data.data(), &cb);
    if (rc != ERROR_SUCCESS) return rc;
    data.resize(cb);
    ExportValue(out, std::u16string(name.data(), cch), type, data);
  }
  return ERROR_SUCCESS;
}

// The key and everything below it, parents before children. Keys nest as deep
// as the store allows, so the walk keeps its own stack rather than the thread's.
LONG ExportTree(HKEY top, const std::u16string& topName, std::string& out) {
  struct Level {
    Key owned;
    HKEY key = nullptr;
    std::u16string name;
    DWORD next = 0;  // the next subkey to visit
  };
  std::vector<WCHAR> name(16384);
  std::vector<std::unique_ptr<Level>> stack;
  stack.push_back(std::make_unique<Level>());
  stack.back()->key = top;
  stack.back()->name = topName;
  LONG rc = ExportValues(top, topName, name, out);
  while (rc == ERROR_SUCCESS && !stack.empty()) {
    Level& level = *stack.back();
    DWORD cch = 256;
    rc = RegEnumKeyExW(level.key, level.next, name.data(), &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) {
      stack.pop_back();
      rc = ERROR_SUCCESS;
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    ++level.next;
    auto child = std::make_unique<Level>();
    rc = RegOpenKeyExW(level.key, name.data(), 0, KEY_READ, child->owned.put());
    if (rc != ERROR_SUCCESS) break;
    child->key = child->owned.get();
    child->name = level.name + u"\\" + std::u16string(name.data(), cch);
    rc = ExportValues(child->key, child->name, name, out);
    stack.push_back(std::move(child));
  }
  return rc;
}

std::string Reason(LONG rc) {
  std::u16string text = ZYT::SystemMessage(HRESULT_FROM_WIN32(static_cast<DWORD>(rc)));
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
  std::string reason = text.empty() ? "error " + std::to_string(rc) : ZYT::WideToUtf8(text);
  if (rc == ERROR_ACCESS_DENIED && ZYT::RegistryStoreIsReadOnly())
    reason += " (" + ZYT::RegistryStorePath() + " is read-only for this user)";
  return reason;
}

std::string DecodeText(const std::string& raw) {
  if (raw.size() >= 2 && static_cast<BYTE>(raw[0]) == 0xFF && static_cast<BYTE>(raw[1]) == 0xFE) {
    std::u16string wide((raw.size() - 2) / 2, u'\0');
    std::memcpy(wide.data(), raw.data() + 2, wide.size() * 2);
    return ZYT::WideToUtf8(wide);
  }
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
  return raw;
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

// Splits "ROOT\rest" into the root handle and the rest.
bool SplitKeyName(const std::string& name, HKEY& root, std::u16string& rest) {
  std::u16string wide = ZYT::Utf8ToWide(name);
  size_t slash = wide.find(u'\\');
  root = ZYT::RegRootFromName(wide.substr(0, slash));
  rest = slash == std::u16string::npos ? std::u16string() : wide.substr(slash + 1);
  return root != nullptr;
}

bool ParseQuoted(const std::string& line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < line.size()) {
    char c = line[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < line.size()) c = line[pos++];
    out += c;
  }
  return false;
}

bool ParseHexBytes(const std::string& text, std::vector<BYTE>& out) {
  out.clear();
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    if (pos >= text.size()) break;
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str() + pos, &end, 16);
    size_t used = static_cast<size_t>(end - (text.c_str() + pos));
    if (used == 0 || used > 2 || v > 0xFF) return false;
    out.push_back(static_cast<BYTE>(v));
    pos += used;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    if (pos < text.size()) {
      if (text[pos] != ',') return false;
      ++pos;
    }
  }
  return true;
}

}  // namespace

namespace ZYT {

const char16_t* RegRootName(HKEY root) {
  for (const RootName& r : kRoots)
    if (r.root == root) return r.name;
  return nullptr;
}

HKEY RegRootFromName(const std::u16string& name) {
  for (const RootName& r : kRoots)
    if (EqualsNoCase(name, r.name) || EqualsNoCase(name, r.shortName)) return r.root;
  return nullptr;
}

LONG RegExportKey(HKEY root, const std::u16string& subKey, std::string& text) {
  const char16_t* rootName = RegRootName(root);
  if (!rootName) return ERROR_INVALID_HANDLE;
  Key key;
  LONG rc = RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.put());
  if (rc != ERROR_SUCCESS) return rc;
  text = "Windows Registry Editor Version 5.00\n";
  std::u16string fullName = rootName;
  if (!subKey.empty()) fullName += u"\\" + subKey;
  rc = ExportTree(key.get(), fullName, text);
  if (rc == ERROR_SUCCESS) text += "\n";
  return rc;
}

LONG RegImportText(const std::string& raw, std::string& error) {
  std::string text = DecodeText(raw);
  std::vector<std::string> lines;
  std::vector<size_t> numbers;
  {
    size_t pos = 0, number = 0;
    std::string pending;
    size_t pendingNumber = 0;
    while (pos <= text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (pending.empty()) pendingNumber = number;
      std::string trimmed = pending.empty() ? line : Trim(line);
      // A hex value continues on the next line after a trailing backslash.
      std::string t = Trim(trimmed);
      if (!t.empty() && t.back() == '\\' && (!pending.empty() || t.find("=hex") != std::string::npos)) {
        t.pop_back();
        pending += t;
        continue;
      }
      pending += trimmed;
      lines.push_back(pending);
      numbers.push_back(pendingNumber);
      pending.clear();
    }
  }
  size_t first = 0;
  while (first < lines.size() && Trim(lines[first]).empty()) ++first;
  if (first == lines.size() ||
      (Trim(lines[first]) != "Windows Registry Editor Version 5.00" && Trim(lines[first]) != "REGEDIT4")) {
    error = "line 1: not a registry file (expected \"Windows Registry Editor Version 5.00\")";
    return ERROR_BADDB;
  }
  // The whole file is one transaction: other processes see the registry
  // before it or after it, and a failure or a kill half-way leaves nothing.
  CRegistryTransaction transaction;
  if (transaction.Status() != ERROR_SUCCESS) {
    error = "cannot write the registry: " + Reason(transaction.Status());
    return transaction.Status();
  }
  Key current;
  bool haveKey = false;
  auto fail = [&](size_t i, const std::string& why, LONG rc = ERROR_BADDB) {
    error = "line " + std::to_string(numbers[i]) + ": " + why + (rc == ERROR_BADDB ? "" : ": " + Reason(rc));
    return rc;
  };
  for (size_t i = first + 1; i < lines.size(); ++i) {
    std::string line = Trim(lines[i]);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return fail(i, "key name without closing bracket");
      bool remove = line.size() > 1 && line[1] == '-';
      std::string name = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
      HKEY root;
      std::u16string rest;
      if (!SplitKeyName(name, root, rest)) return fail(i, "unknown root key in [" + name + "]");
      current.Reset();
      haveKey = false;
      if (remove) {
        LONG rc = rest.empty() ? ERROR_ACCESS_DENIED : RegDeleteTreeW(root, rest.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return fail(i, "cannot delete [" + name + "]", rc);
        continue;
      }
      LONG rc = RegCreateKeyExW(root, rest.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, current.put(), nullptr);
      if (rc != ERROR_SUCCESS) return fail(i, "cannot create [" + name + "]", rc);
      haveKey = true;
      continue;
    }
    if (!haveKey) return fail(i, "value outside a key");
    size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ParseQuoted(line, pos, name)) {
      return fail(i, "bad value name");
    }
    if (pos >= line.size() || line[pos] != '=') return fail(i, "expected '=' after the value name");
    ++pos;
    std::string data = Trim(line.substr(pos));
    std::u16string wideName = Utf8ToWide(name);
    if (data == "-") {
      LONG rc = RegDeleteValueW(current.get(), wideName.c_str());
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return fail(i, "cannot delete value", rc);
      continue;
    }
    DWORD type;
    std::vector<BYTE> bytes;
    if (!data.empty() && data[0] == '"') {
      size_t p = 0;
      std::string value;
      if (!ParseQuoted(data, p, value) || Trim(data.substr(p)).size()) return fail(i, "bad string value");
      std::u16string wide = Utf8ToWide(value);
      bytes.resize((wide.size() + 1) * 2);
      std::memcpy(bytes.data(), wide.c_str(), bytes.size());
      type = REG_SZ;
    } else if (data.rfind("dword:", 0) == 0) {
      std::string digits = data.substr(6);
      char* end = nullptr;
      unsigned long v = std::strtoul(digits.c_str(), &end, 16);
      if (digits.empty() || digits.size() > 8 || *end) return fail(i, "bad dword value");
      DWORD d = static_cast<DWORD>(v);
      bytes.resize(4);
      std::memcpy(bytes.data(), &d, 4);
      type = REG_DWORD;
    } else if (data.rfind("hex", 0) == 0) {
      size_t colon = data.find(':');
      if (colon == std::string::npos) return fail(i, "bad hex value");
      std::string tag = data.substr(3, colon - 3);
      if (tag.empty()) {
        type = REG_BINARY;
      } else if (tag.size() > 2 && tag.front() == '(' && tag.back() == ')') {
        char* end = nullptr;
        type = static_cast<DWORD>(std::strtoul(tag.c_str() + 1, &end, 16));
        if (*end != ')') return fail(i, "bad hex type");
      } else {
        return fail(i, "bad hex type");
      }
      if (!ParseHexBytes(data.substr(colon + 1), bytes)) return fail(i, "bad hex bytes");
    } else {
      return fail(i, "unknown value format");
    }
    LONG rc = RegSetValueExW(current.get(), wideName.c_str(), 0, type, bytes.data(),
                             static_cast<DWORD>(bytes.size()));
    if (rc != ERROR_SUCCESS) return fail(i, "cannot set value", rc);
  }
  current.Reset();
  if (LONG rc = transaction.Commit(); rc != ERROR_SUCCESS) {
    error = "cannot commit the import: " + Reason(rc);
    return rc;
  }
  return ERROR_SUCCESS;
}

}  // namespace ZYT
