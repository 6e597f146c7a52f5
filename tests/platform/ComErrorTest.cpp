#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <thread>

#include "platform/com/ComBoundary.h"
#include "platform/com/ComError.h"
#include "platform/com/Filter.h"
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
  // Other FACILITY_ITF codes have no system text: they are dispatch error numbers.
  EXPECT_EQ(ZYT::WideToUtf8(_com_error(MakeHResult(0x80040300)).ErrorMessage()), "IDispatch error #256");
  EXPECT_EQ(ZYT::WideToUtf8(_com_error(MakeHResult(0x80991234)).ErrorMessage()), "Unknown error 0x80991234");
  EXPECT_EQ(ZYT::SystemMessage(E_FAIL), u"Unspecified error\r\n");
  EXPECT_EQ(_com_error(FILTER_E_END_OF_CHUNKS).WCode(), 0x1500);
  EXPECT_EQ(_com_error::WCodeToHRESULT(0x1500), FILTER_E_END_OF_CHUNKS);
  // Eight hex digits whatever the severity, and the message after them.
  for (auto [hr, hex] : {std::pair{S_OK, "0x00000000"}, {FILTER_S_LAST_TEXT, "0x00041709"}, {E_FAIL, "0x80004005"},
                         {static_cast<HRESULT>(0xFFFFFFFFu), "0xffffffff"}})
    EXPECT_EQ(ZYT::HResultHex(hr), hex);
  EXPECT_EQ(ZYT::DescribeHResult(E_NOTIMPL), "0x80004001 (Not implemented)");
  EXPECT_EQ(ZYT::DescribeHResult(static_cast<HRESULT>(0x8BADF00Du)), "0x8badf00d (Unknown error 0x8BADF00D)");
}

// The indexer's codes are what a user of zytfilt reads most; each has its own
// words, never the dispatch-number fallback.
TEST(ComErrorTest, EveryFilterCodeHasItsText) {
  const HRESULT codes[] = {FILTER_E_END_OF_CHUNKS, FILTER_E_NO_MORE_TEXT, FILTER_E_NO_MORE_VALUES,
                           FILTER_E_ACCESS, FILTER_W_MONIKER_CLIPPED, FILTER_E_NO_TEXT, FILTER_E_NO_VALUES,
                           FILTER_E_EMBEDDING_UNAVAILABLE, FILTER_E_LINK_UNAVAILABLE, FILTER_S_LAST_TEXT,
                           FILTER_S_LAST_VALUES, FILTER_E_PASSWORD, FILTER_E_UNKNOWNFORMAT, FILTER_E_TOO_BIG,
                           FILTER_S_PARTIAL_CONTENTSCAN_IMMEDIATE, FILTER_S_FULL_CONTENTSCAN_IMMEDIATE,
                           FILTER_S_CONTENTSCAN_DELAYED, FILTER_E_CONTENTINDEXCORRUPT, FILTER_S_DISK_FULL,
                           FILTER_E_ALREADY_OPEN, FILTER_E_UNREACHABLE, FILTER_E_IN_USE, FILTER_E_NOT_OPEN,
                           FILTER_S_NO_PROPSETS, FILTER_E_NO_SUCH_PROPERTY, FILTER_S_NO_SECURITY_DESCRIPTOR,
                           FILTER_E_OFFLINE, FILTER_E_PARTIALLY_FILTERED};
  std::set<std::string> texts;
  for (HRESULT hr : codes) {
    std::string text = ZYT::WideToUtf8(_com_error(hr).ErrorMessage());
    EXPECT_TRUE(text.size() > 1 && text.back() == '.') << std::hex << hr << ": " << text;
    EXPECT_EQ(text.find("error"), std::string::npos) << std::hex << hr << " fell back: " << text;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), std::size(codes)) << "two codes share a text";
  EXPECT_EQ(ZYT::WideToUtf8(_com_error(FILTER_E_ACCESS).ErrorMessage()), "Unable to access object.");
  EXPECT_EQ(ZYT::WideToUtf8(_com_error(FILTER_E_UNKNOWNFORMAT).ErrorMessage()),
            "The document format is not recognized by the filter.");
  EXPECT_EQ(ZYT::SystemMessage(FILTER_E_END_OF_CHUNKS), u"No more chunks of text available in object.\r\n");
}

