// The product's item documents on a machine set up by zytfilt, with a real
// zyt-monitor: a contact, a feed item and a stored web page go through the
// registry chain and `zytfilt dump` like any other file, and nothing is left
// in the repository's temporary folder.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

constexpr char kProductSet[] = "\"propset\":\"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}\",\"propid\":";

class ItemsDumpTest : public ZytfiltMachineTest {
 protected:
  void SetUp() override {
    ZytfiltMachineTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Ok({"setup"}));
    m_monitor = std::make_unique<ChildProcess>(std::vector<std::string>{ZYT_MONITOR}, m_machine);
    ASSERT_TRUE(m_monitor->WaitForErr("serving")) << m_monitor->Err();
  }
  void TearDown() override {
    if (m_monitor) {
      EXPECT_EQ(m_monitor->Stop().status, 0) << m_monitor->Err();
    }
    MachineTest::TearDown();
  }

  // The dump's lines of one file.
  static std::vector<std::string> LinesOf(const std::string& out, const std::string& file) {
    std::vector<std::string> lines;
    for (const std::string& line : Lines(out))
      if (line.rfind("{\"file\":\"" + file + "\"", 0) == 0) lines.push_back(line);
    return lines;
  }
  // {"vt":..,"data":..} of the product property's chunk; empty when none.
  static std::string ProductValue(const std::vector<std::string>& lines, int propid) {
    const std::string key = kProductSet + std::to_string(propid) + ",";
    for (const std::string& line : lines) {
      size_t at = line.find(key);
      size_t value = line.find("\"value\":");
      if (at != std::string::npos && value != std::string::npos) return line.substr(value + 8, line.size() - value - 9);
    }
    return {};
  }
  std::vector<std::string> TempFiles() { return ListDir(PathIn("repository/temp")); }

  std::unique_ptr<ChildProcess> m_monitor;
};

TEST_F(ItemsDumpTest, AContactAFeedItemAndAWebPage) {
  WriteBytes(PathIn("people.vcf"),
             "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann\r\nFN:Ann Example\r\nEMAIL:ann@example.org\r\nEND:VCARD\r\n");
  WriteBytes(PathIn("ann.qhcontact"), "item: people.vcf\n");
  const std::string feed =
      "<item><feed-name>Daily News</feed-name><feed-url>http://news.example.org/rss</feed-url>"
      "<description>Hello &lt;b&gt;big&lt;/b&gt;   world\n</description></item>";
  WriteBytes(PathIn("news.qhitem"), feed);
  const std::string page = "<html><head><title>Stored</title></head><body><p>Web text</p></body></html>";
  WriteBytes(PathIn("page.qhhttp"), page);

  ProcessResult dump =
      RunZytfilt({"dump", "--json", PathIn("ann.qhcontact"), PathIn("news.qhitem"), PathIn("page.qhhttp")}, m_machine);
  ASSERT_EQ(dump.status, 0) << dump.err << dump.out;

  auto contact = LinesOf(dump.out, PathIn("ann.qhcontact"));
  ASSERT_FALSE(contact.empty()) << dump.out;
  EXPECT_NE(dump.out.find("\"text\":\"Ann Example\""), std::string::npos) << "the item's text, from the XML filter";
  EXPECT_NE(dump.out.find("\"text\":\"ann@example.org\""), std::string::npos);
  EXPECT_EQ(ProductValue(contact, 18), "{\"vt\":31,\"data\":\"\"}") << "a vCard has no status";
  EXPECT_EQ(ProductValue(contact, 11), "{\"vt\":31,\"data\":\"Ann Example\"}");
  EXPECT_NE(ProductValue(contact, 6).find("ann@example.org"), std::string::npos) << "the item's XML text";
  EXPECT_EQ(ProductValue(contact, 15).rfind("{\"vt\":19,\"data\":", 0), 0u);
  EXPECT_EQ(contact.back(), "{\"file\":\"" + PathIn("ann.qhcontact") + "\",\"end\":\"0x80041700\"}");

  auto item = LinesOf(dump.out, PathIn("news.qhitem"));
  EXPECT_EQ(ProductValue(item, 16), "{\"vt\":31,\"data\":\"Daily News\"}");
  EXPECT_EQ(ProductValue(item, 17), "{\"vt\":31,\"data\":\"http://news.example.org/rss\"}");
  EXPECT_EQ(ProductValue(item, 15), "{\"vt\":19,\"data\":" + std::to_string(feed.size()) + "}");
  EXPECT_EQ(ProductValue(item, 12), "{\"vt\":31,\"data\":\"Daily News\"}");
  EXPECT_EQ(ProductValue(item, 6), "{\"vt\":31,\"data\":\"Hello big world\"}");
  EXPECT_EQ(ProductValue(item, 11), "{\"vt\":31,\"data\":\"Hello big world\"}");

  auto web = LinesOf(dump.out, PathIn("page.qhhttp"));
  EXPECT_NE(dump.out.find("\"text\":\"Web text\""), std::string::npos) << "the HTML filter read the copy";
  EXPECT_EQ(ProductValue(web, 15), "{\"vt\":19,\"data\":" + std::to_string(page.size()) + "}");

  EXPECT_TRUE(TempFiles().empty()) << "the item and the page copy are gone with the filters";
}

TEST_F(ItemsDumpTest, AContactWhoseCardIsMissingFailsLoadAndLeavesNoFile) {
  WriteBytes(PathIn("gone.qhcontact"), "item: nowhere.vcf\n");
  ProcessResult dump = RunZytfilt({"dump", "--json", PathIn("gone.qhcontact")}, m_machine);
  EXPECT_EQ(dump.status, 1) << dump.out << dump.err;
  EXPECT_NE(dump.out.find("\"error\":\"0x80070002\",\"step\":\"Load\""), std::string::npos) << dump.out;
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
}  // namespace ZYT::Test
