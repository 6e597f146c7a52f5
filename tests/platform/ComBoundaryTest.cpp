#include "platform/com/ComBoundary.h"

#include <gtest/gtest.h>

#include <new>

#include "platform/com/Filter.h"
#include "platform/win32/Strings.h"

namespace {

struct RecordingLog final : ZYT::IErrorLog {
  void LogError(const std::u16string& text, const char*, int) override { entries.push_back(ZYT::WideToUtf8(text)); }
  std::vector<std::string> entries;
};

// A method whose protocol fixes its failure answer still reports the cause,
// and what its body returns passes unchanged, failures included.
TEST(ComBoundaryTest, AFixedFailureAnswerReplacesOnlyWhatWasThrown) {
  RecordingLog log;
  const ZYT::FailureAnswer noValues{FILTER_E_NO_VALUES};
  EXPECT_EQ(ZYT::ComBoundary("GetValue", &log, noValues, [] { return S_OK; }), S_OK);
  EXPECT_EQ(ZYT::ComBoundary("GetValue", &log, noValues, [] { return FILTER_E_NO_MORE_VALUES; }),
            FILTER_E_NO_MORE_VALUES);
  EXPECT_TRUE(log.entries.empty()) << "a returned failure is the method's own answer, not an error";

  EXPECT_EQ(ZYT::ComBoundary("GetValue", &log, noValues, []() -> HRESULT { ZYT::ThrowHResult(E_ACCESSDENIED); }),
            FILTER_E_NO_VALUES);
  EXPECT_EQ(ZYT::ComBoundary("GetValue", &log, noValues, []() -> HRESULT { throw std::bad_alloc(); }),
            FILTER_E_NO_VALUES);
  EXPECT_EQ(ZYT::ComBoundary("GetValue", nullptr, noValues, []() -> HRESULT { throw 7; }), FILTER_E_NO_VALUES);
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[0].rfind("_com_error 0x80070005 ", 0), 0u) << log.entries[0];
  EXPECT_EQ(log.entries[1], "GetValue: out of memory\n");
}

}  // namespace
