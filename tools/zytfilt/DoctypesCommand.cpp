// zytfilt doctypes: per extension, the filter, simple filter, XML converter and
// thumbnailer, chosen through the document type manager. The manager is
// driven late-bound (GetIDsOfNames and Invoke), as the product's own user
// interface drives it.
#include <cstdio>
#include <algorithm>
#include <map>
#include <tuple>
#include <string>
#include <vector>

#include "framework/PersistentHandler.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComVariant.h"
#include "platform/com/Guid.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/xml/XmlDocument.h"
#include "tools/zytfilt/Commands.h"

namespace {

const char kDoctypesUsage[] =
    "usage: zytfilt doctypes list [--xml]           extensions with their handler and filter\n"
    "       zytfilt doctypes filters [--xml]        the filters an extension can be given\n"
    "       zytfilt doctypes get EXT                an extension's choices\n"
    "       zytfilt doctypes set EXT FILTER         give EXT a filter: a persistent handler\n"
    "                                               CLSID, or a name that 'filters' shows\n"
    "       zytfilt doctypes simple EXT CLSID|PROGID  the simple filter the adapter uses for EXT\n"
    "       zytfilt doctypes xml EXT COMMAND        the converter the XML proxy runs for EXT\n"
    "       zytfilt doctypes thumbnailer EXT NAME   the thumbnailer of EXT\n"
    "       zytfilt doctypes restore                undo every choice made here\n"
    "EXT may be given with or without its dot. COMMAND names the file as \"%1\".\n";

struct Failure {
  std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

std::string Describe(HRESULT hr) {
  std::string described = ZYT::WideToUtf8(ZYT::TakeErrorDescription());
  return ZYT::DescribeHResult(hr) + (described.empty() ? "" : ": " + described);
}

std::string Dotted(const std::string& extension) {
  if (extension.empty() || extension == ".") Fail("an extension is needed, e.g. .odt");
  return extension[0] == '.' ? extension : "." + extension;
}

// The document type manager, called by method name.
class CDocTypes {
 public:
  CDocTypes() {
    HRESULT hr = CoCreateInstance(CLSID_DocTypeManager, nullptr, CLSCTX_ALL, IID_IDispatch, m_dispatch.put_void());
    if (FAILED(hr)) {
      Fail("the document type manager cannot be created (" + Describe(hr) +
           "); run 'zytfilt setup' to register the modules");
    }
  }

  // Calls a method with string arguments; the out value, if the method has one.
  std::u16string Call(const char16_t* method, const std::vector<std::u16string>& args = {}, HRESULT* result = nullptr) {
    std::u16string name = method;
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = m_dispatch->GetIDsOfNames(GUID_NULL, names, 1, 0x409, &id);
    if (FAILED(hr)) Fail("the document type manager has no method " + ZYT::WideToUtf8(name) + ": " + Describe(hr));
    std::vector<ZYT::CBstr> strings;
    std::vector<VARIANT> variants;
    strings.reserve(args.size());
    // Last argument first, as Invoke takes them.
    for (auto it = args.rbegin(); it != args.rend(); ++it) {
      strings.emplace_back(*it);
      VARIANT v;
      VariantInit(&v);
      v.vt = VT_BSTR;
      v.bstrVal = strings.back().get();
      variants.push_back(v);
    }
    DISPPARAMS params{variants.empty() ? nullptr : variants.data(), nullptr, static_cast<UINT>(variants.size()), 0};
    ZYT::CVariant out;
    UINT argErr = 0;
    hr = m_dispatch->Invoke(id, GUID_NULL, 0x409, DISPATCH_METHOD, &params, out.put(), nullptr, &argErr);
    if (result) {
      *result = hr;
    } else if (FAILED(hr)) {
      Fail(ZYT::WideToUtf8(name) + " failed: " + Describe(hr));
    }
    return out.Text();
  }

