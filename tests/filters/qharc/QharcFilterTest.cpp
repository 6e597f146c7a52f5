#include "filters/qharc/QharcFilter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "filters/qharc/QharcItem.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/com/TaskAllocator.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/Volume.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/Repository.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;

constexpr DWORD kSerial = 0x1A2B3C4D;  // 439041101
const char16_t kTextHandler[] = u"{5E941D80-BF96-11CD-B579-08002B30BFEB}";
const char16_t kTextFilter[] = u"{C1243CA0-BF96-11CD-B579-08002B30BFEB}";

std::string Item(const std::string& archive, const std::string& ripped, const std::string& label,
                 const std::string& serial, const std::string& root) {
  return "<qharc-item><file archive-name=\"" + archive + "\" ripped-path=\"" + ripped + "\" volume-label=\"" +
         label + "\" volume-serial-number=\"" + serial + "\" original-root-path=\"" + root + "\"/></qharc-item>";
}

class QharcFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    UseRepository(*this, true);
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
    // The medium: drive D: holds a copy of the CD, declared with its label and serial.
    ASSERT_EQ(mkdir(PathIn("cd").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(PathIn("cd/docs").c_str(), 0700), 0);
    WriteBytes(PathIn("cd/docs/readme.txt"), "words from the medium");
    SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Platform\\Drives", u"D:", ZYT::Utf8ToWide(PathIn("cd")));
    DeclareVolume(u"D:", u"HOLIDAYS", kSerial);
    // As the catalog proxy leaves it: the text filter saved behind the handler.
    SetRegistryString(HKEY_LOCAL_MACHINE,
                      std::u16string(u"SOFTWARE\\Classes\\CLSID\\") + kTextHandler +
                          u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}",
                      u"ZYTOrrerySavedFilterKey", kTextFilter);
  }
  std::string WriteItem(const std::string& bytes, const std::string& name = "item.qharc") {
    WriteBytes(PathIn(name), bytes);
    return name;
  }
  // A filter object made through the module's class object, loaded with the item.
  HRESULT LoadItem(const std::string& name, ComPtr<IFilter>& filter) {
    HRESULT hr = CoCreateInstance(CLSID_QharcFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IFilter, filter.put_void());
    if (FAILED(hr)) return hr;
    ComPtr<IPersistFile> persist;
    hr = filter.As(persist);
    if (FAILED(hr)) return hr;
    return persist->Load(PathInW(name).c_str(), 0);
  }
  static DriveOptions Options() {
    DriveOptions options;
    options.probe = true;
    options.valueTextForwarded = true;
    return options;
  }
  static std::u16string CurFile(IFilter* filter) {
    ComPtr<IPersistFile> persist;
    EXPECT_EQ(ComPtr<IFilter>(filter).As(persist), S_OK);
    LPOLESTR path = nullptr;
    HRESULT hr = persist->GetCurFile(&path);
    std::u16string text = SUCCEEDED(hr) && path ? std::u16string(path) : u"(" + ZYT::Utf8ToWide(std::to_string(hr)) + u")";
    CoTaskMemFree(path);
    return text;
  }
};

TEST_F(QharcFilterTest, TheRippedFilesChunksThenTheArchiveName) {
  WriteItem(Item("Holiday CD", "D:\\docs\\readme.txt", "HOLIDAYS", "439041101", "D:\\"));
  ComPtr<IFilter> filter;
  ASSERT_EQ(LoadIFilter(PathInW("item.qharc").c_str(), nullptr, filter.put_void()), S_OK) << FilterLogs(*this);
  auto walk = DriveFilter(filter.get(), Options());
  ASSERT_TRUE(ObeysProtocol(walk));
  ASSERT_EQ(walk.chunks.size(), 2u);
  EXPECT_EQ(Texts(walk), std::vector<std::u16string>{u"words from the medium"});
  const auto& archive = walk.chunks.back();
  EXPECT_EQ(archive.stat.flags, CHUNK_VALUE);
  EXPECT_EQ(archive.stat.breakType, CHUNK_EOS);
  EXPECT_EQ(archive.stat.idChunk, walk.chunks.front().stat.idChunk + 1);
  EXPECT_EQ(ZYT::WideToUtf8(ZYT::AttributeText(archive)), "{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}/0x15");
  EXPECT_EQ(archive.vt, VT_LPWSTR);
  EXPECT_EQ(archive.valueJson, "\"Holiday CD\"");
  EXPECT_EQ(walk.end, FILTER_E_END_OF_CHUNKS);
  EXPECT_EQ(ZYT::WideToUtf8(CurFile(filter.get())), "D:\\docs\\readme.txt") << "the ripped file, not the item";

  std::string log = FilterLogs(*this);
  EXPECT_NE(log.find("Original Volume  sn: 439041101 vol: HOLIDAYS\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Mounted Volume  sn: 439041101 vol: HOLIDAYS\n"), std::string::npos);
  EXPECT_NE(log.find(std::string("Actual IFilter GUID: ") + ZYT::WideToUtf8(kTextFilter) + "\n"), std::string::npos);
  EXPECT_NE(log.find("QHArch proxy load returning: 0x0\n"), std::string::npos);
  EXPECT_EQ(log.find("MEDIA ERROR"), std::string::npos);
}

