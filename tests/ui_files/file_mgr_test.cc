// Save directory and local names of received files, on a real temporary
// directory, with the names a hostile peer might offer.
#include "ui/files/file_mgr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <limits>
#include <string>

#include "base/settings.h"

namespace {

class FileMgrTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    save_ = dir_.path() + "/save";
  }

  // Creates the file the way a download would: never over an existing one.
  bool Store(const QString& name) {
    QFile file(save_ + "/" + name);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
  }

  QTemporaryDir dir_;
  QString save_;
};

TEST_F(FileMgrTest, SameNameTwiceGetsANumberBeforeTheLastSuffix) {
  FileMgr mgr(save_);
  QString first = mgr.UniqueFileName("a.txt");
  EXPECT_EQ("a.txt", first);
  ASSERT_TRUE(Store(first));
  EXPECT_EQ("a(1).txt", mgr.UniqueFileName("a.txt"));

  ASSERT_TRUE(Store("a.tar.gz"));
  EXPECT_EQ("a(1).gz", mgr.UniqueFileName("a.tar.gz"));
  EXPECT_EQ("a(2).gz", mgr.UniqueFileName("a.tar.gz"));

  ASSERT_TRUE(Store("README"));
  EXPECT_EQ("README(1)", mgr.UniqueFileName("README"));
}

TEST_F(FileMgrTest, NamesHandedOutOrLinkedAreNotHandedOutAgain) {
  FileMgr mgr(save_);
  // Two offers before either download starts.
  EXPECT_EQ("b.txt", mgr.UniqueFileName("b.txt"));
  EXPECT_EQ("b(1).txt", mgr.UniqueFileName("b.txt"));
  // A dangling link would let the download create its target elsewhere.
  ASSERT_TRUE(QFile::link(dir_.path() + "/outside.txt", save_ + "/c.txt"));
  EXPECT_EQ("c(1).txt", mgr.UniqueFileName("c.txt"));
  // Files already there from before this instance.
  ASSERT_TRUE(Store("d.txt"));
  FileMgr other(save_);
  EXPECT_EQ("d(1).txt", other.UniqueFileName("d.txt"));
}

TEST_F(FileMgrTest, OfferedPathsAreReducedToTheirLastComponent) {
  EXPECT_EQ("x.desktop", SafeFileNameComponent("../../.config/autostart/x.desktop"));
  EXPECT_EQ("passwd", SafeFileNameComponent("/etc/passwd"));
  EXPECT_EQ("c", SafeFileNameComponent("a/b\\c"));
  EXPECT_EQ("evil.exe", SafeFileNameComponent("..\\..\\evil.exe"));
  EXPECT_EQ("dir", SafeFileNameComponent("dir/"));
  EXPECT_EQ("dir", SafeFileNameComponent("dir/.."));
  EXPECT_EQ("file", SafeFileNameComponent(""));
  EXPECT_EQ("file", SafeFileNameComponent("."));
  EXPECT_EQ("file", SafeFileNameComponent(".."));
  EXPECT_EQ("file", SafeFileNameComponent("../.."));
  // Found by fuzzing: a lone surrogate (invalid UTF-16) once kept the separators.
  const QChar lone[] = {QChar(0xd800), QLatin1Char('x')};
  EXPECT_EQ(QString(QChar::ReplacementCharacter) + "x",
            SafeFileNameComponent("a/../b\\" + QString(lone, 2)));
  EXPECT_EQ("x", SafeFileNameComponent(QString(lone, 2) + "/x"));
  // Found by fuzzing: a name that was only U+FEFF (after control characters)
  // came back empty, taken for a byte-order mark; one that began with it
  // lost it when read back from UTF-8.
  const QChar bom[] = {QChar(0x0001), QChar(0xfeff), QChar(0xfeff), QLatin1Char('y')};
  EXPECT_EQ("file", SafeFileNameComponent(QString(bom, 2)));
  EXPECT_EQ("y", SafeFileNameComponent(QString(bom, 4)));
  EXPECT_EQ("ab", SafeFileNameComponent("a" + QString(bom + 1, 1) + "b"));
  EXPECT_EQ("file", SafeFileNameComponent(" \n\t/"));
  EXPECT_EQ("bashrc", SafeFileNameComponent(".bashrc"));
  EXPECT_EQ("report.txt", SafeFileNameComponent("report\n.txt"));
  EXPECT_EQ("ab.txt", SafeFileNameComponent(QString("a") + QChar(0) + "b.txt"));
  EXPECT_EQ("ab.txt", SafeFileNameComponent(QString("a\x1b" "b.txt")));
  EXPECT_EQ("annexe.pdf", SafeFileNameComponent(QString::fromUtf8("annexe\u202E.pdf")));
  EXPECT_EQ(QString::fromUtf8("简历 2024.docx"), SafeFileNameComponent(QString::fromUtf8("简历 2024.docx")));
  // A lone surrogate has no UTF-8 form; it shows as the replacement character.
  EXPECT_EQ(QString::fromUtf8("a\uFFFDb"), SafeFileNameComponent(QString("a") + QChar(0xD800) + "b"));
}

