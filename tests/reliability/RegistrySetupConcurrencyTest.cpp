// Set-ups, registrations and first dumps started at once on one machine all
// succeed: set-up takes turns through a lock beside the registry, and no
// process sees another's work half done.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/win32/Registry.h"
#include "platform/win32/RegistryStore.h"
#include "tests/reliability/RegistryHost.h"

namespace ZYT {
namespace {

class RegistrySetupConcurrencyTest : public Test::MachineTest {
 protected:
  // Starts every command at once and expects each to succeed.
  void RunTogether(const std::vector<std::vector<std::string>>& commands) {
    ZYT::Test::RegistryHost host(*this);
    std::vector<ZYT::Test::ChildProcess*> hosts;
    for (const auto& args : commands) hosts.push_back(&host.Start(args));
    for (size_t i = 0; i < hosts.size(); ++i) {
      ZYT::Test::ProcessResult r = hosts[i]->Wait(host.kPatienceSeconds);
      EXPECT_EQ(r.status, 0) << "zytfilt " << commands[i][0] << " #" << i << ": " << r.err;
      EXPECT_EQ(r.err, "") << "zytfilt " << commands[i][0] << " #" << i;
      if (commands[i][0] == "dump") {
        EXPECT_NE(r.out.find("end of chunks"), std::string::npos) << "dump #" << i << ":\n" << r.out;
      }
    }
  }
  const std::string m_sample = ZYT_SAMPLES "/sample.mp3";
};

TEST_F(RegistrySetupConcurrencyTest, EightProductSetupsOnAFreshMachine) {
  RunTogether(std::vector<std::vector<std::string>>(8, {"setup", "--product"}));
  struct stat st;
  ASSERT_EQ(stat((RegistryStorePath() + ".lock").c_str(), &st), 0) << "the set-up lock lies beside the store";
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  RunTogether({{"dump", m_sample}});
}

TEST_F(RegistrySetupConcurrencyTest, EightFirstDumpsOnAFreshMachine) {
  RunTogether(std::vector<std::vector<std::string>>(8, {"dump", m_sample}));
}

TEST_F(RegistrySetupConcurrencyTest, SetupsRegistrationsAndDumpsTogether) {
  RunTogether({{"setup"}});
  RunTogether({{"setup"},
               {"dump", m_sample},
               {"register", "zytfilters"},
               {"dump", m_sample},
               {"setup", "--product"},
               {"register", "zytcomponents"},
               {"dump", m_sample},
               {"register", "zytfilters"},
               {"dump", m_sample},
               {"setup"}});
}

}  // namespace
}  // namespace ZYT
