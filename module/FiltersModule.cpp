#include "module/FiltersModule.h"

#include "archive/ArchiveFilter.h"
#include "catalogproxy/OrreryCISProxyFilter.h"
#include "doctypes/DocTypeManager.h"
#include "filters/items/EmailFilter.h"
#include "filters/items/FeedItemFilter.h"
#include "filters/items/HttpItemFilter.h"
#include "filters/items/PimFilter.h"
#include "filters/media/Mp3Filter.h"
#include "filters/media/OggVorbisFilter.h"
#include "filters/qharc/QharcFilter.h"
#include "filters/qhs/QhsFilter.h"
#include "filters/url/URLFilter.h"
#include "filters/xml/NullFileFilter.h"
#include "filters/xml/SimpleFileFilterAdapter.h"
#include "filters/xml/XMLFilter.h"
#include "filters/xml/XMLProxyFilter.h"
#include "interfaces/ClassIds.h"
#include "platform/win32/SysInfo.h"

namespace {

template <UINT id>
HRESULT UpdateRegistry(bool doRegister) {
  return UpdateRegistryFromResource(id, doRegister);
}

// In the order registration walks it. A class not built yet has no creator:
// its class object is not available, but its registration is complete.
const ZYT::ClassEntry kClasses[] = {
    {&CLSID_QhsFilter, &ZytCreateInstance<CQhsFilter>, &UpdateRegistry<110>},
    {&CLSID_OrreryCISProxyFilter, &ZytCreateInstance<COrreryCISProxyFilter>, &UpdateRegistry<105>},
    {&CLSID_Mp3Filter, &ZytCreateInstance<CMp3Filter>, &UpdateRegistry<106>},
    {&CLSID_OggVorbisFilter, &ZytCreateInstance<COggVorbisFilter>, &UpdateRegistry<108>},
    {&CLSID_URLFilter, &ZytCreateInstance<CURLFilter>, &UpdateRegistry<109>},
    {&CLSID_EmailFilter, &ZytCreateInstance<CEmailFilter>, &UpdateRegistry<111>},
    {&CLSID_PimFilter, &ZytCreateInstance<CPimFilter>, &UpdateRegistry<112>},
    {&CLSID_SimpleFileFilterAdapter, &ZytCreateInstance<CSimpleFileFilterAdapter>, &UpdateRegistry<113>},
    {&CLSID_NullFileFilter, &ZytCreateInstance<CNullFileFilter>, &UpdateRegistry<114>},
    {&CLSID_XMLFilter, &ZytCreateInstance<CXMLFilter>, &UpdateRegistry<116>},
    {&CLSID_XMLProxyFilter, &ZytCreateInstance<CXMLProxyFilter>, &UpdateRegistry<117>},
    {&CLSID_DocTypeManager, &ZytCreateInstance<CDocTypeManager>, &UpdateRegistry<118>},
    {&CLSID_HttpItemFilter, &ZytCreateInstance<CHttpItemFilter>, &UpdateRegistry<119>},
    {&CLSID_FeedItemFilter, &ZytCreateInstance<CFeedItemFilter>, &UpdateRegistry<121>},
    {&CLSID_QharcFilter, &ZytCreateInstance<CQharcFilter>, &UpdateRegistry<122>},
    {&CLSID_ArchiveFilter, &ZytCreateInstance<CArchiveFilter>, &UpdateRegistry<120>},
};

}  // namespace

CFiltersModule g_module;
std::u16string g_modulePath;

namespace {

// What DllMain does at process attach and detach happens when the module is
// loaded and unloaded. Defined after the globals it fills, so that it is
// constructed after them and destroyed before them.
struct ModuleLifetime {
  ModuleLifetime() {
    const void* self = reinterpret_cast<const void*>(&DllGetClassObject);
    g_module.Init(kClasses, std::size(kClasses), ZytModuleFromAddress(self), LIBID_ZYTFILTERSLib);
    // GetModuleFileNameW's limit of 260 characters
    g_modulePath = ZytModulePathFromAddress(self).substr(0, MAX_PATH - 1);
  }
  ~ModuleLifetime() { g_module.Term(); }
} g_lifetime;

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return g_module.GetClassObject(clsid, riid, ppv);
}

extern "C" HRESULT DllCanUnloadNow() { return g_module.CanUnloadNow(); }