TEST_F(QharcFilterTest, ContentsOnlyAttributesGiveNoChunksAndAReInitStartsOver) {
  WriteItem(Item("Holiday CD", "D:\\docs\\readme.txt", "HOLIDAYS", "439041101", "D:\\"));
  ComPtr<IFilter> filter;
  ASSERT_EQ(LoadItem("item.qharc", filter), S_OK) << FilterLogs(*this);
  FULLPROPSPEC contents = PropertyAttribute(PSGUID_STORAGE, PID_STG_CONTENTS);
  ULONG flags = 0;
  ASSERT_EQ(filter->Init(0, 1, &contents, &flags), S_OK);
  STAT_CHUNK stat{};
  EXPECT_EQ(filter->GetChunk(&stat), FILTER_E_END_OF_CHUNKS);
  auto walk = DriveFilter(filter.get(), Options());
  ASSERT_TRUE(ObeysProtocol(walk));
  EXPECT_EQ(walk.chunks.size(), 2u) << "a later Init forwards again and the archive chunk comes again";
}

TEST_F(QharcFilterTest, AnotherMediumInTheDriveFailsLoadWithTheMismatchLine) {
  struct Case {
    const char* label;
    const char* serial;
  } cases[] = {{"HOLIDAYS", "439041102"}, {"holidays", "439041101"}, {"HOLIDAYS ", "439041101"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.label) + " " + c.serial);
    WriteItem(Item("Holiday CD", "D:\\docs\\readme.txt", c.label, c.serial, "D:\\"));
    ComPtr<IFilter> filter;
    EXPECT_EQ(LoadItem("item.qharc", filter), E_FAIL);
    std::string log = FilterLogs(*this);
    EXPECT_NE(log.find("<<<MEDIA ERROR>>> Mismatch or last error: 0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Actual IFilter GUID"), std::string::npos) << "no filter is looked for";
    ULONG flags = 0;
    EXPECT_EQ(filter->Init(0, 0, nullptr, &flags), E_POINTER) << "no real filter after a failed Load";
    STAT_CHUNK stat{};
    EXPECT_EQ(filter->GetChunk(&stat), FILTER_E_END_OF_CHUNKS);
    for (const std::string& name : ListDir(PathIn("repo/Debug.Filter")))
      ASSERT_EQ(unlink(PathIn("repo/Debug.Filter/" + name).c_str()), 0);
  }
  // The indexer's own path reports the same failure.
  ComPtr<IFilter> filter;
  EXPECT_EQ(LoadIFilter(PathInW("item.qharc").c_str(), nullptr, filter.put_void()), E_FAIL);
}

TEST_F(QharcFilterTest, AnEmptyDriveFailsLoadWithItsError) {
  ASSERT_EQ(mkdir(PathIn("drive-e").c_str(), 0700), 0);
  SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Platform\\Drives", u"E:", ZYT::Utf8ToWide(PathIn("drive-e")));
  WriteItem(Item("Holiday CD", "E:\\docs\\readme.txt", "HOLIDAYS", "439041101", "E:\\"));
  UINT mode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
  ComPtr<IFilter> filter;
  EXPECT_EQ(LoadItem("item.qharc", filter), E_FAIL);
  EXPECT_EQ(GetErrorMode(), SEM_NOOPENFILEERRORBOX) << "the error mode is restored";
  SetErrorMode(mode);
  std::string log = FilterLogs(*this);
  EXPECT_NE(log.find("Mounted Volume  sn: 0 vol: \n"), std::string::npos) << log;
  EXPECT_NE(log.find("<<<MEDIA ERROR>>> Mismatch or last error: 21\n"), std::string::npos) << log;
  EXPECT_EQ(ZYT::WideToUtf8(CurFile(filter.get())), "E:\\docs\\readme.txt");
}

