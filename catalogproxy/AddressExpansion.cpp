#include "catalogproxy/AddressExpansion.h"

#include <libxml/xpathInternals.h>
#include <unicode/uregex.h>

#include <mutex>
#include <set>

#include "framework/PathUtilities.h"
#include "module/FiltersModule.h"
#include "platform/win32/Resources.h"
#include "platform/win32/Strings.h"
#include "platform/xml/XslTransform.h"

namespace {

constexpr char16_t kPattern[] = u"(?:\\s*\"[^\"]*\")?\\s*<\"?([^\"@]*)\"?@([^>]*)>\\s*;?";

// zyt:expand(string): the addresses' terms, then the text.
void ExpandFunction(xmlXPathParserContextPtr context, int argumentCount) {
  if (argumentCount != 1) {
    xmlXPathSetArityError(context);
    return;
  }
  std::string text = ZYT::PopStringArgument(context);
  ZYT::PushStringResult(context, ZYT::WideToUtf8(ExpandAddressTerms(ZYT::Utf8ToWide(text))));
}

// The module's style sheet, read from its file once rather than per address.
std::u16string StylesheetOf(const std::u16string& modulePath) {
  static std::mutex lock;
  static std::u16string cachedPath, cachedSheet;
  std::lock_guard<std::mutex> hold(lock);
  if (cachedPath != modulePath || cachedSheet.empty()) {
    cachedSheet = ZYT::LoadModuleResourceText(modulePath, RT_HTML, u"EADDRESSHACK.XSL");
    cachedPath = modulePath;
  }
  return cachedSheet;
}

}  // namespace

std::u16string ExpandAddressTerms(const std::u16string& text) {
  // The pattern is compiled once; each call works on its own clone, which
  // ICU allows from any thread.
  static URegularExpression* const compiled = [] {
    UErrorCode status = U_ZERO_ERROR;
    URegularExpression* regex = uregex_open(kPattern, -1, 0, nullptr, &status);
    return U_SUCCESS(status) ? regex : nullptr;
  }();
  if (!compiled) return text;
  UErrorCode status = U_ZERO_ERROR;
  URegularExpression* regex = uregex_clone(compiled, &status);
  if (U_FAILURE(status)) return text;
  uregex_setText(regex, text.data(), static_cast<int32_t>(text.size()), &status);
  std::u16string terms;
  std::set<std::u16string> seen;
  while (U_SUCCESS(status) && uregex_findNext(regex, &status)) {
    for (int32_t group = 1; group <= 2; ++group) {
      int32_t start = uregex_start(regex, group, &status), end = uregex_end(regex, group, &status);
      if (U_FAILURE(status) || start < 0) break;
      std::u16string term = text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
      if (seen.insert(term).second) terms += term + u" ";
    }
    // An empty match would find itself again; step past it.
    if (uregex_end(regex, 0, &status) == uregex_start(regex, 0, &status)) break;
  }
  uregex_close(regex);
  return terms.empty() ? text : terms + u";;" + text;
}

std::u16string ExpandAddresses(const std::u16string& text) {
  if (text.empty() || ZYT::IsWindowsXPOrLater()) return text;
  static std::once_flag registered;
  std::call_once(registered, [] { ZYT::RegisterXsltFunction(kAddressExpansionNamespace, "expand", &ExpandFunction); });
  std::u16string sheet = StylesheetOf(g_modulePath);
  ZYT::XmlDocument address;
  if (sheet.empty() || !address.LoadXml("<address/>")) return text;
  address.DocumentElement().SetText(ZYT::WideToUtf8(text));
  std::string output, error;
  if (!ZYT::TransformXml(address, ZYT::WideToUtf8(sheet), output, error)) return text;
  return ZYT::Utf8ToWide(output);
}
