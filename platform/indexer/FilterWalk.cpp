#include "platform/indexer/FilterWalk.h"

#include <cstdio>

#include "platform/com/ComError.h"
#include "platform/win32/Strings.h"

namespace ZYT {

namespace {

std::string Hex(HRESULT hr) { return HResultHex(hr); }

std::string Number(long double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17Lg", v);
  return text;
}

std::string Unsigned(uint64_t v) { return std::to_string(v); }
std::string Signed(int64_t v) { return std::to_string(v); }

}  // namespace

std::string JsonString(std::u16string_view text) {
  std::string out = "\"";
  auto escape = [&out](unsigned unit) {
    char esc[8];
    std::snprintf(esc, sizeof esc, "\\u%04x", unit);
    out += esc;
  };
  size_t run = 0;  // start of the text not yet written
  auto flush = [&](size_t end) {
    for (char c : WideToUtf8(text.substr(run, end - run))) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (static_cast<unsigned char>(c) < 0x20)
            escape(static_cast<unsigned char>(c));
          else
            out += c;
      }
    }
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;  // a pair is a character; UTF-8 holds it
    } else if (high || low) {
      // A lone surrogate (a file name's byte that is not UTF-8, U+DC80..U+DCFF)
      // has no UTF-8 form; JSON's escape keeps it, and the output valid.
      flush(i);
      escape(c);
      run = i + 1;
    }
  }
  flush(text.size());
  return out + "\"";
}

std::string ValueJson(const PROPVARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: return "null";
    case VT_LPWSTR: return v.pwszVal ? JsonString(v.pwszVal) : "null";
    case VT_BSTR: return v.bstrVal ? JsonString(std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal))) : "null";
    case VT_LPSTR: return v.pszVal ? JsonString(CodePageToWide(CP_ACP, v.pszVal)) : "null";
    case VT_I1: return Signed(v.cVal);
    case VT_UI1: return Unsigned(v.bVal);
    case VT_I2: return Signed(v.iVal);
    case VT_UI2: return Unsigned(v.uiVal);
    case VT_I4:
    case VT_INT: return Signed(v.lVal);
    case VT_UI4:
    case VT_UINT: return Unsigned(v.ulVal);
    case VT_ERROR: return Signed(v.scode);
    case VT_I8: return Signed(v.hVal.QuadPart);
    case VT_UI8: return Unsigned(v.uhVal.QuadPart);
    case VT_R4: return Number(v.fltVal);
    case VT_R8:
    case VT_DATE: return Number(v.dblVal);
    case VT_BOOL: return v.boolVal ? "true" : "false";
    case VT_FILETIME:
      return Unsigned((uint64_t(v.filetime.dwHighDateTime) << 32) | v.filetime.dwLowDateTime);
    case VT_CLSID: return v.puuid ? JsonString(GuidToString(*v.puuid)) : "null";
    case VT_VECTOR | VT_LPWSTR: {
      std::string out = "[";
      for (ULONG i = 0; i < v.calpwstr.cElems; ++i) {
        if (i) out += ",";
        out += v.calpwstr.pElems[i] ? JsonString(v.calpwstr.pElems[i]) : "null";
      }
      return out + "]";
    }
    default: return "null";
  }
}

std::u16string AttributeText(const WalkedChunk& chunk) {
  std::u16string text = GuidToString(chunk.stat.attribute.guidPropSet) + u"/";
  if (chunk.stat.attribute.psProperty.ulKind == PRSPEC_LPWSTR) return text + chunk.propertyName;
  char id[16];
  std::snprintf(id, sizeof id, "0x%x", chunk.stat.attribute.psProperty.propid);
  return text + Utf8ToWide(id);
}