TEST_F(QharcFilterTest, Utf16AndEightBitItemFilesReadAlike) {
  // 8-bit items are in the system code page, here Windows-1252.
  SetCodePage(u"1252");
  const std::string xml = Item("Caf\xC3\xA9 CD", "D:\\docs\\readme.txt", "HOLIDAYS", "439041101", "D:\\");
  WriteItem(Utf16File(ZYT::Utf8ToWide(xml)), "wide.qharc");
  WriteItem(ZYT::WideToCodePage(1252, ZYT::Utf8ToWide(xml)), "narrow.qharc");
  WriteItem(xml, "utf8.qharc");
  std::vector<std::string> archives;
  for (const char* name : {"wide.qharc", "narrow.qharc", "utf8.qharc"}) {
    SCOPED_TRACE(name);
    ComPtr<IFilter> filter;
    ASSERT_EQ(LoadItem(name, filter), S_OK) << FilterLogs(*this);
    auto walk = DriveFilter(filter.get(), Options());
    ASSERT_TRUE(ObeysProtocol(walk));
    ASSERT_EQ(walk.chunks.size(), 2u);
    EXPECT_EQ(Texts(walk), std::vector<std::u16string>{u"words from the medium"});
    archives.push_back(walk.chunks.back().valueJson);
  }
  EXPECT_EQ(archives[0], "\"Caf\xC3\xA9 CD\"");
  EXPECT_EQ(archives[1], archives[0]);
  EXPECT_EQ(archives[2], "\"Caf\xC3\x83\xC2\xA9 CD\"") << "UTF-8 bytes read as 1252 text, as the machine says";
}

TEST_F(QharcFilterTest, BadItemFilesFailLoadCleanly) {
  struct Case {
    const char* name;
    std::string bytes;
    HRESULT expected;
  } cases[] = {
      {"truncated", "<qharc-item><file archive-name=\"x\"", E_FAIL},
      {"no file element", "<qharc-item><other/></qharc-item>", E_POINTER},
      {"no serial", "<qharc-item><file archive-name=\"a\" ripped-path=\"D:\\docs\\readme.txt\" volume-label=\"HOLIDAYS\" "
                    "original-root-path=\"D:\\\"/></qharc-item>",
       DISP_E_TYPEMISMATCH},
      {"serial not a number", Item("a", "D:\\docs\\readme.txt", "HOLIDAYS", "0x1A2B3C4D", "D:\\"), DISP_E_TYPEMISMATCH},
      {"serial too large", Item("a", "D:\\docs\\readme.txt", "HOLIDAYS", "4294967296", "D:\\"), DISP_E_OVERFLOW},
      {"empty", "", E_FAIL},
      {"odd-sized after a mark", "\xFF\xFE<", E_FAIL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteItem(c.bytes);
    ComPtr<IFilter> filter;
    EXPECT_EQ(LoadItem("item.qharc", filter), c.expected);
    std::string log = FilterLogs(*this);
    EXPECT_NE(log.find("QHArch proxy load returning: " + ZYT::HResultHex(c.expected)), std::string::npos) << log;
    STAT_CHUNK stat{};
    EXPECT_EQ(filter->GetChunk(&stat), FILTER_E_END_OF_CHUNKS);
  }
  WriteItem("<qharc-item>\n  <file archive-name=\"x\" </qharc-item>");
  ComPtr<IFilter> filter;
  EXPECT_EQ(LoadItem("item.qharc", filter), E_FAIL);
  EXPECT_NE(FilterLogs(*this).find("XML parse error at line 2, character "), std::string::npos) << FilterLogs(*this);

  EXPECT_EQ(LoadItem("missing.qharc", filter), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(mkfifo(PathIn("fifo.qharc").c_str(), 0600), 0);
  alarm(20);
  EXPECT_EQ(LoadItem("fifo.qharc", filter), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) << "a FIFO is never read";
  alarm(0);
  SetLimit(u"MaxQharcItemBytes", 4096);
  WriteItem(Item(std::string(5000, 'a'), "D:\\docs\\readme.txt", "HOLIDAYS", "439041101", "D:\\"));
  EXPECT_EQ(LoadItem("item.qharc", filter), HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
}

TEST_F(QharcFilterTest, WithoutASavedFilterTheHandlerItselfIsCreated) {
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::u16string(u"SOFTWARE\\Classes\\CLSID\\") + kTextHandler +
                                                u"\\PersistentAddinsRegistered")
                                                   .c_str()),
            ERROR_SUCCESS);
  WriteItem(Item("Holiday CD", "D:\\docs\\readme.txt", "HOLIDAYS", "439041101", "D:\\"));
  ComPtr<IFilter> filter;
  EXPECT_EQ(LoadItem("item.qharc", filter), REGDB_E_CLASSNOTREG) << "the handler is no creatable class";
  EXPECT_NE(FilterLogs(*this).find(std::string("Actual IFilter GUID: ") + ZYT::WideToUtf8(kTextHandler) + "\n"),
            std::string::npos);
}

