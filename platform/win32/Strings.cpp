#include "platform/win32/Strings.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>

#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

namespace {

std::atomic<UINT> g_acp{0};
std::atomic<UINT> g_oemcp{0};

UINT ReadCodePage(const char16_t* valueName) {
  HKEY key = nullptr;
  UINT cp = CP_UTF8;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0,
                    KEY_READ, &key) == ERROR_SUCCESS) {
    WCHAR buffer[16] = {};
    DWORD cb = sizeof(buffer) - sizeof(WCHAR);
    DWORD type = 0;
    if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &cb) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
      UINT v = 0;
      bool digits = buffer[0] != 0;
      for (WCHAR* p = buffer; *p; ++p) {
        if (*p < u'0' || *p > u'9') {
          digits = false;
          break;
        }
        v = v * 10 + (*p - u'0');
      }
      if (digits && v) cp = v;
    }
    RegCloseKey(key);
  }
  return cp;
}

UINT Resolve(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
    case CP_THREAD_ACP: return GetACP();
    case CP_OEMCP: return GetOEMCP();
    default: return codePage;
  }
}

struct ConverterDeleter {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterDeleter>;

// Converters are not thread-safe; each thread keeps its own, one per code page.
UConverter* ConverterFor(UINT codePage) {
  thread_local std::map<UINT, ConverterPtr> cache;
  auto it = cache.find(codePage);
  if (it != cache.end()) return it->second.get();
  std::string names[4];
  switch (codePage) {
    case 20127: names[0] = "US-ASCII"; break;
    case 28591: names[0] = "ISO-8859-1"; break;
    case 65000: names[0] = "UTF-7"; break;
    case 1200: names[0] = "UTF-16LE"; break;
    default: break;
  }
  names[1] = "windows-" + std::to_string(codePage);
  names[2] = "cp" + std::to_string(codePage);
  names[3] = "ibm-" + std::to_string(codePage);
  UConverter* conv = nullptr;
  for (const std::string& name : names) {
    if (name.empty()) continue;
    UErrorCode status = U_ZERO_ERROR;
    conv = ucnv_open(name.c_str(), &status);
    if (U_SUCCESS(status) && conv) break;
    conv = nullptr;
  }
  cache.emplace(codePage, ConverterPtr(conv));
  return conv;
}

// Multi-byte to UTF-16; false on an unknown code page or, when strict, invalid input.
bool Decode(UINT codePage, const char* src, size_t n, bool strict, std::u16string& out, DWORD& error) {
  out.clear();
  if (n == 0) return true;
  if (codePage == CP_UTF8) {
    // Text that is all ASCII (most mail and markup) is widened as it is:
    // ICU measures first and converts then, two passes for nothing.
    size_t ascii = 0;
    while (ascii < n && static_cast<unsigned char>(src[ascii]) < 0x80) ++ascii;
    if (ascii == n) {
      out.resize(n);
      for (size_t i = 0; i < n; ++i) out[i] = static_cast<char16_t>(src[i]);
      return true;
    }
    int32_t len = 0;
    UErrorCode status = U_ZERO_ERROR;
    if (strict)
      u_strFromUTF8(nullptr, 0, &len, src, static_cast<int32_t>(n), &status);
    else
      u_strFromUTF8WithSub(nullptr, 0, &len, src, static_cast<int32_t>(n), 0xFFFD, nullptr, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
      error = ERROR_NO_UNICODE_TRANSLATION;
      return false;
    }
    out.resize(static_cast<size_t>(len));
    status = U_ZERO_ERROR;
    if (strict)
      u_strFromUTF8(out.data(), len, &len, src, static_cast<int32_t>(n), &status);
    else
      u_strFromUTF8WithSub(out.data(), len, &len, src, static_cast<int32_t>(n), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
      error = ERROR_NO_UNICODE_TRANSLATION;
      return false;
    }
    return true;
  }
  UConverter* conv = ConverterFor(codePage);
  if (!conv) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(conv);
  if (strict)
    ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  else
    ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &status);
  out.resize(n * 2 + 2);
  status = U_ZERO_ERROR;
  int32_t len = ucnv_toUChars(conv, out.data(), static_cast<int32_t>(out.size()), src,
                              static_cast<int32_t>(n), &status);
  if (U_FAILURE(status)) {
    error = strict ? ERROR_NO_UNICODE_TRANSLATION : ERROR_INVALID_PARAMETER;
    return false;
  }
  out.resize(static_cast<size_t>(len));
  return true;
}