 private:
  ZYT::ComPtr<IDispatch> m_dispatch;
};

ZYT::XmlDocument Parse(const std::u16string& xml, const char* what) {
  ZYT::XmlDocument doc;
  if (!doc.LoadXml(ZYT::WideToUtf8(xml))) Fail(std::string("the manager's ") + what + " is not XML");
  return doc;
}

std::string Upper(const std::string& text) { return ZYT::WideToUtf8(ZYT::ToUpper(ZYT::Utf8ToWide(text))); }

bool IsClsid(const std::string& text) {
  CLSID clsid;
  return text.size() == 38 && SUCCEEDED(CLSIDFromString(ZYT::Utf8ToWide(text).c_str(), &clsid));
}

// Column widths fitted to the rows.
void PrintTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows)
    for (size_t i = 0; i < row.size(); ++i) {
      if (widths.size() <= i) widths.push_back(0);
      widths[i] = std::max(widths[i], row[i].size());
    }
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

int List(CDocTypes& manager, bool xml) {
  std::u16string extensions = manager.Call(u"EnumExtensions");
  std::u16string filters = manager.Call(u"EnumFilters");
  if (xml) {
    std::printf("%s\n%s\n", ZYT::WideToUtf8(extensions).c_str(), ZYT::WideToUtf8(filters).c_str());
    return 0;
  }
  // Handler -> the filter the indexer ends up in, with its description.
  std::map<std::string, std::pair<std::string, std::string>> filterOf;
  ZYT::XmlDocument filtersDoc = Parse(filters, "filter list");
  for (const ZYT::XmlNode& f : filtersDoc.SelectNodes("/*/filters/filter[@type='IFilter']"))
    filterOf[Upper(f.Attribute("PersistentHandler"))] = {f.Attribute("IFilter"), f.Text()};
  std::vector<std::vector<std::string>> rows = {{"EXTENSION", "HANDLER", "FILTER", "DESCRIPTION"}};
  ZYT::XmlDocument extensionsDoc = Parse(extensions, "extension list");
  for (const ZYT::XmlNode& e : extensionsDoc.SelectNodes("/*/extensions/extension")) {
    std::string handler = e.Attribute("persistent-handler");
    auto found = filterOf.find(Upper(handler));
    std::string filter, description;
    if (found != filterOf.end()) {
      std::tie(filter, description) = found->second;
    } else {
      // The module's own handlers are not offered as choices; show their filter all the same.
      std::u16string h = ZYT::Utf8ToWide(handler);
      std::u16string native = ZYT::SavedFilterOfHandler(h);
      filter = ZYT::WideToUtf8(native.empty() ? ZYT::AddinFilterOfHandler(h) : native);
    }
    rows.push_back({e.Attribute("name"), handler, filter.empty() ? "-" : filter, description});
  }
  PrintTable(rows);
  return 0;
}

int Filters(CDocTypes& manager, bool xml) {
  std::u16string filters = manager.Call(u"EnumFilters");
  if (xml) {
    std::printf("%s\n", ZYT::WideToUtf8(filters).c_str());
    return 0;
  }
  std::vector<std::vector<std::string>> rows = {{"CODE", "TYPE", "ID", "NAME"}};
  ZYT::XmlDocument doc = Parse(filters, "filter list");
  for (const ZYT::XmlNode& f : doc.SelectNodes("/*/filters/filter")) {
    std::string type = f.Attribute("type");
    std::string id = type == "IFilter" ? f.Attribute("PersistentHandler")
                     : type == "ISimpleFilter" ? f.Attribute("guid")
                                               : f.Attribute("name");
    std::string name = type == "XMLFilter" ? f.Text() + " (" + f.Attribute("command") + ")" : f.Text();
    rows.push_back({f.Attribute("filter-code"), type, id, name});
  }
  PrintTable(rows);
  return 0;
}

int Get(CDocTypes& manager, const std::string& extension) {
  std::u16string ext = ZYT::Utf8ToWide(Dotted(extension));
  auto optional = [&](const char16_t* method) {
    HRESULT hr = S_OK;
    std::u16string value = manager.Call(method, {ext}, &hr);
    return SUCCEEDED(hr) ? ZYT::WideToUtf8(value) : std::string("(none)");
  };
  std::printf("extension:    %s\n", ZYT::WideToUtf8(ext).c_str());
  std::printf("handler:      %s\n", optional(u"GetFilter").c_str());
  std::printf("simple:       %s\n", optional(u"GetISimpleFilterGuid").c_str());
  std::printf("xml:          %s\n", optional(u"GetXMLFilterName").c_str());
  std::printf("thumbnailer:  %s\n", ZYT::WideToUtf8(manager.Call(u"GetThumbnailer", {ext})).c_str());
  return 0;
}

// FILTER is a handler CLSID, or a name from 'filters': an IFilter's
// description, a simple filter's description or CLSID, an XML filter's name.
int Set(CDocTypes& manager, const std::string& extension, const std::string& filter) {
  std::u16string ext = ZYT::Utf8ToWide(Dotted(extension));
  if (filter.empty()) Fail("set needs a FILTER: a CLSID or a name that 'zytfilt doctypes filters' shows");
  ZYT::XmlDocument doc = Parse(manager.Call(u"EnumFilters"), "filter list");
  const std::u16string wanted = ZYT::Utf8ToWide(filter);
  auto same = [&](const std::string& text) { return !text.empty() && ZYT::EqualsNoCase(ZYT::Utf8ToWide(text), wanted); };
  for (const ZYT::XmlNode& f : doc.SelectNodes("/*/filters/filter")) {
    std::string type = f.Attribute("type");
    if (type == "ISimpleFilter" && (same(f.Attribute("guid")) || same(f.Text()))) {
      manager.Call(u"SetFilter", {ext, ZYT::GuidToString(CLSID_SimpleFileFilterHandler)});
      manager.Call(u"SetISimpleFilter", {ext, ZYT::Utf8ToWide(f.Attribute("guid"))});
      return 0;
    }
    if (type == "XMLFilter" && same(f.Attribute("name"))) {
      manager.Call(u"SetFilter", {ext, ZYT::GuidToString(CLSID_XMLProxyFilterHandler)});
      manager.Call(u"SetXMLFilter", {ext, ZYT::Utf8ToWide(f.Attribute("command"))});
      return 0;
    }
    if (type == "IFilter" && !IsClsid(filter) && same(f.Text())) {
      manager.Call(u"SetFilter", {ext, ZYT::Utf8ToWide(f.Attribute("PersistentHandler"))});
      return 0;
    }
  }
  if (!IsClsid(filter)) Fail("no filter named '" + filter + "' (see 'zytfilt doctypes filters'), and not a CLSID");
  manager.Call(u"SetFilter", {ext, wanted});
  return 0;
}

int Simple(CDocTypes& manager, const std::string& extension, const std::string& simple) {
  std::u16string ext = ZYT::Utf8ToWide(Dotted(extension));
  CLSID clsid;
  std::u16string text = ZYT::Utf8ToWide(simple);
  if (!IsClsid(simple)) {
    if (simple.empty() || FAILED(CLSIDFromProgID(text.c_str(), &clsid)))
      Fail("'" + simple + "' is neither a CLSID nor a registered ProgID");
    text = ZYT::GuidToString(clsid);
  }
  manager.Call(u"SetISimpleFilter", {ext, text});
  return 0;
}

int Run(const std::vector<std::string>& args) {
  const std::string& verb = args[0];
  auto need = [&](size_t count, const char* what) {
    if (args.size() != count + 1) Fail(verb + " needs " + what);
  };
  bool xml = args.size() == 2 && args[1] == "--xml";
  if (verb == "list" || verb == "filters") {
    if (args.size() > 1 && !xml) Fail("unknown option '" + args[1] + "' for " + verb);
  } else if (verb == "get") {
    need(1, "EXT");
  } else if (verb == "set") {
    need(2, "EXT FILTER");
  } else if (verb == "simple") {
    need(2, "EXT CLSID|PROGID");
  } else if (verb == "xml") {
    need(2, "EXT COMMAND");
  } else if (verb == "thumbnailer") {
    need(2, "EXT NAME");
  } else if (verb == "restore") {
    need(0, "no arguments");
  } else {
    Fail("unknown subcommand '" + verb + "' (see 'zytfilt doctypes --help')");
  }
  if (std::string problem; ZYT::OpenRegistryStore(problem) != ERROR_SUCCESS) Fail(problem);
  CDocTypes manager;
  if (verb == "list") return List(manager, xml);
  if (verb == "filters") return Filters(manager, xml);
  if (verb == "get") return Get(manager, args[1]);
  if (verb == "set") return Set(manager, args[1], args[2]);
  if (verb == "simple") return Simple(manager, args[1], args[2]);
  if (verb == "xml") {
    if (args[2].empty()) Fail("xml needs a COMMAND");
    manager.Call(u"SetXMLFilter", {ZYT::Utf8ToWide(Dotted(args[1])), ZYT::Utf8ToWide(args[2])});
    return 0;
  }
  if (verb == "thumbnailer") {
    manager.Call(u"SetThumbnailer", {ZYT::Utf8ToWide(Dotted(args[1])), ZYT::Utf8ToWide(args[2])});
    return 0;
  }
  manager.Call(u"RestoreDefaults");
  return 0;
}

}  // namespace

