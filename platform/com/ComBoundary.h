// The one place where exceptions become HRESULTs. Every COM method body runs
// inside ZYT::ComBoundary:
//
//   HRESULT CMp3Filter::GetChunk(STAT_CHUNK* stat) {
//     return ZYT::ComBoundary("GetChunk", m_log, [&] { ...; return S_OK; });
//   }
//
// bad_alloc becomes E_OUTOFMEMORY, _com_error and HResultException their
// HRESULT, a thrown HRESULT value itself, anything else E_FAIL; each is
// reported to the object's error log with the file and line it came from.
//
// Where the protocol fixes one answer for every failure of a method
// (IFilter::GetValue of the catalog proxy answers FILTER_E_NO_VALUES whatever
// went wrong), the caller names it; the error is still logged as above:
//
//   return ZYT::ComBoundary("GetValue", &m_log, ZYT::FailureAnswer{FILTER_E_NO_VALUES}, [&] { ... });
//
// A step whose failure its method handles itself (a fallback, a logged and
// skipped lookup) runs in a boundary of its own and tests the HRESULT, so
// that no method writes a catch of its own.
#pragma once

#include <source_location>
#include <string>

#include "platform/com/ComError.h"

namespace ZYT {

// Where a boundary reports what it caught. The module's logger implements it.
class IErrorLog {
 public:
  // text ends with its own line feed; file is a source file path, line -1 when unknown.
  virtual void LogError(const std::u16string& text, const char* file, int line) = 0;

 protected:
  ~IErrorLog() = default;
};

// Turns the exception being handled into an HRESULT and reports it to log (may
// be null). Call only inside a catch block.
HRESULT ResultFromCaughtException(const char* method, IErrorLog* log,
                                  const std::source_location& boundary) noexcept;

// The HRESULT a method answers when its body threw, instead of the error's own.
struct FailureAnswer {
  HRESULT hr;
};

template <class Body>
HRESULT ComBoundary(const char* method, IErrorLog* log, FailureAnswer answer, Body&& body,
                    std::source_location where = std::source_location::current()) noexcept {
  try {
    return body();
  } catch (...) {
    ResultFromCaughtException(method, log, where);
    return answer.hr;
  }
}

template <class Body>
HRESULT ComBoundary(const char* method, IErrorLog* log, Body&& body,
                    std::source_location where = std::source_location::current()) noexcept {
  try {
    return body();
  } catch (...) {
    return ResultFromCaughtException(method, log, where);
  }
}

template <class Body>
HRESULT ComBoundary(const char* method, Body&& body,
                    std::source_location where = std::source_location::current()) noexcept {
  return ComBoundary(method, nullptr, static_cast<Body&&>(body), where);
}

}  // namespace ZYT
