#pragma once

#include <utility>

#include "platform/win32/FileApi.h"

namespace ZYT {

// One Win32 handle; INVALID_HANDLE_VALUE when empty.
class CAutoHandle {
 public:
  CAutoHandle() = default;
  explicit CAutoHandle(HANDLE handle) : m_handle(handle) {}
  ~CAutoHandle() { Close(); }
  CAutoHandle(CAutoHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE)) {}
  CAutoHandle& operator=(CAutoHandle&& other) noexcept {
    if (this != &other) {
      Close();
      m_handle = std::exchange(other.m_handle, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  CAutoHandle(const CAutoHandle&) = delete;
  CAutoHandle& operator=(const CAutoHandle&) = delete;

  HANDLE get() const { return m_handle; }
  bool IsValid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
  void Close() {
    if (IsValid()) CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE m_handle = INVALID_HANDLE_VALUE;
};

}  // namespace ZYT
