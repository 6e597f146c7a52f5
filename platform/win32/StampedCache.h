// What was read from the registry, kept while the registry stays as it was:
// any write, by this process or another, drops everything cached.
#pragma once

#include <map>
#include <mutex>

#include "platform/win32/RegistryStore.h"

namespace ZYT {

template <class Key, class Value>
class StampedCache {
 public:
  // The value cached for key, else compute()'s (kept when the registry did
  // not change meanwhile). What compute throws reaches the caller.
  template <class Compute>
  Value Get(const Key& key, Compute&& compute) {
    RegistryStamp stamp;
    if (!GetRegistryStamp(stamp)) return compute();
    {
      std::lock_guard guard(m_lock);
      if (!(stamp == m_stamp)) {
        m_values.clear();
        m_stamp = stamp;
      }
      auto it = m_values.find(key);
      if (it != m_values.end()) return it->second;
    }
    Value value = compute();
    std::lock_guard guard(m_lock);
    if (stamp == m_stamp) {
      if (m_values.size() >= kMaxEntries) m_values.clear();
      m_values.emplace(key, value);
    }
    return value;
  }
  // Forgets everything, for sources other than the registry that changed.
  void Clear() {
    std::lock_guard guard(m_lock);
    m_values.clear();
  }

 private:
  static constexpr size_t kMaxEntries = 4096;
  std::mutex m_lock;
  RegistryStamp m_stamp;
  std::map<Key, Value> m_values;
};

}  // namespace ZYT