// The invariants every reduced name keeps, whatever was offered.
void ExpectSafe(const QString& offered) {
  QString name = SafeFileNameComponent(offered);
  QByteArray utf8 = name.toUtf8();
  EXPECT_FALSE(name.isEmpty());
  EXPECT_LE(utf8.size(), kMaxSafeFileNameBytes);
  EXPECT_EQ(name, QString::fromUtf8(utf8)) << "not valid UTF-8";
  EXPECT_FALSE(name.contains('/') || name.contains('\\'));
  EXPECT_FALSE(name.startsWith('.'));
  for (QChar c : name) {
    EXPECT_GE(c.unicode(), 0x20);
    EXPECT_FALSE(c.unicode() >= 0x7F && c.unicode() <= 0x9F);
  }
}

TEST_F(FileMgrTest, LongNamesAreCutOnCharacterBoundariesKeepingTheSuffix) {
  QString ascii = QString(296, 'a') + ".txt";  // 300 bytes
  QString cut = SafeFileNameComponent(ascii);
  EXPECT_EQ(kMaxSafeFileNameBytes, cut.toUtf8().size());
  EXPECT_TRUE(cut.endsWith(".txt"));

  QString chinese = QString::fromUtf8("文").repeated(100) + ".txt";  // 304 bytes
  cut = SafeFileNameComponent(chinese);
  EXPECT_EQ(QString::fromUtf8("文").repeated(65) + ".txt", cut);

  QString emoji = QString::fromUtf8("😀").repeated(75);  // 300 bytes, surrogate pairs
  cut = SafeFileNameComponent(emoji);
  EXPECT_EQ(QString::fromUtf8("😀").repeated(50), cut);

  // Whatever follows the last dot here is not a suffix to keep.
  QString longTail = "x." + QString(298, 'y');
  EXPECT_EQ(kMaxSafeFileNameBytes, SafeFileNameComponent(longTail).toUtf8().size());
  EXPECT_TRUE(SafeFileNameComponent(longTail).startsWith("x.yyy"));

  for (const QString& offered : {ascii, chinese, emoji, longTail,
                                 QString::fromUtf8("é").repeated(150) + "/",
                                 QString("../") + QString::fromUtf8("ü").repeated(149) + "a"}) {
    SCOPED_TRACE(offered.toStdString());
    ExpectSafe(offered);
  }
}

