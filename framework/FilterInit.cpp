#include "framework/FilterInit.h"

namespace ZYT {

HRESULT InterpretFilterInit(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes,
                            FilterInitFlags& flags, CSimpleLogger* log) {
  CLogStream out;
  auto entry = [&] {
    if (log) log->Write(out);
    out.clear();
  };
  if (cAttributes > 0) {
    if (!aAttributes) return E_INVALIDARG;
    bool contentsNamed = false;
    for (ULONG i = 0; i < cAttributes; ++i) {
      const FULLPROPSPEC& a = aAttributes[i];
      CLogStream name;
      if (a.psProperty.ulKind == PRSPEC_PROPID)
        name << a.psProperty.propid;
      else
        name << a.psProperty.lpwstr;
      out << "attribute[" << i << "] = " << name.str() << "\n";
      entry();
      // The contents property is recognised by its identifier field whatever the kind says.
      if (a.guidPropSet == PSGUID_STORAGE && a.psProperty.propid == PID_STG_CONTENTS &&
          a.psProperty.ulKind == PRSPEC_PROPID) {
        out << "storage attribute[" << i << " = " << name.str() << " is PID_STG_CONTENTS\n";
        entry();
        contentsNamed = true;
      }
      flags.property = flags.list = !contentsNamed;
    }
  } else {
    if (grfFlags == 0) {
      flags.property = false;
      out << "content true, grfFlags = ";
    } else {
      flags.property = true;
      out << ((grfFlags & IFILTER_INIT_APPLY_INDEX_ATTRIBUTES) ? "content false, apply index attributes, grfFlags = "
                                                              : "content false, ??????, grfFlags = ");
    }
    flags.list = true;
    out << grfFlags << "\n";
    entry();
  }
  return S_OK;
}

}  // namespace ZYT
