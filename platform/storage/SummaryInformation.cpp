#include "platform/storage/SummaryInformation.h"

#include <gsf/gsf-doc-meta-data.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-meta-names.h>
#include <gsf/gsf-msole-utils.h>
#include <gsf/gsf-utils.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/win32/FileApi.h"
#include "platform/win32/WinError.h"

namespace ZYT {

namespace {

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { gsf_init(); });
}

struct Unref {
  void operator()(void* p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, Unref>;

HRESULT KeywordsOf(GsfInput* input, std::u16string& keywords) {
  keywords.clear();
  GError* error = nullptr;
  GPtr<GsfInfile> storage(gsf_infile_msole_new(input, &error));
  if (!storage) {
    if (error) g_error_free(error);
    return S_FALSE;  // a signature without a readable compound file: nothing to read
  }
  GPtr<GsfInput> stream(gsf_infile_child_by_name(storage.get(), "\005SummaryInformation"));
  if (!stream) return S_FALSE;
  GPtr<GsfDocMetaData> meta(gsf_doc_meta_data_new());
  error = gsf_doc_meta_data_read_from_msole(meta.get(), stream.get());
  if (error) {
    g_error_free(error);
    return S_FALSE;
  }
  GsfDocProp* property = gsf_doc_meta_data_lookup(meta.get(), GSF_META_NAME_KEYWORDS);
  if (!property) return S_FALSE;
  const GValue* value = gsf_doc_prop_get_val(property);
  if (!value || !G_VALUE_HOLDS_STRING(value)) return DISP_E_TYPEMISMATCH;
  const char* text = g_value_get_string(value);
  // libgsf has already applied the set's code page; the text is UTF-8.
  glong length = 0;
  gunichar2* wide = g_utf8_to_utf16(text ? text : "", -1, nullptr, &length, nullptr);
  if (wide) keywords.assign(reinterpret_cast<const char16_t*>(wide), static_cast<size_t>(length));
  g_free(wide);
  return S_OK;
}

}  // namespace

bool IsCompoundFileSignature(std::string_view firstBytes) {
  static constexpr char kSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
  return firstBytes.size() >= 8 && firstBytes.compare(0, 8, std::string_view(kSignature, 8)) == 0;
}

HRESULT ReadSummaryKeywords(const std::string& posixPath, std::u16string& keywords) {
  keywords.clear();
  DWORD error = ERROR_SUCCESS;
  int fd = OpenRegularFile(posixPath, error);
  if (fd < 0) return HRESULT_FROM_WIN32(error);
  FILE* file = fdopen(fd, "rb");
  if (!file) {
    close(fd);
    return E_OUTOFMEMORY;
  }
  char head[8] = {};
  size_t n = std::fread(head, 1, sizeof head, file);
  if (!IsCompoundFileSignature(std::string_view(head, n))) {
    std::fclose(file);
    return S_FALSE;
  }
  std::rewind(file);
  InitOnce();
  // The storage reader gets the descriptor checked above, never the path again.
  GPtr<GsfInput> input(gsf_input_stdio_new_FILE(posixPath.c_str(), file, FALSE));
  if (!input) {
    std::fclose(file);
    return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  }
  return KeywordsOf(input.get(), keywords);
}

HRESULT ReadSummaryKeywordsFromMemory(std::string_view bytes, std::u16string& keywords) {
  keywords.clear();
  if (!IsCompoundFileSignature(bytes)) return S_FALSE;
  InitOnce();
  GPtr<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                            static_cast<gsf_off_t>(bytes.size()), FALSE));
  return input ? KeywordsOf(input.get(), keywords) : E_OUTOFMEMORY;
}

}  // namespace ZYT