int RunDoctypesCommand(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kDoctypesUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  try {
    return Run(args);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "zytfilt doctypes: %s\n", failure.message.c_str());
    return 1;
  } catch (const _com_error& e) {
    std::fprintf(stderr, "zytfilt doctypes: %s\n", Describe(e.Error()).c_str());
    return 1;
  }
}

// The office formats indexed out of the box: each extension goes to the XML
// proxy, which reads the document's text part through unzip. Undone by
// 'zytfilt doctypes restore'.
int BindProductDocTypes() {
  static const std::pair<const char16_t*, const char16_t*> kBindings[] = {
      {u".odt", u"unzip -p \"%1\" content.xml"},
      {u".ods", u"unzip -p \"%1\" content.xml"},
      {u".odp", u"unzip -p \"%1\" content.xml"},
      {u".docx", u"unzip -p \"%1\" word/document.xml"},
  };
  try {
    CDocTypes manager;
    const std::u16string handler = ZYT::GuidToString(CLSID_XMLProxyFilterHandler);
    for (const auto& [extension, command] : kBindings) {
      manager.Call(u"SetFilter", {extension, handler});
      manager.Call(u"SetXMLFilter", {extension, command});
    }
    return 0;
  } catch (const Failure& failure) {
    std::fprintf(stderr, "zytfilt setup: cannot bind the office document types: %s\n", failure.message.c_str());
    return 1;
  } catch (const _com_error& e) {
    std::fprintf(stderr, "zytfilt setup: cannot bind the office document types: %s\n", Describe(e.Error()).c_str());
    return 1;
  }
}