TEST(QharcItemTest, SerialNumbersAsWritten) {
  struct Case {
    const char* text;
    QharcItemResult result;
    DWORD serial;
  } cases[] = {
      {"439041101", QharcItemResult::Read, 0x1A2B3C4D},
      {"  42\n", QharcItemResult::Read, 42},
      {"+7", QharcItemResult::Read, 7},
      {"-1", QharcItemResult::Read, 0xFFFFFFFF},
      {"-2147483648", QharcItemResult::Read, 0x80000000},
      {"-2147483649", QharcItemResult::SerialTooLarge, 0},
      {"4294967295", QharcItemResult::Read, 0xFFFFFFFF},
      {"4294967296", QharcItemResult::SerialTooLarge, 0},
      {"99999999999999999999999", QharcItemResult::SerialTooLarge, 0},
      {"", QharcItemResult::SerialNotNumber, 0},
      {"-", QharcItemResult::SerialNotNumber, 0},
      {"12 34", QharcItemResult::SerialNotNumber, 0},
      {"1A2B-3C4D", QharcItemResult::SerialNotNumber, 0},
  };
  for (const Case& c : cases) {
    DWORD serial = 0;
    EXPECT_EQ(ParseSerialNumber(c.text, serial), c.result) << c.text;
    if (c.result == QharcItemResult::Read) {
      EXPECT_EQ(serial, c.serial) << c.text;
    }
  }
}

TEST(QharcItemTest, TheFileElementIsTheDocumentElementsChild) {
  QharcItem item;
  ZYT::XmlParseError error;
  EXPECT_EQ(ReadQharcItem(Item("a", "b", "c", "1", "d"), 256, item, error), QharcItemResult::Read);
  EXPECT_EQ(item.archiveName, u"a");
  EXPECT_EQ(item.rippedPath, u"b");
  EXPECT_EQ(item.volumeLabel, u"c");
  EXPECT_EQ(item.volumeSerialNumber, 1u);
  EXPECT_EQ(item.originalRootPath, u"d");
  EXPECT_EQ(ReadQharcItem("<file archive-name=\"a\" ripped-path=\"b\" volume-label=\"c\" volume-serial-number=\"1\" "
                          "original-root-path=\"d\"/>",
                          256, item, error),
            QharcItemResult::NoFileElement)
      << "a file element as the document element is not the item's";
  EXPECT_EQ(ReadQharcItem("<a><b><file/></b></a>", 256, item, error), QharcItemResult::NoFileElement);
  EXPECT_EQ(ReadQharcItem("<a><b><c/></b></a>", 1, item, error), QharcItemResult::NotXml) << "deeper than allowed";
  EXPECT_EQ(ReadQharcItem("<a><file archive-name=\"&#x1;\"/>", 256, item, error), QharcItemResult::NotXml);
  EXPECT_GT(error.line, 0);
}

}  // namespace
