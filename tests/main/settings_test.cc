#include "base/settings.h"

#include <cstdio>
#include <map>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "base/log.h"

namespace {

std::map<std::string, std::string> g_store;

void Get(std::string* out, const std::string& key, const std::string& def, void*) {
  auto it = g_store.find(key);
  if (it == g_store.end()) {
    g_store[key] = def;
    *out = def;
  } else {
    *out = it->second;
  }
}
int Set(const std::string& key, const std::string& value, void*) {
  g_store[key] = value;
  return 1;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_store.clear();
    SettingsHooks hooks;
    hooks.get_text = Get;
    hooks.set_text = Set;
    SetSettingsHooks(hooks);
  }
  void TearDown() override { SetSettingsHooks(SettingsHooks()); }
};

TEST_F(SettingsTest, MissingKeysReadTheirDefaultsAndAreStored) {
  EXPECT_TRUE(GetBoolSetting("DirectSend", true));
  EXPECT_FALSE(GetBoolSetting("DirectCloseApp", false));
  EXPECT_EQ(-1, GetInt64Setting("sequence", -1));
  EXPECT_EQ("1", g_store["DirectSend"]);
  EXPECT_EQ("-1", g_store["sequence"]);
}

TEST_F(SettingsTest, UnparseableValuesReadAsFalseOrZero) {
  g_store["DirectSend"] = "yes";
  g_store["sequence"] = "abc";
  g_store["other"] = "2";
  EXPECT_FALSE(GetBoolSetting("DirectSend", true));
  EXPECT_EQ(0, GetInt64Setting("sequence", -1));
  EXPECT_FALSE(GetBoolSetting("other", true));
}

TEST_F(SettingsTest, RoundTripOf64BitValues) {
  SetInt64Setting("sequence", 9007199254740993LL);
  EXPECT_EQ(9007199254740993LL, GetInt64Setting("sequence", -1));
  SetBoolSetting("isMaximized", true);
  EXPECT_EQ("1", g_store["isMaximized"]);
}

TEST(SettingsWithoutHooksTest, ReadsDefaultsAndDropsWrites) {
  EXPECT_EQ("dflt", GetSetting("LocalPeerEmail", "dflt"));
  EXPECT_EQ(0, SetSetting("LocalPeerEmail", "x"));
  EXPECT_EQ("dflt", GetSetting("LocalPeerEmail", "dflt"));
  EXPECT_EQ(0, FlushSettings());
}

TEST(LogTest, DefaultOutputLevelsAndStreams) {
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  LogMessage(10, "bad %d", 1);
  LogMessage(30, "fine");
  LogMessage(15, "never");
  LogMessage(50, "never");
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ("bad 1\n", err);
  EXPECT_EQ("fine\n", out);
}

// Sinks swapped while other threads log: every line reaches a sink with its
// own context, and a context freed right after its sink was replaced is
// never used again (the sanitizer builds see a use after free too).
struct CountingContext {
  int tag = 7;
  std::atomic<int> lines{0};
};
void CountingSink(int, const char*, va_list, void* context) {
  auto* counting = static_cast<CountingContext*>(context);
  if (counting == nullptr || counting->tag != 7) abort();
  counting->lines++;
}

TEST(LogTest, SinksChangeWhileOtherThreadsLog) {
  static CountingContext resting;
  SetLogSink(CountingSink, &resting);
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int i = 0; i < 2; ++i)
    writers.emplace_back([&stop] {
      while (!stop) LogMessage(kLogDebug, "line %d", 1);
    });
  int counted = 0;
  for (int round = 0; round < 300; ++round) {
    auto context = std::make_unique<CountingContext>();
    SetLogSink(CountingSink, context.get());
    std::this_thread::yield();
    SetLogSink(CountingSink, &resting);
    counted += context->lines.load();
    context->tag = 0;  // a line still inside the old sink would now abort
    context.reset();
  }
  stop = true;
  for (std::thread& writer : writers) writer.join();
  SetLogSink(nullptr, nullptr);
  EXPECT_GT(counted + resting.lines.load(), 0);
}

}  // namespace
