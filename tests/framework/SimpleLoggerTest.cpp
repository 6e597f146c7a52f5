#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "framework/EasyIFilterBase.h"
#include "framework/SimpleLogger.h"
#include "framework/StopWatch.h"
#include "platform/com/ComObject.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Repository.h"
#include "tests/support/TestEnvironment.h"

namespace {

using ZYT::Test::MachineTest;

class SimpleLoggerTest : public MachineTest {
 protected:
  std::u16string Folder() { return PathInW("logs"); }
  std::string Only() {
    auto files = ListDir(PathIn("logs"));
    return files.size() == 1 ? ReadBytes(PathIn("logs/" + files[0])) : "(" + std::to_string(files.size()) + " files)";
  }
};

TEST_F(SimpleLoggerTest, NoFolderMeansNoFile) {
  CSimpleLogger log(u"XML", true, true, Folder());
  log.Log(u"nothing\n");
  EXPECT_FALSE(Exists(PathIn("logs")));
  EXPECT_TRUE(log.CurrentFile().empty()) << "a logger that never writes makes no file";
}

TEST_F(SimpleLoggerTest, EntriesCarryTimeLabelAndLine) {
  mkdir(PathIn("logs").c_str(), 0700);
  CSimpleLogger log(u"Archive", true, true, Folder());
  log.Log(u"Init called\n");
  log.Log(u"text\n", ".\\EasyIFilterBase.cpp", 99);
  log.Log(u"no line\n", "framework/Label.cpp", -1);
  log.LogComError(_com_error(E_OUTOFMEMORY), nullptr, -1);
  SetLastError(5);
  log.LogWin32Failure(u"CreateFileW", nullptr, -1);
  std::string text = Only();
  std::regex stamp("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4} ");
  std::vector<std::string> lines;
  for (size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
    lines.push_back(text.substr(pos, end - pos));
  ASSERT_EQ(lines.size(), 5u) << text;
  for (const std::string& line : lines) {
    ASSERT_GE(line.size(), 25u);
    EXPECT_TRUE(std::regex_match(line.substr(0, 25), stamp)) << "'" << line.substr(0, 25) << "'";
  }
  EXPECT_EQ(lines[0].substr(25), "Init called");
  EXPECT_EQ(lines[1].substr(25), "EasyIFilterBase.cpp, line 99: text");
  EXPECT_EQ(lines[2].substr(25), "Label.cpp: no line");
  EXPECT_EQ(lines[3].substr(25), "_com_error 0x8007000e Not enough storage is available to complete this operation.");
  EXPECT_EQ(lines[4].substr(25), "CreateFileW failed, error = 5");
  std::string name = ZYT::WideToUtf8(log.CurrentFile());
  EXPECT_TRUE(std::regex_search(name, std::regex("/Arc[0-9A-F]+\\.tmp$"))) << name;
}

TEST_F(SimpleLoggerTest, FolderCreatedLaterStartsANewFile) {
  CSimpleLogger log(u"FLT", true, false, Folder());
  ZYT::CLogStream s;
  s << "first " << 42 << "\n";
  log.Write(s);
  EXPECT_TRUE(s.empty()) << "the stream is emptied even when logging is off";
  mkdir(PathIn("logs").c_str(), 0700);
  s << "second " << ZYT::Hex(FILTER_E_END_OF_CHUNKS) << "\n";
  log.Write(s);
  EXPECT_EQ(Only(), "second 0x80041700\n");
  log.SetFolder(Folder());
  log.Log(u"third\n");
  EXPECT_EQ(ListDir(PathIn("logs")).size(), 2u) << "SetFolder makes the next entry choose a new file";
}

TEST_F(SimpleLoggerTest, RemovingTheFolderStopsLoggingAtTheNextEntry) {
  mkdir(PathIn("logs").c_str(), 0700);
  CSimpleLogger log(u"FLT", true, false, Folder());
  EXPECT_TRUE(log.Logging());
  log.Log(u"first\n");
  std::string file = ZYT::WideToUtf8(log.CurrentFile());
  ASSERT_EQ(ReadBytes(file), "first\n");
  ASSERT_EQ(unlink(file.c_str()), 0);
  ASSERT_EQ(rmdir(PathIn("logs").c_str()), 0);
  EXPECT_FALSE(log.Logging());
  log.Log(u"second\n");
  EXPECT_FALSE(Exists(PathIn("logs"))) << "a removed folder is not made again";
  mkdir(PathIn("logs").c_str(), 0700);
  EXPECT_TRUE(log.Logging());
}

TEST_F(SimpleLoggerTest, FixedFileAppendsWithoutStamps) {
  mkdir(PathIn("logs").c_str(), 0700);
  for (int i = 0; i < 2; ++i) {
    CSimpleLogger log(u"indexer-performance.csv", false, false, Folder());
    log.Log(u"a;b\n");
  }
  EXPECT_EQ(ReadBytes(PathIn("logs/indexer-performance.csv")), "a;b\na;b\n");
}

// Someone else's FIFO where the log goes must neither hold the filter nor get
// its entries; the next regular file does.
TEST_F(SimpleLoggerTest, AFifoInPlaceOfTheLogIsNeverWaitedFor) {
  mkdir(PathIn("logs").c_str(), 0700);
  ASSERT_EQ(mkfifo(PathIn("logs/indexer-performance.csv").c_str(), 0600), 0);
  ZYT::Test::ChildExit exit = ZYT::Test::RunInChild([&] {
    CSimpleLogger log(u"indexer-performance.csv", false, false, Folder());
    log.Log(u"a;b\n");
    return 0;
  }, 10);
  EXPECT_FALSE(exit.hung) << "the log waited for a reader of the FIFO";
  EXPECT_EQ(exit.status, 0);
  struct stat st;
  ASSERT_EQ(lstat(PathIn("logs/indexer-performance.csv").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
  unlink(PathIn("logs/indexer-performance.csv").c_str());
  CSimpleLogger log(u"indexer-performance.csv", false, false, Folder());
  log.Log(u"c\n");
  EXPECT_EQ(ReadBytes(PathIn("logs/indexer-performance.csv")), "c\n");
  ASSERT_EQ(stat(PathIn("logs/indexer-performance.csv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "a log is its owner's only";
}

TEST(LogRenderingTest, PropertiesAndValues) {
  FULLPROPSPEC byId{ZYT::MakeGuid("{B725F130-47EF-101A-A5F1-02608C9EEBAC}"), {PRSPEC_PROPID, {19}}};
  EXPECT_EQ(ZYT::RenderPropSpec(byId), u"{B725F130-47EF-101A-A5F1-02608C9EEBAC}/0x13");
  FULLPROPSPEC byName = byId;
  byName.psProperty.ulKind = PRSPEC_LPWSTR;
  byName.psProperty.lpwstr = const_cast<LPWSTR>(u"To");
  EXPECT_EQ(ZYT::RenderPropSpec(byName), u"{B725F130-47EF-101A-A5F1-02608C9EEBAC}/To");
  byName.psProperty.ulKind = 7;
  EXPECT_EQ(ZYT::RenderPropSpec(byName), u"{B725F130-47EF-101A-A5F1-02608C9EEBAC}/?");
  PROPVARIANT v;
  PropVariantInit(&v);
  EXPECT_EQ(ZYT::RenderPropVariant(v), u"(empty)");
  v.vt = VT_UI4;
  v.ulVal = 4000000000u;
  EXPECT_EQ(ZYT::RenderPropVariant(v), u"4000000000");
  v.vt = VT_LPWSTR;
  v.pwszVal = const_cast<LPWSTR>(u"a.txt|b.pdf");
  EXPECT_EQ(ZYT::RenderPropVariant(v), u"a.txt|b.pdf");
  v.vt = VT_BOOL;
  EXPECT_EQ(ZYT::RenderPropVariant(v), u"(other)");
  EXPECT_EQ(ZYT::RenderComError(_com_error(MakeHResult(0x80991234))), u"_com_error 0x80991234 Unknown error 0x80991234");
}

TEST(StopWatchTest, ElapsedIsZeroOutsideTheLaps) {
  CStopWatch watch;
  EXPECT_EQ(watch.TotalElapsed(), 0u);
  DWORD started = watch.Start();
  Sleep(2);
  DWORD loaded = watch.Lap(u"loaded");
  watch.Finish();
  ASSERT_EQ(watch.Laps().size(), 3u);
  EXPECT_EQ(watch.Laps()[0].label, u"start");
  EXPECT_EQ(watch.Laps()[0].time, started);
  EXPECT_EQ(watch.Laps()[2].label, u"finish");
  EXPECT_EQ(watch.Elapsed(0, 1), loaded - started);
  EXPECT_EQ(watch.Elapsed(1, 1), 0u);
  EXPECT_EQ(watch.Elapsed(0, 5), 0u);
  EXPECT_EQ(watch.Elapsed(2, 1), 0u);
  EXPECT_EQ(watch.TotalElapsed(), watch.Elapsed(0, 2));
  watch.Start();
  EXPECT_EQ(watch.Laps().size(), 1u) << "Start empties the laps";
}

// A filter built on the base, as the archive filters are.
class CSampleDirectFilter : public ZYT::CComObjectRoot, public EasyIFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CSampleDirectFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
  CSampleDirectFilter() : EasyIFilterBase(u"Archive", ZYT::MakeGuid("{42EF1EF4-F295-4F4C-B48E-2E06D31FF3AB}")) {}
  HRESULT FinalConstruct() { return FinalConstructStep(); }
  HRESULT Init(ULONG grfFlags, ULONG c, const FULLPROPSPEC* a, ULONG* flags) { return BaseInit(grfFlags, c, a, flags); }
  const ZYT::FilterInitFlags& Flags() const { return m_initFlags; }
  const std::u16string& LogFile() const { return m_log.CurrentFile(); }
  const std::u16string& LogFolder() const { return m_log.Folder(); }
};

class EasyIFilterBaseTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ZYT::Test::UseRepository(*this, false);
  }
};

TEST_F(EasyIFilterBaseTest, InitFlagsAndItsLog) {
  mkdir(PathIn("repo/Debug.Filter").c_str(), 0700);
  ZYT::ComPtr<ZYT::CComObject<CSampleDirectFilter>> filter;
  ASSERT_EQ(ZYT::CComObject<CSampleDirectFilter>::Create(filter), S_OK);
  ULONG flags = 0;
  EXPECT_EQ(filter->LogFolder(), PathInW("repo/Debug.Filter"));
  ASSERT_EQ(filter->Init(0, 0, nullptr, &flags), S_OK);
  EXPECT_FALSE(filter->Flags().property);
  EXPECT_TRUE(filter->Flags().list);
  EXPECT_EQ(flags, 1u);
  FULLPROPSPEC attributes[2] = {{ZYT::MakeGuid("{F29F85E0-4FF9-1068-AB91-08002B27B3D9}"), {PRSPEC_PROPID, {2}}},
                                {PSGUID_STORAGE, {PRSPEC_PROPID, {PID_STG_CONTENTS}}}};
  ASSERT_EQ(filter->Init(0, 1, attributes, &flags), S_OK);
  EXPECT_TRUE(filter->Flags().property && filter->Flags().list) << "other properties leave both flags on";
  ASSERT_EQ(filter->Init(0, 2, attributes, &flags), S_OK);
  EXPECT_FALSE(filter->Flags().property || filter->Flags().list) << "naming the contents turns both off";
  EXPECT_EQ(filter->Init(0, 2, nullptr, &flags), E_INVALIDARG);
  ASSERT_EQ(filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);

  std::string log = ReadBytes(ZYT::WideToUtf8(filter->LogFile()));
  for (const char* expected :
       {"FinalConstruct\n", "Init called\n", "content true, grfFlags = 0\n", "attribute[0] = 2\n",
        "attribute[1] = 19\n", "storage attribute[1 = 19 is PID_STG_CONTENTS\n",
        "content false, apply index attributes, grfFlags = 16\n"})
    EXPECT_NE(log.find(expected), std::string::npos) << expected << " missing from\n" << log;
  EXPECT_NE(ZYT::WideToUtf8(filter->LogFile()).find("/repo/Debug.Filter/Arc"), std::string::npos);

  LPOLESTR path = reinterpret_cast<LPOLESTR>(0x1);
  EXPECT_EQ(filter->GetCurFile(&path), E_FAIL);
  filter->Load(u"D:\\x.zip", 0);
  ASSERT_EQ(filter->GetCurFile(&path), S_OK);
  EXPECT_EQ(std::u16string(path), u"D:\\x.zip");
  CoTaskMemFree(path);
  CLSID clsid{};
  filter->GetClassID(&clsid);
  EXPECT_EQ(ZYT::GuidToString(clsid), u"{42EF1EF4-F295-4F4C-B48E-2E06D31FF3AB}");
}

TEST_F(EasyIFilterBaseTest, WithoutTheSwitchFolderNothingIsWritten) {
  ZYT::ComPtr<ZYT::CComObject<CSampleDirectFilter>> filter;
  ASSERT_EQ(ZYT::CComObject<CSampleDirectFilter>::Create(filter), S_OK);
  ULONG flags = 0;
  filter->Init(0, 0, nullptr, &flags);
  EXPECT_EQ(ListDir(PathIn("repo")), std::vector<std::string>{}) << "a filter's whole life leaves no file";
}

}  // namespace