TEST(ComErrorTest, ErrorInfoIsHandedOverOncePerThread) {
  IErrorInfo* info = reinterpret_cast<IErrorInfo*>(0xCAFECAFE);
  EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE) << "nothing set on this thread yet";
  EXPECT_EQ(info, nullptr);

  ZYT::SetErrorDescription(u"the settings file /x/settings.xml is broken", u"ZYT.Test");
  std::u16string seenElsewhere = u"untouched";
  std::thread([&] { seenElsewhere = ZYT::TakeErrorDescription(); }).join();
  EXPECT_EQ(seenElsewhere, u"") << "another thread has a slot of its own";

  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  ASSERT_NE(info, nullptr);
  BSTR text = nullptr;
  ASSERT_EQ(info->GetDescription(&text), S_OK);
  EXPECT_EQ(std::u16string(text, SysStringLen(text)), u"the settings file /x/settings.xml is broken");
  SysFreeString(text);
  ASSERT_EQ(info->GetSource(&text), S_OK);
  EXPECT_EQ(std::u16string(text, SysStringLen(text)), u"ZYT.Test");
  SysFreeString(text);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(info)) << "IUnknown identity";
  unknown->Release();
  EXPECT_EQ(info->Release(), 0u) << "the slot gave its reference away";
  EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE) << "taking empties the slot";

  ZYT::SetErrorDescription(u"first");
  ZYT::SetErrorDescription(u"second");
  EXPECT_EQ(ZYT::TakeErrorDescription(), u"second") << "the newer error replaces the older";
  ZYT::SetErrorDescription(u"stale");
  EXPECT_EQ(SetErrorInfo(0, nullptr), S_OK);
  EXPECT_EQ(ZYT::TakeErrorDescription(), u"") << "a null error info clears the slot";

  EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  EXPECT_EQ(create->SetDescription(nullptr), S_OK);
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);
  EXPECT_EQ(info->Release(), 2u) << "the slot holds a reference of its own";
  EXPECT_EQ(create->Release(), 1u);
  EXPECT_EQ(ZYT::TakeErrorDescription(), u"");
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

  // A method whose protocol fixes its failure answer gives it only for what
  // was thrown, still logging the cause; what its body returns passes unchanged.
  log.entries.clear();
  const ZYT::FailureAnswer noValues{FILTER_E_NO_VALUES};
  EXPECT_EQ(ZYT::ComBoundary("GetValue", &log, noValues, [] { return FILTER_E_NO_MORE_VALUES; }),
            FILTER_E_NO_MORE_VALUES);
  EXPECT_TRUE(log.entries.empty());
  EXPECT_EQ(ZYT::ComBoundary("GetValue", &log, noValues, []() -> HRESULT { ZYT::ThrowHResult(E_ACCESSDENIED); }),
            FILTER_E_NO_VALUES);
  EXPECT_EQ(ZYT::ComBoundary("GetValue", &log, noValues, []() -> HRESULT { throw std::bad_alloc(); }),
            FILTER_E_NO_VALUES);
  EXPECT_EQ(ZYT::ComBoundary("GetValue", nullptr, noValues, []() -> HRESULT { throw 7; }), FILTER_E_NO_VALUES);
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[0].rfind("_com_error 0x80070005 ", 0), 0u) << log.entries[0];
  EXPECT_EQ(log.entries[1], "GetValue: out of memory\n");
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
  EXPECT_EQ(log.entries.back(), "_com_error 0x80041701 No more text available in chunk.\n");
  EXPECT_EQ(ZYT::ThrowIfFailed(S_FALSE), S_FALSE) << "success codes pass through";
}

}  // namespace
