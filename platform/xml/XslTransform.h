// XSLT 1.0 over libxslt, with the style sheet's access to files and the
// network switched off. Extension functions are registered per namespace.
#pragma once

#include <string>

#include "platform/xml/XmlDocument.h"

struct _xmlXPathParserContext;

namespace ZYT {

using XsltExtensionFunction = void (*)(_xmlXPathParserContext* context, int argumentCount);

// Makes name in namespaceUri callable from every style sheet of the process.
void RegisterXsltFunction(const char* namespaceUri, const char* name, XsltExtensionFunction function);

// Applies the style sheet to the document; false with a reason when the style
// sheet does not compile or the transformation fails.
bool TransformXml(const XmlDocument& document, const std::string& stylesheet, std::string& output, std::string& error);

// The XPath string value of an extension function's argument (for a node
// set, that of its first node), taken off the XPath stack.
std::string PopStringArgument(_xmlXPathParserContext* context);
void PushStringResult(_xmlXPathParserContext* context, const std::string& text);

}  // namespace ZYT
