// The update and feedback client against a stand-in HTTPS service on
// 127.0.0.1 with a throwaway certificate authority.
#include "main/update_client.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

#include "main/dialog/setting_dialog/setting_dialog.h"
#include "support/shell_output.h"
#include "tessel/digest.h"
#include "tesselnet/md5.h"
#include "tesselnet/ru_doveri.h"

namespace {

using qnchat_test::ShellOutput;

constexpr char kSalt[] = "0123456789abcdefg";  // 17
constexpr char kKey[] = "fedcba9876543210";    // 16

Json::Value Parse(const std::string& text) {
  Json::Value root;
  std::istringstream in(text);
  Json::CharReaderBuilder builder;
  std::string errors;
  EXPECT_TRUE(Json::parseFromStream(builder, in, &root, &errors)) << text;
  return root;
}

std::string Compact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

TEST(UpdateClientSignTest, SignatureListsMembersInByteOrderAndEndsWithTheSalt) {
  Json::Value params(Json::objectValue);
  params["app_name"] = "ignored";
  params["mac_addr"] = "00:11:22:33:44:55";
  params["device_name"] = "desk";
  params["machine_code"] = "M1";
  const std::string signedText =
      update_client::SignParams(Compact(params), kSalt, "QNChat", "1.0.0", 1700000000);
  Json::Value root = Parse(signedText);
  const std::string sign = root["sign"].asString();
  root.removeMember("sign");
  const std::string text = update_client::SignatureText(Compact(root), kSalt);
  EXPECT_EQ(text,
            "app_name=QNChat&app_version=1.0.0&channel_id=0&device_name=desk&"
            "mac_addr=00:11:22:33:44:55&machine_code=M1&os_name=linux&platform=1&"
            "platform_type=1&req_time=1700000000&&0123456789abcdefg");
  EXPECT_EQ(sign, qn_crypt::MD5::md5Data(text));
  EXPECT_EQ(root["app_name"].asString(), "QNChat");
}

TEST(UpdateClientSignTest, ValueKindsAndBrokenInput) {
  Json::Value params(Json::objectValue);
  params["f"] = 0.1 + 0.2;
  params["b"] = true;
  Json::Value list(Json::arrayValue);
  list.append("x");
  list.append(7);
  list.append(Json::Value(Json::objectValue));
  list.append(1.5);
  params["l"] = list;
  params["o"] = Json::Value(Json::objectValue);
  EXPECT_EQ(update_client::SignatureText(Compact(params), "s"), "b=1&f=0.3&l=x,7,1.5&o=&&s");
  // Text that is not an object signs as an empty object plus the members.
  const Json::Value root = Parse(update_client::SignParams("[1,2", kSalt, "QNChat", "1.0.0", 5));
  EXPECT_EQ(root["req_time"].asInt64(), 5);
  EXPECT_EQ(root.size(), 8u);
}

TEST(UpdateClientAnswerTest, CodesOfEveryKindOfAnswer) {
  tsl::Digest digest;
  using update_client::ParseAnswer;
  auto ok = ParseAnswer(200, R"({"errcode":0,"errmsg":"fine","encrypt":0,"result":"r"})", kKey);
  EXPECT_EQ(ok.code, 0);
  EXPECT_EQ(ok.result, "r");
  EXPECT_EQ(ok.message, "fine");
  const std::string cipher = digest.encrypt("hidden", kKey);
  auto enc = ParseAnswer(200, R"({"errcode":0,"errmsg":"","encrypt":1,"result":")" + cipher + "\"}", kKey);
  EXPECT_EQ(enc.code, 0);
  EXPECT_EQ(enc.result, "hidden");
  EXPECT_EQ(ParseAnswer(200, R"({"errcode":0,"encrypt":1,"result":"garbage"})", kKey).code, -11);
  auto err = ParseAnswer(200, R"({"errcode":5,"errmsg":"bad sign"})", kKey);
  EXPECT_EQ(err.code, 5);
  EXPECT_EQ(err.message, "bad sign");
  auto html = ParseAnswer(200, "<html>", kKey);
  EXPECT_EQ(html.code, -10);
  EXPECT_EQ(html.message, "<html>");
  EXPECT_EQ(ParseAnswer(200, R"({"errmsg":"no code"})", kKey).code, -10);
  EXPECT_EQ(ParseAnswer(404, "gone", kKey).code, -404);
  EXPECT_EQ(ParseAnswer(404, "gone", kKey).message, "gone");
  EXPECT_NE(ParseAnswer(0, "", kKey).code, 0);
  EXPECT_NE(ParseAnswer(-7, "couldn't connect", kKey).code, 0);
}

