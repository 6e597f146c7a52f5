#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/win32/StampedCache.h"
#include "tests/support/TestEnvironment.h"

namespace {

using ZYT::Test::MachineTest;

class StampedCacheTest : public MachineTest {};

TEST_F(StampedCacheTest, ValuesLastUntilTheRegistryChanges) {
  ZYT::StampedCache<int, int> cache;
  int computed = 0;
  auto get = [&](int key) { return cache.Get(key, [&] { return ++computed * 10 + key; }); };
  EXPECT_EQ(get(1), 11);
  EXPECT_EQ(get(1), 11) << "kept";
  EXPECT_EQ(get(2), 22) << "each key its own value";
  ZYT::Test::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Test", u"v", u"x");
  EXPECT_EQ(get(1), 31) << "any write drops what was kept";
  EXPECT_EQ(get(1), 31);
  cache.Clear();
  EXPECT_EQ(get(1), 41);
}

// Each thread keeps its own copy: a write or a Clear on one thread must reach
// what another thread kept, at its very next read.
TEST_F(StampedCacheTest, ChangesOnOneThreadReachWhatAnotherKept) {
  ZYT::StampedCache<int, int> cache;
  std::atomic<int> computed{0};
  auto get = [&] { return cache.Get(1, [&] { return ++computed; }); };
  std::promise<void> kept, changed, keptAgain, changedAgain;
  int seen[4] = {};
  std::thread reader([&] {
    seen[0] = get();
    kept.set_value();
    changed.get_future().wait();
    seen[1] = get();
    seen[2] = get();
    keptAgain.set_value();
    changedAgain.get_future().wait();
    seen[3] = get();
  });
  kept.get_future().wait();
  EXPECT_EQ(get(), 2) << "the main thread computes its own";
  ZYT::Test::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Test", u"v", u"x");
  changed.set_value();
  keptAgain.get_future().wait();
  cache.Clear();
  changedAgain.set_value();
  reader.join();
  EXPECT_EQ(seen[0], 1);
  EXPECT_EQ(seen[1], 3) << "another thread's registry write";
  EXPECT_EQ(seen[2], 3) << "kept again";
  EXPECT_EQ(seen[3], 4) << "another thread's Clear";
}

// A cache made where a destroyed one was must not find the old one's values.
TEST_F(StampedCacheTest, ANewCacheStartsEmpty) {
  for (int round = 0; round < 3; ++round) {
    ZYT::StampedCache<int, int> cache;
    EXPECT_EQ(cache.Get(1, [&] { return round; }), round);
  }
}

TEST_F(StampedCacheTest, WhatComputeThrowsIsNotKept) {
  ZYT::StampedCache<int, int> cache;
  EXPECT_THROW(cache.Get(1, []() -> int { throw 7; }), int);
  EXPECT_EQ(cache.Get(1, [] { return 5; }), 5);
}

}  // namespace
