#include <gtest/gtest.h>

#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/win32/Registry.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

class RegistryTest : public ZYT::Test::MachineTest {
 protected:
  HKEY Create(HKEY root, const char16_t* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &key, nullptr), ERROR_SUCCESS);
    return key;
  }
  static LONG SetString(HKEY key, const char16_t* name, const std::u16string& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * 2));
  }
  static LONG SetDword(HKEY key, const char16_t* name, DWORD v) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
  }
  static std::vector<std::u16string> Subkeys(HKEY key) {
    std::vector<std::u16string> names;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
      DWORD cch = 256;
      if (RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, cch);
    }
    return names;
  }
  static std::vector<std::u16string> Values(HKEY key) {
    std::vector<std::u16string> names;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
      DWORD cch = 256;
      if (RegEnumValueW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, cch);
    }
    return names;
  }
};

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndCasePreserving) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Zyt\\MixedCase");
  DWORD disposition = 0;
  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\ZYT\\mixedcase", 0, nullptr, 0, KEY_READ, nullptr, &again,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  ASSERT_EQ(SetString(key, u"Value", u"first"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, u"VALUE", u"second"), ERROR_SUCCESS);
  EXPECT_EQ(Values(key), std::vector<std::u16string>{u"Value"}) << "the name keeps its first spelling";
  WCHAR buffer[32];
  DWORD cb = sizeof buffer;
  ASSERT_EQ(RegQueryValueExW(again, u"value", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &cb), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(buffer), u"second");
  HKEY zyt = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\zyt", 0, KEY_READ, &zyt), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(zyt), std::vector<std::u16string>{u"MixedCase"});
  for (HKEY k : {key, again, zyt}) RegCloseKey(k);
}

TEST_F(RegistryTest, SubkeysSortWithoutCaseAndValuesKeepCreationOrder) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Order");
  for (const char16_t* name : {u"beta", u"Alpha", u"gamma", u"ALPHA2", u"_under"}) RegCloseKey(Create(key, name));
  EXPECT_EQ(Subkeys(key), (std::vector<std::u16string>{u"Alpha", u"ALPHA2", u"beta", u"gamma", u"_under"}));
  for (const char16_t* name : {u"z", u"a", u"m"}) SetDword(key, name, 1);
  SetDword(key, u"A", 2);  // an update keeps the value's place
  EXPECT_EQ(Values(key), (std::vector<std::u16string>{u"z", u"a", u"m"}));
  RegDeleteValueW(key, u"z");
  SetDword(key, u"z", 3);
  EXPECT_EQ(Values(key), (std::vector<std::u16string>{u"a", u"m", u"z"})) << "a re-created value goes last";
  RegCloseKey(key);
}

