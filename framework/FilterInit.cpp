#include "framework/FilterInit.h"

namespace ZYT {

namespace {

// The attribute's name for the log: only the member its kind says is set is
// read, since a caller's list is not trusted to have a string where the kind
// is neither.
void AppendName(CLogStream& out, const PROPSPEC& property) {
  if (property.ulKind == PRSPEC_PROPID)
    out << property.propid;
  else if (property.ulKind == PRSPEC_LPWSTR)
    out << property.lpwstr;
  else
    out << "?";
}

}  // namespace

HRESULT InterpretFilterInit(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes,
                            FilterInitFlags& flags, CSimpleLogger* log) {
  // Nothing is composed for a log that does not write: Init runs once per file.
  if (log && !log->Logging()) log = nullptr;
  CLogStream out;
  if (cAttributes > 0) {
    if (!aAttributes) return E_INVALIDARG;
    bool contentsNamed = false;
    for (ULONG i = 0; i < cAttributes; ++i) {
      const FULLPROPSPEC& a = aAttributes[i];
      if (log) {
        out << "attribute[" << i << "] = ";
        AppendName(out, a.psProperty);
        out << "\n";
        log->Write(out);
      }
      // The contents property is recognised by its set and identifier field
      // alone; for a name the field holds the low bits of a 2-aligned
      // pointer, which are never 19.
      if (a.guidPropSet == PSGUID_STORAGE && a.psProperty.propid == PID_STG_CONTENTS) {
        if (log) {
          out << "storage attribute[" << i << " = ";
          AppendName(out, a.psProperty);
          out << " is PID_STG_CONTENTS\n";
          log->Write(out);
        }
        contentsNamed = true;
      }
      flags.property = flags.list = !contentsNamed;
    }
  } else {
    flags.property = grfFlags != 0;
    flags.list = true;
    if (log) {
      if (grfFlags == 0)
        out << "content true, grfFlags = ";
      else
        out << ((grfFlags & IFILTER_INIT_APPLY_INDEX_ATTRIBUTES) ? "content false, apply index attributes, grfFlags = "
                                                                : "content false, ??????, grfFlags = ");
      out << grfFlags << "\n";
      log->Write(out);
    }
  }
  return S_OK;
}

}  // namespace ZYT
