#include "platform/com/ComError.h"

#include <atomic>
#include <cstdio>
#include <new>

#include "platform/win32/Strings.h"

namespace {

struct Message {
  uint32_t hr;
  const char* text;
};

// The system's texts for the codes this module meets, as FormatMessage gives them.
constexpr Message kMessages[] = {
    {0x00000000, "The operation completed successfully."},
    {0x00000001, "Incorrect function."},
    {0x80004001, "Not implemented"},
    {0x80004002, "No such interface supported"},
    {0x80004003, "Invalid pointer"},
    {0x80004004, "Operation aborted"},
    {0x80004005, "Unspecified error"},
    {0x8000FFFF, "Catastrophic failure"},
    {0x80070001, "Incorrect function."},
    {0x80070002, "The system cannot find the file specified."},
    {0x80070003, "The system cannot find the path specified."},
    {0x80070004, "The system cannot open the file."},
    {0x80070005, "Access is denied."},
    {0x80070006, "The handle is invalid."},
    {0x80070008, "Not enough memory resources are available to process this command."},
    {0x8007000D, "The data is invalid."},
    {0x8007000E, "Not enough storage is available to complete this operation."},
    {0x80070012, "There are no more files."},
    {0x80070013, "The media is write protected."},
    {0x80070020, "The process cannot access the file because it is being used by another process."},
    {0x80070026, "Reached the end of the file."},
    {0x80070032, "The request is not supported."},
    {0x80070035, "The network path was not found."},
    {0x80070050, "The file exists."},
    {0x80070057, "The parameter is incorrect."},
    {0x8007006D, "The pipe has been ended."},
    {0x80070070, "There is not enough space on the disk."},
    {0x8007007A, "The data area passed to a system call is too small."},
    {0x8007007B, "The filename, directory name, or volume label syntax is incorrect."},
    {0x8007007E, "The specified module could not be found."},
    {0x8007007F, "The specified procedure could not be found."},
    {0x80070091, "The directory is not empty."},
    {0x800700A1, "The specified path is invalid."},
    {0x800700B7, "Cannot create a file when that file already exists."},
    {0x800700CB, "The system could not find the environment option that was entered."},
    {0x800700E7, "All pipe instances are busy."},
    {0x800700E8, "The pipe is being closed."},
    {0x800700E9, "No process is on the other end of the pipe."},
    {0x800700EA, "More data is available."},
    {0x80070102, "The wait operation timed out."},
    {0x80070103, "No more data is available."},
    {0x8007010B, "The directory name is invalid."},
    {0x800703F1, "The configuration registry database is corrupt."},
    {0x800703F2, "The configuration registry key is invalid."},
    {0x800703F3, "The configuration registry key could not be opened."},
    {0x800703F4, "The configuration registry key could not be read."},
    {0x800703F5, "The configuration registry key could not be written."},
    {0x800703FA, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {0x80070459, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {0x80070714, "The specified image file did not contain a resource section."},
    {0x80070715, "The specified resource type cannot be found in the image file."},
    {0x80070716, "The specified resource name cannot be found in the image file."},
    {0x8007047E, "The specified program requires a newer version of Windows."},
    {0x80040110, "Class does not support aggregation (or class object is remote)"},
    {0x80040111, "ClassFactory cannot supply requested class"},
    {0x80040112, "Class is not licensed for use"},
    {0x80040150, "Could not read key from registry"},
    {0x80040151, "Could not write key to registry"},
    {0x80040152, "Could not find the key in the registry"},
    {0x80040153, "Invalid value for registry"},
    {0x80040154, "Class not registered"},
    {0x80040155, "Interface not registered"},
    {0x80040156, "Threading model entry is not valid"},
    {0x800401F0, "CoInitialize has not been called."},
    {0x800401F1, "CoInitialize has already been called."},
    {0x800401F3, "Invalid class string"},
    {0x800401F4, "Invalid interface string"},
    {0x800401F5, "Application not found"},
    {0x800401F8, "DLL for class not found"},
    {0x800401F9, "Error in the DLL"},
    {0x800401FB, "Object is not registered"},
    {0x800401FC, "Object is already registered"},
    {0x80080005, "Server execution failed"},
    {0x80020001, "Unknown interface."},
    {0x80020003, "Member not found."},
    {0x80020004, "Parameter not found."},
    {0x80020005, "Type mismatch."},
    {0x80020006, "Unknown name."},
    {0x80020007, "No named arguments."},
    {0x80020008, "Bad variable type."},
    {0x80020009, "Exception occurred."},
    {0x8002000A, "Out of present range."},
    {0x8002000B, "Invalid index."},
    {0x8002000C, "Unknown language."},
    {0x8002000D, "Memory is locked."},
    {0x8002000E, "Invalid number of parameters."},
    {0x8002000F, "Parameter not optional."},
    {0x80020010, "Invalid callee."},
    {0x80020011, "Does not support a collection."},
    {0x80020012, "Division by zero."},
    {0x80020013, "Buffer too small"},
    {0x8002801D, "Library not registered."},
    {0x8002802B, "Element not found."},
    // The indexer's own codes, worded as its message table has them; without
    // them a filter's answer reads as a bare "IDispatch error #5379".
    {0x80041700, "No more chunks of text available in object."},
    {0x80041701, "No more text available in chunk."},
    {0x80041702, "No more property values available in chunk."},
    {0x80041703, "Unable to access object."},
    {0x00041704, "Moniker doesn't cover entire region."},
    {0x80041705, "No text in current chunk."},
    {0x80041706, "No values in current chunk."},
    {0x80041707, "Unable to bind IFilter for embedded object."},
    {0x80041708, "Unable to bind IFilter for linked object."},
    {0x00041709, "This is the last text in the current chunk."},
    {0x0004170A, "This is the last value in the current chunk."},
    {0x8004170B, "File was not filtered due to password protection."},
    {0x8004170C, "The document format is not recognized by the filter."},
    {0x80041730, "File is too large to filter."},
    {0x00041731, "A partial content scan of the disk needs to be scheduled for immediate execution."},
    {0x00041732, "A full content scan of the disk needs to be scheduled for immediate execution."},
    {0x00041733, "A content scan of the disk needs to be scheduled for execution later."},
    {0xC0041734, "The content index is corrupt. A content scan will to be scheduled after chkdsk or autochk is run."},
    {0x00041735, "The disk is getting full."},
    {0x80041736, "A file is already open. Cannot open another one while a file is open."},
    {0x80041737, "The file is not reachable."},
    {0x80041738, "The document is in use by another process."},
    {0x80041739, "The document is not opened."},
    {0x0004173A, "The document has no property sets."},
    {0x8004173B, "There is no property with the given GUID."},
    {0x0004173C, "The document has no security descriptor."},
    {0x8004173D, "The document is offline."},
    {0x8004173E, "The document was too big to filter in its entirety. Portions of the document were not emitted."},
};

// The error object of CreateErrorInfo. It lives in this library, not in the
// module that filled it, so it outlasts any module that is unloaded.
class CErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo)
      *ppv = static_cast<IErrorInfo*>(this);
    else if (riid == IID_ICreateErrorInfo)
      *ppv = static_cast<ICreateErrorInfo*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++m_references; }
  ULONG Release() override {
    ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }

