#include <gtest/gtest.h>

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

TEST_F(StampedCacheTest, WhatComputeThrowsIsNotKept) {
  ZYT::StampedCache<int, int> cache;
  EXPECT_THROW(cache.Get(1, []() -> int { throw 7; }), int);
  EXPECT_EQ(cache.Get(1, [] { return 5; }), 5);
}

}  // namespace