// Found by fuzzing: integral numbers outside int made jsoncpp throw out of
// the parser (on the pool thread, so a feedback never got its answer).
TEST(UpdateClientAnswerTest, CodesOutsideIntAreUnreadableNotThrown) {
  using update_client::ParseAnswer;
  for (const char* body : {R"({"errcode":4294967296})", R"({"errcode":-2147483649})",
                           R"({"errcode":3e10,"result":"r"})", R"({"errcode":18446744073709551615})"}) {
    update_client::Answer answer;
    EXPECT_NO_THROW(answer = ParseAnswer(200, body, kKey)) << body;
    EXPECT_EQ(answer.code, -10) << body;
    EXPECT_EQ(answer.message, body);
  }
  // A large "encrypt" still asks for decryption: garbage is an error, a real
  // cipher text decrypts.
  update_client::Answer garbage;
  EXPECT_NO_THROW(garbage = ParseAnswer(200, R"({"errcode":0,"encrypt":1e10,"result":"x"})", kKey));
  EXPECT_EQ(garbage.code, -11);
  const std::string cipher = tsl::Digest().encrypt("hidden", kKey);
  const auto plain =
      ParseAnswer(200, R"({"errcode":0,"encrypt":4294967296,"result":")" + cipher + "\"}", kKey);
  EXPECT_EQ(plain.code, 0);
  EXPECT_EQ(plain.result, "hidden");
}

class UpdateClientServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qnchat-update-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    int status = 0;
    ShellOutput("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                "-addext subjectAltName=IP:127.0.0.1 -keyout " + dir_ + "/key.pem -out " +
                    dir_ + "/cert.pem 2>/dev/null",
                &status);
    ASSERT_EQ(status, 0) << "openssl could not make a certificate";
    tsl::Digest digest;
    Json::Value table(Json::objectValue);
    auto add = [&table](const std::string& path, int code, const std::string& body) {
      Json::Value entry(Json::arrayValue);
      entry.append(code);
      entry.append(body);
      table[path] = entry;
    };
    add("/ok", 200, R"({"errcode":0,"errmsg":"ok","encrypt":0,"result":"plain"})");
    add("/okenc", 200, R"({"errcode":0,"errmsg":"ok","encrypt":1,"result":")" +
                           digest.encrypt("secret", kKey) + "\"}");
    add("/err5", 200, R"({"errcode":5,"errmsg":"bad sign"})");
    add("/notjson", 200, "<html>busy</html>");
    add("/missing", 404, "not here");
    // The feedback form posts to <endpoint>/goapi/user/feedBack.
    add("/ok/goapi/user/feedBack", 200, R"({"errcode":0,"errmsg":"ok","encrypt":0,"result":""})");
    add("/err5/goapi/user/feedBack", 200, R"({"errcode":5,"errmsg":"bad sign"})");
    std::ofstream(dir_ + "/table.json") << Compact(table);
    const std::string pid = ShellOutput(
        "/usr/bin/python3 " QNCHAT_SOURCE_DIR "/tests/main/data/update_service.py " + dir_ +
        "/cert.pem " + dir_ + "/key.pem " + dir_ + "/table.json " + dir_ + "/log.txt > " + dir_ +
        "/port.txt 2>/dev/null & echo $!");
    pid_ = atoi(pid.c_str());
    ASSERT_GT(pid_, 0);
    for (int i = 0; i < 200 && port_ == 0; ++i) {
      std::ifstream in(dir_ + "/port.txt");
      in >> port_;
      if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_GT(port_, 0) << "the stand-in service did not start";
    config_.endpoint = "https://127.0.0.1:" + std::to_string(port_);
    config_.salt = kSalt;
    config_.key = kKey;
    config_.caFile = dir_ + "/cert.pem";
  }
  void TearDown() override {
    if (pid_ > 0) kill(pid_, SIGTERM);
    if (!dir_.empty()) ShellOutput("rm -rf " + dir_);
  }

  std::string LastBody() {
    std::ifstream in(dir_ + "/log.txt");
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return last;
  }

  std::string dir_;
  int pid_ = 0;
  int port_ = 0;
  update_client::ServiceConfig config_;
};

