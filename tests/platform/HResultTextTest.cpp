#include <gtest/gtest.h>

#include "platform/com/ComError.h"
#include "platform/com/Filter.h"

namespace {

TEST(HResultTextTest, EightDigitsWhateverTheSeverity) {
  const struct {
    HRESULT hr;
    const char* hex;
  } cases[] = {
      {S_OK, "0x00000000"},
      {S_FALSE, "0x00000001"},
      {FILTER_S_LAST_TEXT, "0x00041709"},
      {E_FAIL, "0x80004005"},
      {static_cast<HRESULT>(0xFFFFFFFFu), "0xffffffff"},
  };
  for (const auto& c : cases) EXPECT_EQ(ZYT::HResultHex(c.hr), c.hex) << c.hex;
}

TEST(HResultTextTest, DescriptionAddsTheMessage) {
  EXPECT_EQ(ZYT::DescribeHResult(E_NOTIMPL), "0x80004001 (Not implemented)");
  EXPECT_EQ(ZYT::DescribeHResult(static_cast<HRESULT>(0x8BADF00Du)), "0x8badf00d (Unknown error 0x8BADF00D)")
      << "a code the system has no text for";
}

}  // namespace
