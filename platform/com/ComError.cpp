#include "platform/com/ComError.h"

#include <cstdio>

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
};

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