  HRESULT GetGUID(GUID* pGUID) override {
    if (!pGUID) return E_INVALIDARG;
    *pGUID = m_guid;
    return S_OK;
  }
  HRESULT GetSource(BSTR* out) override { return Copy(m_source, out); }
  HRESULT GetDescription(BSTR* out) override { return Copy(m_description, out); }
  HRESULT GetHelpFile(BSTR* out) override { return Copy(m_helpFile, out); }
  HRESULT GetHelpContext(DWORD* out) override {
    if (!out) return E_INVALIDARG;
    *out = m_helpContext;
    return S_OK;
  }

  HRESULT SetGUID(REFGUID guid) override {
    m_guid = guid;
    return S_OK;
  }
  HRESULT SetSource(LPOLESTR text) override { return Assign(m_source, text); }
  HRESULT SetDescription(LPOLESTR text) override { return Assign(m_description, text); }
  HRESULT SetHelpFile(LPOLESTR text) override { return Assign(m_helpFile, text); }
  HRESULT SetHelpContext(DWORD context) override {
    m_helpContext = context;
    return S_OK;
  }

 private:
  ~CErrorInfo() = default;

  static HRESULT Copy(const std::u16string& text, BSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT Assign(std::u16string& field, LPOLESTR text) {
    try {
      field = text ? text : u"";
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  std::atomic<ULONG> m_references{1};
  GUID m_guid{};
  std::u16string m_source, m_description, m_helpFile;
  DWORD m_helpContext = 0;
};

// This thread's error object; released when the thread ends.
struct ErrorSlot {
  IErrorInfo* info = nullptr;
  ~ErrorSlot() {
    if (info) info->Release();
  }
};
thread_local ErrorSlot t_errorSlot;

}  // namespace

namespace ZYT {

std::u16string SystemMessage(HRESULT hr) {
  for (const Message& m : kMessages)
    if (m.hr == static_cast<uint32_t>(hr)) return Utf8ToWide(m.text) + u"\r\n";
  return {};
}

std::string HResultHex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(hr));
  return text;
}

std::string DescribeHResult(HRESULT hr) { return HResultHex(hr) + " (" + WideToUtf8(_com_error(hr).ErrorMessage()) + ")"; }

void ThrowHResult(HRESULT hr, std::source_location where) { throw HResultException(hr, where); }

void SetErrorDescription(const std::u16string& description, const std::u16string& source) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return;
  std::u16string text = description, from = source;
  create->SetDescription(text.data());
  if (!from.empty()) create->SetSource(from.data());
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

std::u16string TakeErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return {};
  std::u16string text;
  BSTR description = nullptr;
  if (SUCCEEDED(info->GetDescription(&description)) && description)
    text.assign(description, SysStringLen(description));
  SysFreeString(description);
  info->Release();
  return text;
}

}  // namespace ZYT

const WCHAR* _com_error::ErrorMessage() const {
  if (m_message.empty()) {
    std::u16string text = ZYT::SystemMessage(m_hr);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
    if (text.empty()) {
      char buffer[48];
      if (WCode())
        std::snprintf(buffer, sizeof buffer, "IDispatch error #%d", WCode());
      else
        std::snprintf(buffer, sizeof buffer, "Unknown error 0x%0lX",
                      static_cast<unsigned long>(static_cast<uint32_t>(m_hr)));
      text = ZYT::Utf8ToWide(buffer);
    }
    m_message = std::move(text);
  }
  return m_message.c_str();
}

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = nullptr;
  CErrorInfo* info = new (std::nothrow) CErrorInfo;
  if (!info) return E_OUTOFMEMORY;
  *pperrinfo = info;
  return S_OK;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  if (perrinfo) perrinfo->AddRef();
  IErrorInfo* previous = t_errorSlot.info;
  t_errorSlot.info = perrinfo;
  if (previous) previous->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = nullptr;
  if (dwReserved != 0) return E_INVALIDARG;
  *pperrinfo = t_errorSlot.info;  // the slot's reference goes to the caller
  t_errorSlot.info = nullptr;
  return *pperrinfo ? S_OK : S_FALSE;
}