struct DefaultUse {
  bool used = false;
};

void NoteSubstitution(const void* context, UConverterFromUnicodeArgs* args, const UChar* units,
                      int32_t length, UChar32 cp, UConverterCallbackReason reason, UErrorCode* status) {
  if (reason == UCNV_UNASSIGNED || reason == UCNV_ILLEGAL || reason == UCNV_IRREGULAR)
    static_cast<DefaultUse*>(const_cast<void*>(context))->used = true;
  UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, cp, reason, status);
}

bool Encode(UINT codePage, const char16_t* src, size_t n, const char* defaultChar, bool* usedDefault,
            std::string& out, DWORD& error) {
  out.clear();
  if (usedDefault) *usedDefault = false;
  if (n == 0) return true;
  if (codePage == CP_UTF8) {
    // All ASCII: narrowed as it is, without ICU's measuring pass.
    size_t ascii = 0;
    while (ascii < n && src[ascii] < 0x80) ++ascii;
    if (ascii == n) {
      out.resize(n);
      for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(src[i]);
      return true;
    }
    int32_t len = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(nullptr, 0, &len, src, static_cast<int32_t>(n), 0xFFFD, nullptr, &status);
    out.resize(static_cast<size_t>(len));
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), len, &len, src, static_cast<int32_t>(n), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
      error = ERROR_NO_UNICODE_TRANSLATION;
      return false;
    }
    return true;
  }
  UConverter* conv = ConverterFor(codePage);
  if (!conv) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  ucnv_reset(conv);
  UErrorCode status = U_ZERO_ERROR;
  const char* subst = defaultChar ? defaultChar : "?";
  ucnv_setSubstChars(conv, subst, static_cast<int8_t>(std::strlen(subst)), &status);
  DefaultUse use;
  status = U_ZERO_ERROR;
  ucnv_setFromUCallBack(conv, NoteSubstitution, &use, nullptr, nullptr, &status);
  out.resize(n * 4 + 4);
  status = U_ZERO_ERROR;
  int32_t len = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()), src,
                                static_cast<int32_t>(n), &status);
  if (U_FAILURE(status)) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  out.resize(static_cast<size_t>(len));
  if (usedDefault) *usedDefault = use.used;
  return true;
}

WCHAR UpperUnit(WCHAR c) {
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  UChar32 u = u_toupper(c);
  return u <= 0xFFFF ? static_cast<WCHAR>(u) : c;
}
WCHAR LowerUnit(WCHAR c) {
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  UChar32 u = u_tolower(c);
  return u <= 0xFFFF ? static_cast<WCHAR>(u) : c;
}

}  // namespace

UINT GetACP() {
  UINT cp = g_acp.load(std::memory_order_relaxed);
  if (!cp) {
    cp = ReadCodePage(u"ACP");
    g_acp.store(cp, std::memory_order_relaxed);
  }
  return cp;
}

