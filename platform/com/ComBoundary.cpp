#include "platform/com/ComBoundary.h"

#include <cstdio>
#include <exception>
#include <new>

#include "platform/win32/Strings.h"

namespace {

std::u16string ComErrorText(HRESULT hr) {
  return u"_com_error " + ZYT::Utf8ToWide(ZYT::HResultHex(hr)) + u" " + _com_error(hr).ErrorMessage() + u"\n";
}

}  // namespace

namespace ZYT {

HRESULT ResultFromCaughtException(const char* method, IErrorLog* log,
                                  const std::source_location& boundary) noexcept {
  HRESULT hr = E_FAIL;
  std::u16string text;
  const char* file = boundary.file_name();
  int line = static_cast<int>(boundary.line());
  try {
    try {
      throw;
    } catch (const HResultException& e) {
      hr = e.Error();
      file = e.Where().file_name();
      line = static_cast<int>(e.Where().line());
      text = ComErrorText(hr);
    } catch (const _com_error& e) {
      hr = e.Error();
      text = ComErrorText(hr);
    } catch (HRESULT thrown) {
      // A thrown HRESULT is logged as the COM error it stands for.
      hr = thrown;
      text = ComErrorText(hr);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
      text = Utf8ToWide(method) + u": out of memory\n";
    } catch (const std::exception& e) {
      hr = E_FAIL;
      text = Utf8ToWide(method) + u": " + Utf8ToWide(e.what()) + u"\n";
    } catch (...) {
      hr = E_FAIL;
      text = Utf8ToWide(method) + u": unknown exception\n";
    }
    // A thrown success code must not pass for success at a COM boundary.
    if (SUCCEEDED(hr)) hr = E_FAIL;
    if (log) log->LogError(text, file, line);
  } catch (...) {
    // Building or writing the entry failed (out of memory); the code still stands.
  }
  return hr;
}

}  // namespace ZYT