TEST_F(UpdateClientServiceTest, EnvelopeCarriesTheSignedTextAndAnswersMapToCodes) {
  RU_Doveri::Init("");
  const std::string signedText = update_client::SignParams(
      R"({"content":"hello there","contact":"a@b"})", kSalt, "QNChat", "1.0.0", 42);
  int code = 99;
  std::string message, result;
  EXPECT_TRUE(update_client::PostJson(config_.endpoint + "/ok", signedText, &code, &message,
                                      &result, true, config_));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(result, "plain");
  const Json::Value logged = Parse(LastBody());
  EXPECT_EQ(logged["type"].asString(), "application/json");
  const Json::Value envelope = Parse(logged["body"].asString());
  EXPECT_EQ(envelope["version"].asInt(), 100);
  bool decrypted = false;
  EXPECT_EQ(tsl::Digest().decrypt(envelope["params"].asString(), kKey, &decrypted), signedText);
  EXPECT_TRUE(decrypted);

  EXPECT_TRUE(update_client::PostJson(config_.endpoint + "/okenc", signedText, &code, &message,
                                      &result, false, config_));
  EXPECT_EQ(result, "secret");
  EXPECT_EQ(Parse(Parse(LastBody())["body"].asString())["contact"].asString(), "a@b");

  EXPECT_FALSE(update_client::PostJson(config_.endpoint + "/err5", signedText, &code, &message,
                                       &result, true, config_));
  EXPECT_EQ(code, 5);
  EXPECT_EQ(message, "bad sign");
  EXPECT_FALSE(update_client::PostJson(config_.endpoint + "/notjson", signedText, &code, &message,
                                       &result, true, config_));
  EXPECT_EQ(code, -10);
  EXPECT_FALSE(update_client::PostJson(config_.endpoint + "/missing", signedText, &code,
                                       &message, &result, true, config_));
  EXPECT_EQ(code, -404);
  EXPECT_EQ(message, "not here");
}

TEST_F(UpdateClientServiceTest, UntrustedCertificateAndNoServerAreErrorsNeverSuccess) {
  update_client::ServiceConfig untrusted = config_;
  untrusted.caFile.clear();  // the system's authorities do not know the throwaway one
  int code = 0;
  std::string message, result;
  EXPECT_FALSE(update_client::PostJson(untrusted.endpoint + "/ok", "{}", &code, &message, &result,
                                       true, untrusted));
  EXPECT_NE(code, 0);
  EXPECT_FALSE(update_client::PostJson("https://127.0.0.1:1/ok", "{}", &code, &message, &result,
                                       true, config_));
  EXPECT_NE(code, 0);
}

// The settings dialog's feedback form through the real client: what the user
// reads for a success, a service error and a service that is not set up.
class RecordingSettingDialog : public SettingDialog {
 public:
  QStringList shown;

 protected:
  void ShowInformation(const QString& text) override { shown << text; }
};

bool WaitFor(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 15000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  return done();
}

void Submit(RecordingSettingDialog* dialog, const QString& text) {
  dialog->findChild<QTextEdit*>(QStringLiteral("feedback_te"))->setPlainText(text);
  dialog->findChild<QLineEdit*>(QStringLiteral("contact_le"))->setText(QStringLiteral("a@b.c"));
  dialog->findChild<QPushButton*>(QStringLiteral("commit_btn"))->click();
}

TEST_F(UpdateClientServiceTest, FeedbackFormShowsWhatTheServiceAnswered) {
  RU_Doveri::Init("");
  qRegisterMetaType<std::string>("std::string");
  RecordingSettingDialog dialog;
  update_client::ServiceConfig config = config_;
  dialog.SetFeedbackSender([&config](const QString& content, const QString& contact,
                                     QObject* receiver) {
    update_client::SendFeedback(content.toStdString(), contact.toStdString(), receiver, config);
  });
  config.endpoint = config_.endpoint + "/ok";
  Submit(&dialog, QStringLiteral("界面很好用，希望增加消息撤回的提示"));
  ASSERT_TRUE(WaitFor([&dialog] { return !dialog.shown.isEmpty(); }));
  EXPECT_EQ(dialog.shown.last(), QStringLiteral("反馈成功"));
  const Json::Value sent = Parse(tsl::Digest().decrypt(
      Parse(Parse(LastBody())["body"].asString())["params"].asString(), kKey));
  EXPECT_EQ(sent["content"].asString(), "界面很好用，希望增加消息撤回的提示");
  EXPECT_EQ(sent["contact"].asString(), "a@b.c");
  EXPECT_FALSE(sent["sign"].asString().empty());

  config.endpoint = config_.endpoint + "/err5";
  Submit(&dialog, QStringLiteral("第二条反馈，内容也超过十五个字符了"));
  ASSERT_TRUE(WaitFor([&dialog] { return dialog.shown.size() == 2; }));
  EXPECT_EQ(dialog.shown.last(), QStringLiteral("反馈失败。\n错误码：5\n错误内容：bad sign"));

  config.endpoint.clear();  // no service configured: said at once, nothing posted
  const std::string before = LastBody();
  Submit(&dialog, QStringLiteral("第三条反馈，内容也超过十五个字符了"));
  ASSERT_TRUE(WaitFor([&dialog] { return dialog.shown.size() == 3; }));
  EXPECT_TRUE(dialog.shown.last().startsWith(QStringLiteral("反馈失败。\n错误码：-20")));
  EXPECT_EQ(LastBody(), before);
}

}  // namespace
