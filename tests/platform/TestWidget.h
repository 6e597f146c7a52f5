// The interface of the classes that the test module (testclass.dll.so) serves.
#pragma once

#include "platform/com/Unknwn.h"

struct ITestWidget : IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{6A1F0C2E-5B8D-4E61-9B0A-2D7C3E4F5A60}");
  virtual HRESULT SetValue(LONG value) = 0;
  virtual HRESULT GetValue(LONG* value) = 0;
  // The serving module's lock count, so tests can watch it from outside.
  virtual HRESULT ModuleLocks(LONG* count) = 0;

 protected:
  ~ITestWidget() = default;
};

inline constexpr CLSID CLSID_TestWidget = ZYT::MakeGuid("{6A1F0C2E-5B8D-4E61-9B0A-2D7C3E4F5A61}");
// FinalConstruct fails with E_ACCESSDENIED.
inline constexpr CLSID CLSID_TestRefusing = ZYT::MakeGuid("{6A1F0C2E-5B8D-4E61-9B0A-2D7C3E4F5A62}");
// In the class table without an instance creator.
inline constexpr CLSID CLSID_TestUnbuilt = ZYT::MakeGuid("{6A1F0C2E-5B8D-4E61-9B0A-2D7C3E4F5A63}");
