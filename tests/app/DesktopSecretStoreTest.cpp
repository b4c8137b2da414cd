// Where the window keeps a password: the desktop's secret store when one
// answers; without one, the user's answer, asked once and kept in the
// settings (never the password): a file of the user's alone, which the
// command-line tool reads too, or this run's memory only.
#include "app/DesktopSecretStore.h"

#include <QSettings>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/app/AppTestSupport.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

class MemoryStore final : public ISecretStore {
 public:
  std::optional<std::string> Read(const std::string& key) override {
    const auto it = kept.find(key);
    return it == kept.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  bool Write(const std::string& key, const std::string& secret, std::string*) override {
    kept[key] = secret;
    return true;
  }
  void Remove(const std::string& key) override { kept.erase(key); }
  std::map<std::string, std::string> kept;
};

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(DesktopSecretStoreTest, WithoutASecretStoreTheAnswerIsAskedOnceAndKept) {
  test::UiTestScope scope;
  test::TempDir dir;
  const std::string folder = dir.File("private");
  const std::string key = AccountSecretKey(7);
  int asked = 0;
  bool answer = true;
  const auto ask = [&] {
    ++asked;
    return answer;
  };
  {
    CDesktopSecretStore store(nullptr, folder, ask);
    ASSERT_TRUE(store.Write(key, "pass-in-file"));
    ASSERT_TRUE(store.Write(AccountSecretKey(8), "another"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(CDesktopSecretStore::StoredFallback(), CDesktopSecretStore::Fallback::File);
  }
  // The next start, and the command-line tool, find it in the file.
  struct stat st {};
  ASSERT_EQ(::stat((folder + "/" + key + ".secret").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(CFileSecretStore(folder).Read(key), "pass-in-file");
  EXPECT_EQ(CDesktopSecretStore(nullptr, folder, ask).Read(key), "pass-in-file");
  const std::string settings = FileText(test::UiTestScope::SettingsFilePath().toStdString());
  EXPECT_NE(settings.find(CDesktopSecretStore::kSettingName), std::string::npos);
  EXPECT_EQ(settings.find("pass-in-file"), std::string::npos);

  // "At each start": kept for this run only, and the file's copy goes.
  test::UiTestScope::ClearSettings();
  answer = false;
  {
    CDesktopSecretStore store(nullptr, folder, ask);
    ASSERT_TRUE(store.Write(key, "pass-in-memory"));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(store.Read(key), "pass-in-memory");
    store.Remove(AccountSecretKey(8));
    EXPECT_FALSE(CFileSecretStore(folder).Read(AccountSecretKey(8)).has_value());
  }
  EXPECT_FALSE(CFileSecretStore(folder).Read(key).has_value());
  CDesktopSecretStore restarted(nullptr, folder, ask);
  EXPECT_FALSE(restarted.Read(key).has_value());
  ASSERT_TRUE(restarted.Write(key, "given-again"));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(CDesktopSecretStore::StoredFallback(), CDesktopSecretStore::Fallback::EachStart);
}

TEST(DesktopSecretStoreTest, TheDesktopsStoreKeepsItWithoutAsking) {
  test::UiTestScope scope;
  test::TempDir dir;
  const std::string folder = dir.File("private");
  const std::string key = AccountSecretKey(9);
  // Kept in the file before, by the command-line tool or an older window.
  ASSERT_TRUE(CFileSecretStore(folder).Write(key, "from-before"));
  auto desktop = std::make_unique<MemoryStore>();
  MemoryStore& kept = *desktop;
  int asked = 0;
  CDesktopSecretStore store(std::move(desktop), folder, [&] { return ++asked, true; });
  EXPECT_EQ(store.Read(key), "from-before");
  ASSERT_TRUE(store.Write(key, "in-the-keychain"));
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(kept.kept[key], "in-the-keychain");
  EXPECT_FALSE(CFileSecretStore(folder).Read(key).has_value());
  EXPECT_EQ(store.Read(key), "in-the-keychain");
  store.Remove(key);
  EXPECT_TRUE(kept.kept.empty());
  EXPECT_EQ(CDesktopSecretStore::StoredFallback(), CDesktopSecretStore::Fallback::Unasked);
}

}  // namespace
}  // namespace qb