UINT GetOEMCP() {
  UINT cp = g_oemcp.load(std::memory_order_relaxed);
  if (!cp) {
    cp = ReadCodePage(u"OEMCP");
    g_oemcp.store(cp, std::memory_order_relaxed);
  }
  return cp;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int cbMultiByte, LPWSTR dst,
                        int cchWideChar) {
  if (!src || cbMultiByte == 0 || cchWideChar < 0 || (cchWideChar && !dst)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = cbMultiByte < 0 ? std::strlen(src) + 1 : static_cast<size_t>(cbMultiByte);
  std::u16string out;
  DWORD error = ERROR_SUCCESS;
  if (!Decode(Resolve(codePage), src, n, (flags & MB_ERR_INVALID_CHARS) != 0, out, error)) {
    SetLastError(error);
    return 0;
  }
  if (cchWideChar == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cchWideChar)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, out.data(), out.size() * sizeof(WCHAR));
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR src, int cchWideChar, LPSTR dst,
                        int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  UINT cp = Resolve(codePage);
  if (!src || cchWideChar == 0 || cbMultiByte < 0 || (cbMultiByte && !dst) ||
      (cp == CP_UTF8 && (defaultChar || usedDefaultChar))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = cchWideChar < 0 ? WideLength(src) + 1 : static_cast<size_t>(cchWideChar);
  std::string out;
  DWORD error = ERROR_SUCCESS;
  bool used = false;
  if (!Encode(cp, src, n, defaultChar, &used, out, error)) {
    SetLastError(error);
    return 0;
  }
  if (usedDefaultChar) *usedDefaultChar = used ? TRUE : FALSE;
  if (cbMultiByte == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cbMultiByte)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, out.data(), out.size());
  return static_cast<int>(out.size());
}

LPWSTR CharUpperW(LPWSTR text) {
  if (text) CharUpperBuffW(text, static_cast<DWORD>(WideLength(text)));
  return text;
}
LPWSTR CharLowerW(LPWSTR text) {
  if (text) CharLowerBuffW(text, static_cast<DWORD>(WideLength(text)));
  return text;
}
DWORD CharUpperBuffW(LPWSTR text, DWORD length) {
  if (!text) return 0;
  for (DWORD i = 0; i < length; ++i) text[i] = UpperUnit(text[i]);
  return length;
}
DWORD CharLowerBuffW(LPWSTR text, DWORD length) {
  if (!text) return 0;
  for (DWORD i = 0; i < length; ++i) text[i] = LowerUnit(text[i]);
  return length;
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  std::u16string ua = ZYT::ToLower(a ? a : u""), ub = ZYT::ToLower(b ? b : u"");
  return ua < ub ? -1 : ua > ub ? 1 : 0;
}
int lstrcmpW(LPCWSTR a, LPCWSTR b) {
  std::u16string_view va(a ? a : u""), vb(b ? b : u"");
  return va < vb ? -1 : va > vb ? 1 : 0;
}
int lstrlenW(LPCWSTR text) { return static_cast<int>(WideLength(text)); }

namespace ZYT {

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string out;
  DWORD error;
  Decode(CP_UTF8, text.data(), text.size(), false, out, error);
  return out;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  DWORD error;
  Encode(CP_UTF8, text.data(), text.size(), nullptr, nullptr, out, error);
  return out;
}

size_t WellFormedUtf8At(std::string_view text, size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  size_t n = 0;
  char32_t min = 0;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < n) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void CutUtf8(std::string& text, size_t n) {
  if (text.size() <= n) return;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  text.resize(n);
}

std::u16string PosixNameToWide(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    size_t n = WellFormedUtf8At(bytes, i, cp);
    if (n == 0) {
      // One escape per byte, so that a broken sequence comes back byte for byte.
      out += static_cast<char16_t>(0xDC00 | static_cast<unsigned char>(bytes[i]));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += n;
  }
  return out;
}

std::string WideToPosixName(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out += static_cast<char>(c & 0xFF);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::u16string ToUpper(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = UpperUnit(c);
  return out;
}

std::u16string ToLower(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = LowerUnit(c);
  return out;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && UpperUnit(a[i]) != UpperUnit(b[i])) return false;
  return true;
}

std::u16string CodePageToWide(UINT codePage, std::string_view text) {
  std::u16string out;
  DWORD error;
  Decode(Resolve(codePage), text.data(), text.size(), false, out, error);
  return out;
}

std::string WideToCodePage(UINT codePage, std::u16string_view text) {
  std::string out;
  DWORD error;
  Encode(Resolve(codePage), text.data(), text.size(), nullptr, nullptr, out, error);
  return out;
}

void ResetCodePageCache() {
  g_acp.store(0);
  g_oemcp.store(0);
}

}  // namespace ZYT