TEST_F(RegistryTest, QueryFollowsTheWin32BufferRules) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Buffers");
  ASSERT_EQ(SetString(key, nullptr, u"default text"), ERROR_SUCCESS);
  const DWORD size = 13 * 2;  // twelve characters and the terminator

  DWORD type = 0xCAFECAFE, cb = 0;
  ASSERT_EQ(RegQueryValueExW(key, u"", nullptr, &type, nullptr, &cb), ERROR_SUCCESS) << "size query";
  EXPECT_EQ(cb, size);
  EXPECT_EQ(type, REG_SZ);

  BYTE small[8];
  std::memset(small, 0xCC, sizeof small);
  cb = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, small, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, size) << "ERROR_MORE_DATA reports the size needed";
  EXPECT_EQ(small[0], 0xCC) << "nothing is copied into a short buffer";

  WCHAR exact[13];
  cb = size;
  ASSERT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(exact), &cb), ERROR_SUCCESS);
  EXPECT_EQ(exact[12], 0) << "the stored terminator comes back";
  cb = 4;
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, small, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExW(key, u"missing", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);

  // A string stored without its terminator comes back exactly as stored.
  const char16_t bare[] = {u'a', u'b'};
  ASSERT_EQ(RegSetValueExW(key, u"bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(bare), 4), ERROR_SUCCESS);
  cb = 0;
  RegQueryValueExW(key, u"bare", nullptr, nullptr, nullptr, &cb);
  EXPECT_EQ(cb, 4u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, EnumerationReportsShortBuffers) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Enum");
  RegCloseKey(Create(key, u"LongerName"));
  SetString(key, u"name", u"0123456789");
  WCHAR name[4];
  DWORD cch = 4;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  cch = 11;
  WCHAR longName[11];
  EXPECT_EQ(RegEnumKeyExW(key, 0, longName, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(cch, 10u) << "the count comes back without the terminator";
  EXPECT_EQ(RegEnumKeyExW(key, 1, longName, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  WCHAR valueName[8];
  BYTE data[4];
  DWORD type = 0, cb = sizeof data;
  cch = 8;
  EXPECT_EQ(RegEnumValueW(key, 0, valueName, &cch, nullptr, &type, data, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 22u);
  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values, &maxName,
                             &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 1u);
  EXPECT_EQ(maxSubkey, 10u);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(maxName, 4u);
  EXPECT_EQ(maxData, 22u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, DeletionRulesAndDeletedKeys) {
  HKEY parent = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Doomed");
  HKEY child = Create(parent, u"Child\\Grandchild");
  SetDword(child, u"v", 1);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Doomed"), ERROR_ACCESS_DENIED)
      << "RegDeleteKeyW refuses a key with subkeys";
  EXPECT_EQ(RegDeleteTreeW(parent, nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(Subkeys(parent).empty());
  HKEY probe = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Doomed", 0, KEY_READ, &probe), ERROR_SUCCESS)
      << "RegDeleteTreeW without a subkey keeps the key itself";
  RegCloseKey(probe);
  EXPECT_EQ(SetDword(child, u"v", 2), ERROR_KEY_DELETED) << "a handle to a deleted key";
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Doomed"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Doomed", 0, KEY_READ, &probe), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(probe, nullptr);
  EXPECT_EQ(RegDeleteValueW(parent, u"v"), ERROR_KEY_DELETED);
  RegCloseKey(child);
  RegCloseKey(parent);
  EXPECT_EQ(RegCloseKey(parent), ERROR_INVALID_HANDLE) << "a closed handle is refused";
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE"), ERROR_ACCESS_DENIED)
      << "the classes root cannot go";
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, AccessRightsAndReadOnlyRoots) {
  HKEY writable = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Locked");
  RegCloseKey(writable);
  HKEY reader = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Locked", 0, KEY_READ, &reader), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(reader, u"v", 1), ERROR_ACCESS_DENIED) << "a KEY_READ handle cannot write";

  ZYT::SetRegistryRootReadOnly(HKEY_LOCAL_MACHINE, true);
  HKEY key = reinterpret_cast<HKEY>(0x1);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Locked", 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetDword(HKEY_CLASSES_ROOT, u"v", 1), ERROR_ACCESS_DENIED) << "HKCR lies under HKLM";
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Locked"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetDword(HKEY_CURRENT_USER, u"v", 1), ERROR_SUCCESS) << "only the chosen root is read-only";
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Locked", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  ZYT::SetRegistryRootReadOnly(HKEY_LOCAL_MACHINE, false);
  RegCloseKey(reader);
}

TEST_F(RegistryTest, WritersInTwoProcessesDoNotLoseEachOthersValues) {
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Shared"));
  constexpr int kPerProcess = 200;
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      HKEY key = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Shared", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) _exit(99);
      for (int i = 0; i < kPerProcess; ++i) {
        std::u16string name = (p ? u"b" : u"a") + ZYT::Utf8ToWide(std::to_string(i));
        DWORD v = static_cast<DWORD>(i);
        if (RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) != ERROR_SUCCESS) ++failures;
      }
      _exit(failures ? 1 : 0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
  }
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Shared", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD values = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
  EXPECT_EQ(values, 2u * kPerProcess);
  RegCloseKey(key);
}

TEST_F(RegistryTest, TransactionsNestAndAnInnerRollbackUndoesOnlyItsOwn) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Tx");
  {
    ZYT::CRegistryTransaction outer;
    ASSERT_EQ(outer.Status(), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, u"outer", 1), ERROR_SUCCESS);
    {
      ZYT::CRegistryTransaction kept;
      EXPECT_EQ(SetDword(key, u"kept", 2), ERROR_SUCCESS);
      EXPECT_EQ(kept.Commit(), ERROR_SUCCESS);
    }
    {
      ZYT::CRegistryTransaction undone;
      EXPECT_EQ(SetDword(key, u"undone", 3), ERROR_SUCCESS);
      EXPECT_EQ(RegDeleteValueW(key, u"outer"), ERROR_SUCCESS);
    }  // rolled back
    EXPECT_EQ(RegQueryValueExW(key, u"undone", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, u"outer", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS)
        << "the inner rollback brings back what it deleted";
    EXPECT_EQ(outer.Commit(), ERROR_SUCCESS);
    EXPECT_EQ(outer.Commit(), ERROR_INVALID_FUNCTION) << "committed once";
  }
  EXPECT_EQ(RegQueryValueExW(key, u"kept", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(ZYT::CommitRegistryTransaction(), ERROR_INVALID_FUNCTION) << "no transaction is open";
  {
    ZYT::CRegistryTransaction abandoned;
    EXPECT_EQ(SetDword(key, u"abandoned", 4), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Tx"), ERROR_SUCCESS);
  }
  EXPECT_EQ(RegQueryValueExW(key, u"abandoned", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND)
      << "a transaction never committed leaves the key as it was";
  RegCloseKey(key);
}

TEST_F(RegistryTest, OtherThreadsNeverSeeATransactionThatIsRolledBack) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Tx");
  LONG seen = ERROR_SUCCESS;
  std::thread reader;
  {
    ZYT::CRegistryTransaction transaction;
    ASSERT_EQ(transaction.Status(), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, u"v", 7), ERROR_SUCCESS);
    // The reader asks while the value is written but not committed; it must
    // wait for the outcome rather than read the open transaction.
    reader = std::thread([&] { seen = RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a chance to read too early
  }
  reader.join();
  EXPECT_EQ(seen, ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryTest, LeadingSeparatorAndBadHandlesAreRefused) {
  HKEY key = reinterpret_cast<HKEY>(0x1);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\SOFTWARE", 0, KEY_READ, &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x1234), u"x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
}

}  // namespace
