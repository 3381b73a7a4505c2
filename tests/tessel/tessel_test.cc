#include "tessel/tessel.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

namespace {

std::string TempDir() {
  char pattern[] = "/tmp/tessel_test.XXXXXX";
  return mkdtemp(pattern);
}

TEST(ConfigStoreTest, ValuesSurviveARestart) {
  const std::string path = TempDir() + "/config.json";
  {
    tsl::ConfigStore store; store.Load(path, nullptr);
    store.setText("LocalPeerNickName", "小王 \"quoted\"\n");
    ASSERT_TRUE(store.flush());
  }
  tsl::ConfigStore again; again.Load(path, nullptr);
  std::string value;
  ASSERT_TRUE(again.getText("LocalPeerNickName", &value));
  EXPECT_EQ("小王 \"quoted\"\n", value);
  EXPECT_FALSE(again.getText("missing", &value));
}

TEST(ConfigStoreTest, CrashMidFlushLeavesThePreviousStore) {
  const std::string path = TempDir() + "/config.json";
  {
    tsl::ConfigStore store; store.Load(path, nullptr);
    store.setText("sequence", "41");
    ASSERT_TRUE(store.flush());
  }
  // A half-written temporary file, as a crash during flush leaves it.
  std::ofstream(path + ".tmp") << "{\"sequence\": \"4";
  tsl::ConfigStore after; after.Load(path, nullptr);
  std::string value;
  ASSERT_TRUE(after.getText("sequence", &value));
  EXPECT_EQ("41", value);
}

TEST(ConfigStoreTest, CorruptFileReadsAsEmptyAndIsReplacedOnFlush) {
  const std::string path = TempDir() + "/config.json";
  std::ofstream(path) << "not json {{{";
  tsl::ConfigStore store; store.Load(path, nullptr);
  std::string value;
  EXPECT_FALSE(store.getText("anything", &value));
  store.setText("k", "v");
  ASSERT_TRUE(store.flush());
  tsl::ConfigStore again; again.Load(path, nullptr);
  ASSERT_TRUE(again.getText("k", &value));
  EXPECT_EQ("v", value);
}

TEST(DigestTest, Sha256HexDependsOnlyOnInput) {
  tsl::Digest digest;
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
            digest.digest("abc"));
  EXPECT_EQ(64u, digest.digest("").size());
}

TEST(DigestTest, EncryptDecryptRoundTripWithRandomIv) {
  tsl::Digest digest;
  const std::string key = "0123456789abcdef";
  const std::string plain = "{\"mac\":\"00:11:22:33:44:55\", \"text\":\"反馈\"}";
  const std::string a = digest.encrypt(plain, key);
  const std::string b = digest.encrypt(plain, key);
  EXPECT_FALSE(a.empty());
  EXPECT_NE(a, b);  // a fresh IV each time
  EXPECT_EQ(plain, digest.decrypt(a, key));
  EXPECT_EQ(plain, digest.decrypt(b, key));
  EXPECT_EQ("", digest.decrypt(a, "fedcba9876543210"));
  EXPECT_EQ("", digest.decrypt("garbage!", key));
  EXPECT_EQ("", digest.encrypt(plain, "short"));
}

TEST(TimeUtilTest, FormatsWithStrftimePatternAndCountsMicroseconds) {
  tsl::TimeUtil time;
  const std::string text = time.formatNow("%m%d-%H:%M:%S");
  EXPECT_EQ(13u, text.size());
  EXPECT_EQ('-', text[4]);
  EXPECT_GT(time.now(), 1600000000LL * 1000000LL);
}

TEST(TesselTest, InitCreatesStoreAndLogUnderHome) {
  const std::string home = TempDir();
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_DATA_HOME");
  char program[] = "/usr/bin/QNChat";
  char* argv[] = {program, nullptr};
  tsl::InitTessel(1, argv);
  ASSERT_NE(nullptr, CD);
  const tsl::Paths paths = CD->paths();
  EXPECT_EQ(0u, paths.config_file.rfind(home + "/.config/QNChat/", 0)) << paths.config_file;
  EXPECT_EQ(0u, paths.log_file.rfind(home + "/.local/share/QNChat/", 0)) << paths.log_file;
  CD->appInfo()->setAppName("QNChat");
  EXPECT_EQ("QNChat", CD->appInfo()->getAppName());
  EXPECT_EQ("dflt", CD->appInfo()->getValue("global_machineid", tsl::Value("dflt")).toStdString());
  CD->logger()->write(4, "core", "%s\t%s\n", "0101-00:00:00", "hello log");
  CD->config()->setText("k", "v");
  tsl::UninitTessel();
  std::ifstream log(paths.log_file);
  std::string all((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, all.find("[core] 0101-00:00:00\thello log"));
  tsl::ConfigStore store; store.Load(paths.config_file, nullptr);
  std::string value;
  EXPECT_TRUE(store.getText("k", &value));
}

}  // namespace
