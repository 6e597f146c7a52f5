// An IFilter built from the installed SDK that breaks the protocol in one
// way: its only chunk has the id 0. `zytfilt dump --check` must say so.
#include <algorithm>

#include "platform/com/ClassFactory.h"
#include "platform/com/ComObject.h"
#include "platform/com/Filter.h"
#include "platform/com/ObjIdl.h"
#include "platform/com/PropIds.h"
#include "platform/com/Registrar.h"
#include "platform/win32/SysInfo.h"

namespace {

constexpr CLSID CLSID_ZeroIdFilter = ZYT::MakeGuid("{5C1B7E02-93A4-4F0D-8E61-2B7D40C9A3F5}");

class CZeroIdFilter : public ZYT::CComObjectRoot, public IFilter, public IPersistFile {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CZeroIdFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()

  HRESULT Init(ULONG, ULONG, const FULLPROPSPEC*, ULONG* flags) override {
    if (flags) *flags = 0;
    m_chunks = 0;
    m_textLeft = true;
    return S_OK;
  }
  HRESULT GetChunk(STAT_CHUNK* stat) override {
    if (!stat) return E_POINTER;
    if (m_chunks++ > 0) return FILTER_E_END_OF_CHUNKS;
    *stat = STAT_CHUNK{};
    stat->idChunk = 0;
    stat->breakType = CHUNK_EOS;
    stat->flags = CHUNK_TEXT;
    stat->attribute.guidPropSet = PSGUID_STORAGE;
    stat->attribute.psProperty.ulKind = PRSPEC_PROPID;
    stat->attribute.psProperty.propid = PID_STG_CONTENTS;
    return S_OK;
  }
  HRESULT GetText(ULONG* count, WCHAR* buffer) override {
    if (!count || !buffer) return E_POINTER;
    if (!m_textLeft) return FILTER_E_NO_MORE_TEXT;
    static constexpr char16_t kText[] = u"zeroid";
    *count = std::min<ULONG>(*count, 6);
    std::copy(kText, kText + *count, buffer);
    m_textLeft = false;
    return FILTER_S_LAST_TEXT;
  }
  HRESULT GetValue(PROPVARIANT** value) override {
    if (value) *value = nullptr;
    return FILTER_E_NO_VALUES;
  }
  HRESULT BindRegion(FILTERREGION, REFIID, void** unknown) override {
    if (unknown) *unknown = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_ZeroIdFilter;
    return S_OK;
  }
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(LPCOLESTR, DWORD) override { return S_OK; }
  HRESULT Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
  HRESULT SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
  HRESULT GetCurFile(LPOLESTR* name) override {
    if (name) *name = nullptr;
    return E_NOTIMPL;
  }

 private:
  ULONG m_chunks = 0;
  bool m_textLeft = true;
};

const char16_t kScript[] = uR"rgs(HKCR
{
	NoRemove CLSID
	{
		ForceRemove {5C1B7E02-93A4-4F0D-8E61-2B7D40C9A3F5} = s 'Zero id test filter'
		{
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Both'
			}
		}
	}
})rgs";

ZYT::CComModule g_module;
std::u16string g_path;

HRESULT UpdateRegistry(bool doRegister) {
  ZYT::CRegistrar registrar;
  registrar.AddReplacement(u"%MODULE%", g_path);
  return doRegister ? registrar.Register(kScript) : registrar.Unregister(kScript);
}

const ZYT::ClassEntry kClasses[] = {{&CLSID_ZeroIdFilter, &ZytCreateInstance<CZeroIdFilter>, &UpdateRegistry}};

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return g_module.GetClassObject(clsid, riid, ppv);
}

namespace {
struct ModuleLifetime {
  ModuleLifetime() {
    const void* self = reinterpret_cast<const void*>(&DllGetClassObject);
    g_module.Init(kClasses, std::size(kClasses), ZytModuleFromAddress(self), GUID_NULL);
    g_path = ZytModulePathFromAddress(self);
  }
  ~ModuleLifetime() { g_module.Term(); }
} g_lifetime;
}  // namespace

extern "C" HRESULT DllCanUnloadNow() { return g_module.CanUnloadNow(); }
extern "C" HRESULT DllRegisterServer() { return g_module.UpdateClassRegistry(true); }
extern "C" HRESULT DllUnregisterServer() { return g_module.UpdateClassRegistry(false); }
