#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/com/ComBoundary.h"
#include "platform/win32/Strings.h"

namespace {

struct RecordingLog final : ZYT::IErrorLog {
  void LogError(const std::u16string& text, const char* f, int l) override {
    entries.push_back(ZYT::WideToUtf8(text));
    file = f ? f : "";
    line = l;
  }
  std::vector<std::string> entries;
  std::string file;
  int line = 0;
};

TEST(ComErrorTest, MessagesFollowTheSystemOrTheFallbacks) {
  EXPECT_EQ(ZYT::WideToUtf8(_com_error(E_OUTOFMEMORY).ErrorMessage()),
            "Not enough storage is available to complete this operation.");
  EXPECT_EQ(ZYT::WideToUtf8(_com_error(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)).ErrorMessage()),
            "The system cannot find the file specified.");
  // FACILITY_ITF codes have no system text: they are dispatch error numbers.
  EXPECT_EQ(ZYT::WideToUtf8(_com_error(FILTER_E_END_OF_CHUNKS).ErrorMessage()), "IDispatch error #5376");
  EXPECT_EQ(ZYT::WideToUtf8(_com_error(MakeHResult(0x80991234)).ErrorMessage()), "Unknown error 0x80991234");
  EXPECT_EQ(ZYT::SystemMessage(E_FAIL), u"Unspecified error\r\n");
  EXPECT_EQ(_com_error(FILTER_E_END_OF_CHUNKS).WCode(), 0x1500);
  EXPECT_EQ(_com_error::WCodeToHRESULT(0x1500), FILTER_E_END_OF_CHUNKS);
}

TEST(ComErrorTest, BoundaryTurnsEachExceptionIntoItsHResult) {
  RecordingLog log;
  EXPECT_EQ(ZYT::ComBoundary("GetChunk", &log, [] { return FILTER_E_END_OF_CHUNKS; }), FILTER_E_END_OF_CHUNKS);
  EXPECT_TRUE(log.entries.empty()) << "a returned code is not an error to log";

  EXPECT_EQ(ZYT::ComBoundary("Load", &log, []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_EQ(ZYT::ComBoundary("Load", &log, []() -> HRESULT { _com_issue_error(E_ACCESSDENIED); }), E_ACCESSDENIED);
  EXPECT_EQ(log.entries.back(), "_com_error 0x80070005 Access is denied.\n");
  EXPECT_EQ(ZYT::ComBoundary("Init", &log, []() -> HRESULT { throw FILTER_E_ACCESS; }), FILTER_E_ACCESS);
  EXPECT_EQ(ZYT::ComBoundary("Load", &log, []() -> HRESULT { throw 1.5; }), E_FAIL);
  EXPECT_EQ(log.entries.back(), "Load: unknown exception\n");
  EXPECT_EQ(ZYT::ComBoundary("Init", &log, []() -> HRESULT { throw std::runtime_error("bad header"); }), E_FAIL);
  EXPECT_EQ(log.entries.back(), "Init: bad header\n");
  EXPECT_EQ(ZYT::ComBoundary("Init", &log, []() -> HRESULT { throw S_FALSE; }), E_FAIL)
      << "a success code thrown as an error must not read as success";
  EXPECT_EQ(ZYT::ComBoundary("Init", nullptr, []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
}

TEST(ComErrorTest, BoundaryReportsWhereTheErrorWasThrown) {
  RecordingLog log;
  int thrownAt = 0;
  HRESULT hr = ZYT::ComBoundary("GetText", &log, [&]() -> HRESULT {
    thrownAt = __LINE__ + 1;
    ZYT::ThrowIfFailed(FILTER_E_NO_MORE_TEXT);
    return S_OK;
  });
  EXPECT_EQ(hr, FILTER_E_NO_MORE_TEXT);
  EXPECT_EQ(log.line, thrownAt);
  EXPECT_NE(log.file.find("ComErrorTest.cpp"), std::string::npos);
  EXPECT_EQ(log.entries.back(), "_com_error 0x80041701 IDispatch error #5377\n");
  EXPECT_EQ(ZYT::ThrowIfFailed(S_FALSE), S_FALSE) << "success codes pass through";
}

TEST(ComErrorTest, Win32CodesBecomeHResults) {
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SUCCESS), S_OK);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MORE_DATA), MakeHResult(0x800700EA));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), E_ACCESSDENIED);
  EXPECT_EQ(HRESULT_FROM_WIN32(static_cast<DWORD>(E_FAIL)), E_FAIL) << "an HRESULT passes unchanged";
}

}  // namespace
