// What was read from the registry, kept while the registry stays as it was:
// any write, by this process or another, drops everything cached.
//
// Each thread keeps its own copy of the cache, so that filter objects on
// different threads (threading model "Both") share no lock on the way to a
// cached value: a thread computes a value once per registry state, then reads
// it alone. Entries of a cache that no longer exists stay in the threads that
// used it until they end (the caches are process-wide objects).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <unordered_map>

#include "platform/win32/RegistryStore.h"

namespace ZYT {

template <class Key, class Value>
class StampedCache {
 public:
  StampedCache() : m_serial(NextSerial()) {}
  StampedCache(const StampedCache&) = delete;
  StampedCache& operator=(const StampedCache&) = delete;

  // The value cached for key, else compute()'s (kept when the registry did
  // not change meanwhile). What compute throws reaches the caller.
  template <class Compute>
  Value Get(const Key& key, Compute&& compute) {
    RegistryStamp stamp;
    if (!GetRegistryStamp(stamp)) return compute();
    Local& local = ThisThread();
    const uint64_t epoch = m_epoch.load(std::memory_order_acquire);
    if (!(stamp == local.stamp) || local.epoch != epoch) {
      local.values.clear();
      local.stamp = stamp;
      local.epoch = epoch;
    }
    auto it = local.values.find(key);
    if (it != local.values.end()) return it->second;
    Value value = compute();
    // compute may have used this cache itself and seen a newer registry.
    if (stamp == local.stamp && local.epoch == epoch) {
      if (local.values.size() >= kMaxEntries) local.values.clear();
      local.values.emplace(key, value);
    }
    return value;
  }
  // Forgets everything, in every thread, for sources other than the registry
  // that changed.
  void Clear() { m_epoch.fetch_add(1, std::memory_order_acq_rel); }

 private:
  static constexpr size_t kMaxEntries = 4096;

  struct Local {
    uint64_t serial = 0;
    uint64_t epoch = 0;
    RegistryStamp stamp;
    std::map<Key, Value> values;
  };

  // Unique among the caches of the process, also across modules that each
  // have their own copy of this template: the counter's address differs.
  static uint64_t NextSerial() {
    static std::atomic<uint64_t> counter{0};
    return (reinterpret_cast<uintptr_t>(&counter) << 16) ^ ++counter;
  }

  // This thread's copy; one that a destroyed cache at the same address left
  // is started afresh.
  Local& ThisThread() {
    thread_local std::unordered_map<const StampedCache*, Local> locals;
    Local& local = locals[this];
    if (local.serial != m_serial) {
      local = Local();
      local.serial = m_serial;
      local.epoch = ~uint64_t{0};
    }
    return local;
  }

  const uint64_t m_serial;
  std::atomic<uint64_t> m_epoch{0};
};

}  // namespace ZYT