WalkResult WalkFilter(IFilter* filter, const WalkOptions& options) {
  WalkResult result;
  auto violation = [&](size_t index, const std::string& what) {
    result.violations.push_back("chunk #" + std::to_string(index + 1) + ": " + what);
  };
  result.init = filter->Init(options.initFlags, static_cast<ULONG>(options.attributes.size()),
                             options.attributes.empty() ? nullptr : options.attributes.data(), &result.initOutFlags);
  if (FAILED(result.init)) return result;
  const ULONG bufferSize = options.bufferSize ? options.bufferSize : 1;
  std::u16string buffer(bufferSize, u'\0');
  ULONG previousId = 0;
  for (;;) {
    if (result.walked >= options.maxChunks) {
      // One more call tells a filter that ends exactly at the limit from one
      // that goes on.
      STAT_CHUNK next{};
      HRESULT hr = filter->GetChunk(&next);
      if (FAILED(hr)) {
        result.end = hr;
        return result;
      }
      result.cut = true;
      result.violations.push_back("more than " + std::to_string(options.maxChunks) + " chunks: the filter does not end");
      return result;
    }
    WalkedChunk chunk;
    HRESULT hr = filter->GetChunk(&chunk.stat);
    if (FAILED(hr)) {
      result.end = hr;
      if (options.probe) {
        STAT_CHUNK again{};
        HRESULT repeat = filter->GetChunk(&again);
        if (repeat != hr)
          result.violations.push_back("end code " + Hex(hr) + " is not repeated (then " + Hex(repeat) + ")");
      }
      return result;
    }
    const size_t index = result.walked;
    STAT_CHUNK& s = chunk.stat;
    if (s.attribute.psProperty.ulKind == PRSPEC_LPWSTR) {
      chunk.propertyName = s.attribute.psProperty.lpwstr ? s.attribute.psProperty.lpwstr : u"";
      s.attribute.psProperty.lpwstr = nullptr;
    }
    const bool isText = (s.flags & CHUNK_TEXT) != 0;
    if (options.probe) {
      if (s.idChunk == 0) violation(index, "idChunk is 0");
      if (s.idChunk <= previousId)
        violation(index, "idChunk " + std::to_string(s.idChunk) + " does not increase (after " +
                             std::to_string(previousId) + ")");
      if (s.breakType < CHUNK_NO_BREAK || s.breakType > CHUNK_EOC)
        violation(index, "break type " + std::to_string(s.breakType) + " is not valid");
      if (s.flags != CHUNK_TEXT && s.flags != CHUNK_VALUE && s.flags != (CHUNK_VALUE | CHUNK_FILTER_OWNED_VALUE))
        violation(index, "flags " + std::to_string(s.flags) + " are not valid");
      bool sourceOk = options.sourceRule == WalkOptions::SourceRule::Any ||
                      (options.sourceRule == WalkOptions::SourceRule::ZeroForValues && !isText ? s.idChunkSource == 0
                                                                                               : s.idChunkSource == s.idChunk);
      if (!sourceOk) violation(index, "idChunkSource " + std::to_string(s.idChunkSource) + " for idChunk " +
                                          std::to_string(s.idChunk));
    }
    previousId = s.idChunk;
    if (isText) {
      if (options.probe) {
        PROPVARIANT* value = reinterpret_cast<PROPVARIANT*>(0x1);
        HRESULT v = filter->GetValue(&value);
        bool refused = options.crossCallsAnyRefusal ? FAILED(v) : v == FILTER_E_NO_VALUES;
        if (!refused) violation(index, "GetValue on a text chunk answered " + Hex(v));
        if (SUCCEEDED(v) && value) {
          PropVariantClear(value);
          CoTaskMemFree(value);
        }
      }
      for (;;) {
        ULONG count = bufferSize;
        HRESULT t = filter->GetText(&count, buffer.data());
        if (t == FILTER_E_NO_MORE_TEXT) break;
        if (t != S_OK && t != FILTER_S_LAST_TEXT) {
          if (options.probe) violation(index, "GetText answered " + Hex(t));
          break;
        }
        if (count > bufferSize) {
          if (options.probe) violation(index, "GetText returned more characters than the buffer holds");
          count = bufferSize;
        }
        chunk.text.append(buffer.data(), count);
        if (t == FILTER_S_LAST_TEXT) {
          if (options.probe) {
            ULONG more = bufferSize;
            HRESULT after = filter->GetText(&more, buffer.data());
            if (after != FILTER_E_NO_MORE_TEXT)
              violation(index, "GetText after FILTER_S_LAST_TEXT answered " + Hex(after));
          }
          break;
        }
      }
    } else {
      if (options.probe) {
        ULONG count = bufferSize;
        HRESULT t = filter->GetText(&count, buffer.data());
        bool refused = options.valueTextForwarded || options.crossCallsAnyRefusal ? FAILED(t) : t == FILTER_E_NO_TEXT;
        if (!refused) violation(index, "GetText on a value chunk answered " + Hex(t));
      }
      PROPVARIANT* value = nullptr;
      HRESULT v = filter->GetValue(&value);
      if (SUCCEEDED(v) && value) {
        chunk.hasValue = true;
        chunk.vt = value->vt;
        chunk.valueJson = ValueJson(*value);
        PropVariantClear(value);
        CoTaskMemFree(value);
      } else if (options.probe) {
        violation(index, "GetValue on a value chunk answered " + Hex(v));
      }
      if (options.probe) {
        PROPVARIANT* second = nullptr;
        HRESULT again = filter->GetValue(&second);
        if (again != FILTER_E_NO_MORE_VALUES) violation(index, "a second GetValue answered " + Hex(again));
        if (SUCCEEDED(again) && second) {
          PropVariantClear(second);
          CoTaskMemFree(second);
        }
      }
    }
    ++result.walked;
    if (options.onChunk)
      options.onChunk(chunk);
    else
      result.chunks.push_back(std::move(chunk));
  }
}

}  // namespace ZYT
