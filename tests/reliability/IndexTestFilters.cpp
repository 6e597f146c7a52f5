// Filters that zytfilt index must survive, registered for their own
// extensions: .idxhang never returns from Init, .idxcrash kills its process
// in Init.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/com/Registrar.h"
#include "platform/win32/SysInfo.h"
#include "tests/support/FakeFilter.h"

namespace {

constexpr CLSID CLSID_HangFilter = ZYT::MakeGuid("{6A0E3C52-1F7B-4D28-9C35-8E14B7A2D901}");
constexpr CLSID CLSID_CrashFilter = ZYT::MakeGuid("{6A0E3C52-1F7B-4D28-9C35-8E14B7A2D902}");

template <const CLSID& Id>
class CBadFilter : public ZYT::Test::CFakeFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CBadFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()

 protected:
  const std::vector<ZYT::Test::FakeChunk>& Chunks() override { return m_chunks; }
  CLSID ClassId() override { return Id; }
  HRESULT Loaded(LPCOLESTR) override { return S_OK; }
  void Hook(const char* method) override {
    if (std::string_view(method) != "Init") return;
    if (&Id == &CLSID_HangFilter) {
      for (;;) pause();
    }
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    raise(SIGSEGV);
  }

 private:
  std::vector<ZYT::Test::FakeChunk> m_chunks;
};

const char16_t kScript[] = uR"rgs(HKCR
{
	NoRemove .idxhang
	{
		ForceRemove PersistentHandler = s '{6A0E3C52-1F7B-4D28-9C35-8E14B7A2D911}'
	}
	NoRemove .idxcrash
	{
		ForceRemove PersistentHandler = s '{6A0E3C52-1F7B-4D28-9C35-8E14B7A2D912}'
	}
	NoRemove CLSID
	{
		ForceRemove {6A0E3C52-1F7B-4D28-9C35-8E14B7A2D901} = s 'Hanging test filter'
		{
			InprocServer32 = s '%MODULE%'
		}
		ForceRemove {6A0E3C52-1F7B-4D28-9C35-8E14B7A2D902} = s 'Crashing test filter'
		{
			InprocServer32 = s '%MODULE%'
		}
		ForceRemove {6A0E3C52-1F7B-4D28-9C35-8E14B7A2D911} = s 'Hanging test handler'
		{
			ForceRemove PersistentAddinsRegistered
			{
				{89BCB740-6119-101A-BCB7-00DD010655AF} = s '{6A0E3C52-1F7B-4D28-9C35-8E14B7A2D901}'
			}
		}
		ForceRemove {6A0E3C52-1F7B-4D28-9C35-8E14B7A2D912} = s 'Crashing test handler'
		{
			ForceRemove PersistentAddinsRegistered
			{
				{89BCB740-6119-101A-BCB7-00DD010655AF} = s '{6A0E3C52-1F7B-4D28-9C35-8E14B7A2D902}'
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

const ZYT::ClassEntry kClasses[] = {
    {&CLSID_HangFilter, &ZytCreateInstance<CBadFilter<CLSID_HangFilter>>, &UpdateRegistry},
    {&CLSID_CrashFilter, &ZytCreateInstance<CBadFilter<CLSID_CrashFilter>>, nullptr},
};

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