TEST_F(FileMgrTest, EveryHostileOfferLandsInsideTheSaveDirectoryAsANewFile) {
  FileMgr mgr(save_);
  mgr.SavePath();
  ASSERT_TRUE(Store("passwd"));
  const QStringList offers = {"../../.config/autostart/x.desktop", "/etc/passwd", "a/b\\c",
                              "", ".", "..", "line1\nline2", "../", "/",
                              QString(300, 'z'), QString::fromUtf8("名").repeated(100)};
  QSet<QString> names;
  for (const QString& offered : offers) {
    SCOPED_TRACE(offered.toStdString());
    ExpectSafe(offered);
    QString name = mgr.UniqueFileName(offered);
    EXPECT_FALSE(names.contains(name));
    names.insert(name);
    ASSERT_TRUE(Store(name));
    EXPECT_EQ(QDir(save_).canonicalPath(),
              QFileInfo(save_ + "/" + name).canonicalFilePath().section('/', 0, -2));
  }
  EXPECT_EQ(offers.size(), QDir(save_).entryList(QDir::Files | QDir::Hidden).size() - 1);
  EXPECT_FALSE(QFile::exists(dir_.path() + "/.config"));
  EXPECT_TRUE(names.contains("passwd(1)"));
}

TEST_F(FileMgrTest, SaveDirectoryComesFromTheSettingElseTheDataDirectory) {
  QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.path() + "/xdg"));
  FileMgr mgr;
  EXPECT_EQ(dir_.path() + "/xdg/QNChat", mgr.SavePath());
  EXPECT_TRUE(QFileInfo(dir_.path() + "/xdg/QNChat").isDir());

  static std::string chosen;
  chosen = (dir_.path() + "/chosen/").toStdString();
  SettingsHooks hooks;
  hooks.get_text = [](std::string* out, const std::string& key, const std::string& def, void*) {
    *out = key == "FileSavePath" ? chosen : def;
  };
  SetSettingsHooks(hooks);
  EXPECT_EQ(dir_.path() + "/chosen", mgr.SavePath());
  EXPECT_TRUE(QFileInfo(dir_.path() + "/chosen").isDir());
  EXPECT_EQ("e.txt", mgr.UniqueFileName("e.txt"));
  SetSettingsHooks(SettingsHooks());

  // A test's own directory wins over the setting.
  FileMgr fixed(save_);
  EXPECT_EQ(save_, fixed.SavePath());
  if (saved.isNull()) qunsetenv("XDG_DATA_HOME"); else qputenv("XDG_DATA_HOME", saved);
}

TEST(FileMgrTextTest, SizesTypesAndIcons) {
  EXPECT_EQ("0B", FileMgr::SizeText(0));
  EXPECT_EQ("1023.00B", FileMgr::SizeText(1023));
  EXPECT_EQ("1.00KB", FileMgr::SizeText(1024));
  EXPECT_EQ("1.50KB", FileMgr::SizeText(1536));
  // Two decimals by dropping the third, not by rounding: 1023.999 KB.
  EXPECT_EQ("1023.99KB", FileMgr::SizeText(1024 * 1024 - 1));
  EXPECT_EQ("1.00MB", FileMgr::SizeText(1024 * 1024));
  EXPECT_EQ("8.00EB", FileMgr::SizeText(std::numeric_limits<qint64>::max()));

  EXPECT_EQ(0, FileMgr::FileType("TXT"));
  EXPECT_EQ(5, FileMgr::FileType("gz"));
  EXPECT_EQ(7, FileMgr::FileType("pdf"));
  EXPECT_EQ(6, FileMgr::FileType("xlsx"));
  EXPECT_EQ(8, FileMgr::FileType(""));
  EXPECT_EQ(8, FileMgr::FileType("exe"));
  EXPECT_EQ(":/image/file_type/pdf.png", FileMgr::TypeIcon(7));
  EXPECT_EQ(":/image/file_type/other.png", FileMgr::TypeIcon(3));
  EXPECT_EQ(":/image/file_type/other.png", FileMgr::TypeIcon(42));
}

TEST_F(FileMgrTest, WritableDirectoryIsProbedAndLeftClean) {
  EXPECT_FALSE(FileMgr::IsWritableDir(""));
  EXPECT_FALSE(FileMgr::IsWritableDir(dir_.path() + "/missing"));
  EXPECT_TRUE(FileMgr::IsWritableDir(dir_.path()));
  EXPECT_FALSE(QFileInfo::exists(dir_.path() + "/QNChatTestWrite.txt"));
}

}  // namespace
