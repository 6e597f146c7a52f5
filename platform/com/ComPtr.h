// Owning interface pointer. Ownership is stated in the call: the raw-pointer
// constructor takes a new reference (AddRef), ComPtr::Adopt takes over one the
// caller already owns. put() releases what is held before handing out T**.
#pragma once

#include <utility>

#include "platform/com/Unknwn.h"

namespace ZYT {

template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  explicit ComPtr(T* p) noexcept : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  static ComPtr Adopt(T* p) noexcept {
    ComPtr r;
    r.m_p = p;
    return r;
  }
  ComPtr(const ComPtr& o) noexcept : ComPtr(o.m_p) {}
  ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& o) noexcept {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }

  void Reset() noexcept {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  void Swap(ComPtr& o) noexcept { std::swap(m_p, o.m_p); }

  T* get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  T& operator*() const noexcept { return *m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }

  // For out-parameters: releases the current pointer first.
  T** put() noexcept {
    Reset();
    return &m_p;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  // Gives up ownership without releasing.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(m_p, nullptr); }

  // Hands out a new reference; *pp is null when nothing is held.
  HRESULT CopyTo(T** pp) const noexcept {
    if (!pp) return E_POINTER;
    *pp = m_p;
    if (m_p) m_p->AddRef();
    return S_OK;
  }
  HRESULT CopyTo(REFIID riid, void** pp) const noexcept {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    return m_p ? m_p->QueryInterface(riid, pp) : E_POINTER;
  }

  template <class U>
  HRESULT As(ComPtr<U>& out) const noexcept {
    if (!m_p) {
      out.Reset();
      return E_POINTER;
    }
    return m_p->QueryInterface(uuidof<U>(), out.put_void());
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.m_p == b.m_p; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.m_p == nullptr; }

 private:
  T* m_p = nullptr;
};

}  // namespace ZYT
