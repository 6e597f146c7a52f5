#include "platform/xml/XslTransform.h"

#include <libxml/parser.h>
#include <libxml/xpathInternals.h>
#include <libxslt/extensions.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <memory>

namespace ZYT {

namespace {

struct StylesheetDeleter {
  void operator()(xsltStylesheetPtr s) const { xsltFreeStylesheet(s); }
};
struct DocDeleter {
  void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};
struct PrefsDeleter {
  void operator()(xsltSecurityPrefsPtr p) const { xsltFreeSecurityPrefs(p); }
};

}  // namespace

void RegisterXsltFunction(const char* namespaceUri, const char* name, XsltExtensionFunction function) {
  xsltRegisterExtModuleFunction(reinterpret_cast<const xmlChar*>(name), reinterpret_cast<const xmlChar*>(namespaceUri),
                                reinterpret_cast<xmlXPathFunction>(function));
}

std::string PopStringArgument(_xmlXPathParserContext* context) {
  xmlChar* text = xmlXPathPopString(context);
  std::string value = text ? reinterpret_cast<const char*>(text) : "";
  xmlFree(text);
  return value;
}

void PushStringResult(_xmlXPathParserContext* context, const std::string& text) {
  valuePush(context, xmlXPathNewString(reinterpret_cast<const xmlChar*>(text.c_str())));
}

bool TransformXml(const XmlDocument& document, const std::string& stylesheet, std::string& output, std::string& error) {
  XmlDocument sheetDocument;
  XmlParseError parseError;
  if (!sheetDocument.LoadXml(stylesheet, &parseError)) {
    error = "style sheet line " + std::to_string(parseError.line) + ": " + parseError.reason;
    return false;
  }
  // The stylesheet takes ownership of its document: give it a copy.
  xmlDocPtr sheetCopy = xmlCopyDoc(sheetDocument.DocumentElement().Raw()->doc, 1);
  std::unique_ptr<xsltStylesheet, StylesheetDeleter> sheet(xsltParseStylesheetDoc(sheetCopy));
  if (!sheet) {
    xmlFreeDoc(sheetCopy);
    error = "the style sheet does not compile";
    return false;
  }
  std::unique_ptr<xsltSecurityPrefs, PrefsDeleter> prefs(xsltNewSecurityPrefs());
  for (xsltSecurityOption option : {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
                                    XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK})
    xsltSetSecurityPrefs(prefs.get(), option, xsltSecurityForbid);
  xsltTransformContextPtr context = xsltNewTransformContext(sheet.get(), document.DocumentElement().Raw()->doc);
  if (!context) {
    error = "out of memory";
    return false;
  }
  xsltSetCtxtSecurityPrefs(prefs.get(), context);
  std::unique_ptr<xmlDoc, DocDeleter> result(
      xsltApplyStylesheetUser(sheet.get(), document.DocumentElement().Raw()->doc, nullptr, nullptr, nullptr, context));
  bool failed = context->state != XSLT_STATE_OK;
  xsltFreeTransformContext(context);
  if (!result || failed) {
    error = "the transformation failed";
    return false;
  }
  xmlChar* text = nullptr;
  int size = 0;
  if (xsltSaveResultToString(&text, &size, result.get(), sheet.get()) != 0) {
    error = "the result cannot be written";
    return false;
  }
  output.assign(text ? reinterpret_cast<const char*>(text) : "", static_cast<size_t>(size));
  xmlFree(text);
  return true;
}

}  // namespace ZYT
