// libFuzzer target: summary-information keywords of arbitrary compound files.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/storage/SummaryInformation.h"
#include "platform/win32/FileApi.h"

// Opening a file goes through the platform library, which this target does
// not link; the input never comes from a file here.
int ZYT::OpenRegularFile(const std::string&, DWORD&) { __builtin_trap(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string keywords;
  ZYT::ReadSummaryKeywordsFromMemory(std::string_view(reinterpret_cast<const char*>(data), size), keywords);
  return 0;
}
