// The message input: conversion to the message text format (with escaping),
// the send keys, paste and drop, pending pasted pictures, the emoji picker.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>

#include "resources/resources.h"
#include "support/log_capture.h"
#include "ui/chat/input/emoji_dialog.h"
#include "ui/chat/input/input_text_edit.h"
#include "ui/chat/input/message_document.h"
#include "ui/common/dpi_scale.h"

// Readable failure messages for Qt strings.
inline std::ostream& operator<<(std::ostream& os, const QString& s) { return os << s.toStdString(); }
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << '[' << list.join("\", \"").toStdString() << ']';
}

namespace {

// Every editor writes under a fresh data directory.
class InputTest : public testing::Test {
 protected:
  void SetUp() override {
    qnres::InitResources();
    ASSERT_TRUE(data_home_.isValid());
    qputenv("XDG_DATA_HOME", data_home_.path().toUtf8());
  }

  // The text as typed into an editor, converted.
  static QString Convert(const QString& typed) {
    InputTextEdit edit;
    edit.insertPlainText(typed);
    return edit.ConvertToMessageText();
  }

  // Through the clipboard and the editor's paste, as Ctrl+V does.
  static void Paste(InputTextEdit* edit, QMimeData* mime) {
    QApplication::clipboard()->setMimeData(mime);
    edit->paste();
  }

  // A drag over the editor and a drop; true when the editor accepted the drag.
  static bool Drop(InputTextEdit* edit, QMimeData* mime) {
    const QPoint at(5, 5);
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(edit->viewport(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(edit->viewport(), &drop);
    return true;
  }

  static QImage Picture(int width, int height, QColor color) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    return image;
  }

  QTemporaryDir data_home_;
};

TEST_F(InputTest, TextBecomesMessageTextWithHardSpacesAndLineBreaks) {
  EXPECT_EQ(Convert("a b"), "a&nbsp;b<br/>");
  EXPECT_EQ(Convert("a  b "), "a&nbsp;&nbsp;b&nbsp;<br/>");
  // An empty editor is one empty paragraph: exactly what the window refuses to send.
  EXPECT_EQ(Convert(""), "<br/>");
  EXPECT_EQ(Convert("a\nb"), "a<br/>b<br/>");
  EXPECT_EQ(Convert("a\n\nb"), "a<br/><br/>b<br/>");
  EXPECT_EQ(Convert(QString("a") + QChar(QChar::LineSeparator) + "b"), "a<br/>b<br/>");
  EXPECT_EQ(Convert("中文 text"), "中文&nbsp;text<br/>");
}

TEST_F(InputTest, TypedMarkupCharactersAreEscaped) {
  EXPECT_EQ(Convert("a<b>c"), "a&lt;b&gt;c<br/>");
  EXPECT_EQ(Convert("x & y"), "x&nbsp;&amp;&nbsp;y<br/>");
  // What looks like markup or an entity is still only typed text.
  EXPECT_EQ(Convert("&nbsp;<br/>"), "&amp;nbsp;&lt;br/&gt;<br/>");
  EXPECT_EQ(Convert("<img src=\"/etc/passwd\">"), "&lt;img&nbsp;src=\"/etc/passwd\"&gt;<br/>");
  EXPECT_EQ(Convert("\"quoted\" 'single'"), "\"quoted\"&nbsp;'single'<br/>");
}

TEST_F(InputTest, WebAddressesAreMarkedUpAndEndAtTheFollowingSpace) {
  EXPECT_EQ(Convert("see http://example.com/x now"),
            "see&nbsp;<a href = \"http://example.com/x\">http://example.com/x</a>&nbsp;now<br/>");
  EXPECT_EQ(Convert("https://a.example.org/p?q=1"),
            "<a href = \"https://a.example.org/p?q=1\">https://a.example.org/p?q=1</a><br/>");
  // Two addresses, the earliest first; "www." inside an http address is part of it.
  EXPECT_EQ(Convert("www.one.com/abc http://www.two.com"),
            "<a href = \"www.one.com/abc\">www.one.com/abc</a>&nbsp;"
            "<a href = \"http://www.two.com\">http://www.two.com</a><br/>");
  // Prefixes are matched case-sensitively.
  EXPECT_EQ(Convert("HTTP://X.ORG/abc"), "HTTP://X.ORG/abc<br/>");
}

TEST_F(InputTest, AddressEndSearchStartsAtItsEleventhCharacter) {
  // The space is the 9th character: not seen, the address runs to the next one.
  EXPECT_EQ(Convert("www.abcd efgh ijk"),
            "<a href = \"www.abcd&nbsp;efgh\">www.abcd&nbsp;efgh</a>&nbsp;ijk<br/>");
  // Shorter than eleven characters: the address runs to the end of the text.
  EXPECT_EQ(Convert("www.a b"), "<a href = \"www.a&nbsp;b\">www.a&nbsp;b</a><br/>");
  // A CJK ideograph ends it, but only from the 11th character on.
  EXPECT_EQ(Convert("www.example.com中文"),
            "<a href = \"www.example.com\">www.example.com</a>中文<br/>");
  EXPECT_EQ(Convert("www.ab中文cdefgh ij"),
            "<a href = \"www.ab中文cdefgh\">www.ab中文cdefgh</a>&nbsp;ij<br/>");
  // A line break inside the paragraph ends it too.
  EXPECT_EQ(Convert(QString("http://abcdefgh.ij") + QChar(QChar::LineSeparator) + "x"),
            "<a href = \"http://abcdefgh.ij\">http://abcdefgh.ij</a><br/>x<br/>");
}

TEST_F(InputTest, AddressCharactersAreEscapedInTargetAndText) {
  EXPECT_EQ(Convert("http://x.com/?a=1&b=\"2\"<3>"),
            "<a href = \"http://x.com/?a=1&amp;b=&quot;2&quot;&lt;3&gt;\">"
            "http://x.com/?a=1&amp;b=\"2\"&lt;3&gt;</a><br/>");
}

TEST_F(InputTest, EmojiBecomeImageElementsAndTypingContinuesAsText) {
  InputTextEdit edit;
  edit.insertPlainText("hi ");
  edit.InsertImageHtml(EmojiDialog::FacePath(3));
  QTest::keyClicks(&edit, "ok");
  edit.InsertImageHtml(EmojiDialog::FacePath(20));
  edit.InsertImageHtml(EmojiDialog::FacePath(0));
  EXPECT_EQ(edit.ConvertToMessageText(),
            "hi&nbsp;<img src=\":/image/face/emoji_03.png\"/>ok"
            "<img src=\":/image/face/emoji_20.png\"/><img src=\":/image/face/emoji_00.png\"/><br/>");
  EXPECT_TRUE(edit.ImageList().isEmpty());
}

TEST_F(InputTest, PastedPicturesStayOutOfTheTextAndAreWrittenAsScreenshotFiles) {
  InputTextEdit edit;
  edit.insertPlainText("look");
  auto* first = new QMimeData;
  first->setImageData(Picture(40, 30, Qt::red));
  Paste(&edit, first);
  edit.InsertImageHtml(EmojiDialog::FacePath(7));
  QMimeData second;
  second.setImageData(Picture(20, 10, Qt::blue));
  EXPECT_TRUE(Drop(&edit, &second));

  const QString text = edit.ConvertToMessageText();
  EXPECT_EQ(text, "look<img src=\":/image/face/emoji_07.png\"/><br/>");
  const QStringList images = edit.ImageList();
  ASSERT_EQ(images.size(), 2);
  EXPECT_NE(images[0], images[1]);
  for (const QString& path : images) {
    EXPECT_TRUE(QFileInfo(path).fileName().startsWith("qnchat_ss"));
    EXPECT_EQ(QFileInfo(path).absolutePath(), QDir(edit.ScreenShotDir()).absolutePath());
    EXPECT_TRUE(edit.ScreenShotDir().startsWith(data_home_.path()));
    EXPECT_FALSE(QFileInfo::exists(path)) << "nothing is written before sending";
  }

  ASSERT_TRUE(edit.WritePastedImages());
  EXPECT_EQ(QImage(images[0]).size(), QSize(40, 30));
  EXPECT_EQ(QImage(images[0]).pixelColor(0, 0), QColor(Qt::red));
  EXPECT_EQ(QImage(images[1]).size(), QSize(20, 10));

  // A second pass finds its files there already and writes nothing.
  qnchat_test::LogCapture log;
  EXPECT_FALSE(edit.WritePastedImages());
  EXPECT_TRUE(log.Has("file has exists or img not scrennshot"));

  edit.Clear();
  EXPECT_TRUE(edit.ImageList().isEmpty());
  EXPECT_EQ(edit.ConvertToMessageText(), "<br/>");
}

TEST_F(InputTest, PictureDeletedFromTheEditorIsNotSent) {
  InputTextEdit edit;
  QMimeData mime;
  mime.setImageData(Picture(8, 8, Qt::green));
  Drop(&edit, &mime);
  Drop(&edit, &mime);
  ASSERT_EQ(edit.ImageList().size(), 2);
  const QString kept = edit.ImageList()[1];
  // Remove the first picture character.
  QTextCursor cursor(edit.document());
  cursor.movePosition(QTextCursor::Start);
  cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
  edit.ConvertToMessageText();
  EXPECT_EQ(edit.ImageList(), QStringList{kept});
}

TEST_F(InputTest, NullPictureInsertsNothingAndForeignPathsAreNotWritten) {
  InputTextEdit edit;
  emit edit.Sig_ImageLoaded(QImage(), QUrl(edit.ScreenShotDir() + "/qnchat_ss1.png"));
  EXPECT_TRUE(edit.ImageList().isEmpty());
  EXPECT_EQ(edit.toPlainText(), "");

  // A picture under a name the editor did not make is refused, and stops the pass.
  const QString foreign = data_home_.path() + "/elsewhere.png";
  emit edit.Sig_ImageLoaded(Picture(4, 4, Qt::red), QUrl(foreign));
  qnchat_test::LogCapture log;
  EXPECT_FALSE(edit.WritePastedImages());
  EXPECT_TRUE(log.Has("file has exists or img not scrennshot"));
  EXPECT_FALSE(QFileInfo::exists(foreign));
}

TEST_F(InputTest, DroppedFilesAreOfferedForSendingAndNotInserted) {
  InputTextEdit edit;
  QSignalSpy spy(&edit, &InputTextEdit::Sig_SendFile);
  QMimeData mime;
  const QList<QUrl> files = {QUrl::fromLocalFile("/tmp/a.txt"), QUrl::fromLocalFile("/tmp/b c.pdf")};
  mime.setUrls(files);
  EXPECT_TRUE(Drop(&edit, &mime));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].value<QList<QUrl>>(), files);
  EXPECT_FALSE(spy[0][1].toBool());
  EXPECT_EQ(edit.toPlainText(), "");

  // A web link dragged from a browser is text, not a file.
  auto* link = new QMimeData;
  link->setUrls({QUrl("https://example.org/page")});
  link->setText("https://example.org/page");
  Paste(&edit, link);
  EXPECT_EQ(spy.count(), 1);
  EXPECT_EQ(edit.toPlainText(), "https://example.org/page");
}

TEST_F(InputTest, PastedRichTextArrivesAsPlainText) {
  InputTextEdit edit;
  auto* mime = new QMimeData;
  mime->setHtml("<b>bold</b><img src=\"/etc/passwd\">");
  mime->setText("bold");
  Paste(&edit, mime);
  EXPECT_EQ(edit.ConvertToMessageText(), "bold<br/>");
}

TEST_F(InputTest, MenuPasteGoesThroughTheKeyPath) {
  InputTextEdit edit;
  QApplication::clipboard()->setText("from menu");
  edit.OnPasteActTriggered();
  QCoreApplication::processEvents();
  EXPECT_EQ(edit.toPlainText(), "from menu");

  QApplication::clipboard()->setImage(Picture(12, 12, Qt::yellow));
  edit.OnPasteActTriggered();
  QCoreApplication::processEvents();
  EXPECT_EQ(edit.ImageList().size(), 1);
  edit.PasteClipboardImage();
  EXPECT_EQ(edit.ImageList().size(), 2);
  EXPECT_NE(edit.ImageList()[0], edit.ImageList()[1]);
}

struct KeyCase {
  bool direct_send;
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
  bool sends;
};

TEST_F(InputTest, SendKeysFollowDirectSend) {
  const KeyCase cases[] = {
      {false, Qt::Key_Return, Qt::NoModifier, false},
      {false, Qt::Key_Return, Qt::ControlModifier, true},
      {false, Qt::Key_Return, Qt::ShiftModifier, false},
      {false, Qt::Key_Enter, Qt::KeypadModifier, false},
      {false, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier, true},
      {true, Qt::Key_Return, Qt::NoModifier, true},
      {true, Qt::Key_Enter, Qt::KeypadModifier, true},
      {true, Qt::Key_Return, Qt::ControlModifier, false},
      {true, Qt::Key_Return, Qt::ShiftModifier, false},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "direct " << c.direct_send << " key " << c.key << " mods "
                                    << c.modifiers);
    bool direct = c.direct_send;
    InputTextEdit edit(nullptr, [&direct] { return direct; });
    QSignalSpy sent(&edit, &InputTextEdit::Sig_SendMessage);
    edit.insertPlainText("ab");
    QTest::keyClick(&edit, c.key, c.modifiers);
    EXPECT_EQ(sent.count(), c.sends ? 1 : 0);
    // Whatever does not send makes a new paragraph.
    EXPECT_EQ(edit.document()->blockCount(), c.sends ? 1 : 2);
    EXPECT_EQ(edit.ConvertToMessageText(), c.sends ? "ab<br/>" : "ab<br/><br/>");
  }
  // The setting is read at each key press.
  bool direct = false;
  InputTextEdit edit(nullptr, [&direct] { return direct; });
  QSignalSpy sent(&edit, &InputTextEdit::Sig_SendMessage);
  QTest::keyClick(&edit, Qt::Key_Return);
  direct = true;
  QTest::keyClick(&edit, Qt::Key_Return);
  EXPECT_EQ(sent.count(), 1);
  // Without a query, the setting's default: Enter sends.
  InputTextEdit plain;
  QSignalSpy plain_sent(&plain, &InputTextEdit::Sig_SendMessage);
  QTest::keyClick(&plain, Qt::Key_Return);
  EXPECT_EQ(plain_sent.count(), 1);
}

// Records the hook calls of a walk.
class RecordingDocument : public VDDocument {
 public:
  QStringList calls;

 protected:
  void OnImage(int, const QString& source) override { calls << "img:" + source; }
  void OnLink(int, const QString& target) override { calls << "link:" + target; }
  void OnText(int id, const QString& text) override {
    VDDocument::OnText(id, text);
    calls << "text:" + text;
  }
  void OnBlockEnd(int) override { calls << "block"; }
};

TEST_F(InputTest, ImporterCallsHooksInDocumentOrder) {
  QTextDocument doc;
  doc.setHtml(
      "<p>one <a href=\"http://x.org\">link</a><img src=\":/a.png\"><img src=\":/b.png\">two</p>"
      "<p style=\"background-color:#ff0000\"><span style=\"color:#00ff00\">three</span></p>");
  RecordingDocument walk;
  walk.Import(doc);
  EXPECT_EQ(walk.calls, (QStringList{"text:one ", "link:http://x.org", "text:link", "img::/a.png",
                                     "img::/b.png", "text:two", "block", "text:three", "block"}));
  EXPECT_EQ(walk.text(), "one linktwothree");
  // Two text looks and two paragraph looks were met.
  int text_formats = 0;
  int block_formats = 0;
  for (int id = 0; id < walk.formats().Count(); ++id) {
    const Format* format = walk.formats().Get(id);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->id(), id);
    (format->kind() == Format::Kind::kText ? text_formats : block_formats)++;
    if (format->kind() == Format::Kind::kBlock &&
        static_cast<const FormatBlock*>(format)->background().isValid()) {
      EXPECT_EQ(static_cast<const FormatBlock*>(format)->background(), QColor("#ff0000"));
    }
  }
  EXPECT_GE(text_formats, 2);
  EXPECT_EQ(block_formats, 2);
  EXPECT_EQ(walk.formats().Get(walk.formats().Count()), nullptr);
}

TEST_F(InputTest, LongTextWithManyAddressesConverts) {
  QString typed;
  for (int i = 0; i < 5000; ++i) typed += QString("www.site%1.org/page ").arg(i);
  const QString text = QNDocument::MarkUpText(typed);
  EXPECT_EQ(text.count("<a href = \""), 5000);
  EXPECT_EQ(text.count("</a>"), 5000);
  EXPECT_TRUE(text.startsWith("<a href = \"www.site0.org/page\">www.site0.org/page</a>&nbsp;"));
}

class EmojiDialogTest : public InputTest {};

TEST_F(EmojiDialogTest, GridHoldsTheTwentyOneFacesAndClickInsertsOne) {
  EmojiDialog dialog;
  QTableWidget* table = dialog.table();
  ASSERT_EQ(table->rowCount(), 3);
  ASSERT_EQ(table->columnCount(), 10);
  const int cell = qRound(34 * DpiScale());
  for (int index = 0; index < 30; ++index) {
    const int row = index / 10;
    const int column = index % 10;
    EXPECT_EQ(table->columnWidth(column), cell);
    EXPECT_EQ(table->rowHeight(row), cell);
    QWidget* holder = table->cellWidget(row, column);
    if (index < 21) {
      ASSERT_NE(holder, nullptr) << index;
      auto* label = holder->findChild<QLabel*>();
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->toolTip(), QString(":/image/face/emoji_%1.png").arg(index, 2, 10, QChar('0')));
      EXPECT_FALSE(label->pixmap(Qt::ReturnByValue).isNull()) << index;
      EXPECT_EQ(label->size(), QSize(qRound(24 * DpiScale()), qRound(24 * DpiScale())));
    } else {
      EXPECT_EQ(holder, nullptr);
      ASSERT_NE(table->item(row, column), nullptr);
      EXPECT_EQ(table->item(row, column)->flags(), Qt::NoItemFlags);
    }
  }

  InputTextEdit edit;
  edit.insertPlainText("x");
  dialog.ShowAt(QPoint(10, 10), &edit);
  ASSERT_TRUE(dialog.isVisible());
  // Empty cells do nothing.
  const QRect empty = table->visualRect(table->model()->index(2, 5));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, empty.center());
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(edit.ConvertToMessageText(), "x<br/>");
  // Row 1, column 2 is face 12; the click lands on the face's label.
  const QRect face = table->visualRect(table->model()->index(1, 2));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, face.center());
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(edit.ConvertToMessageText(), "x<img src=\":/image/face/emoji_12.png\"/><br/>");
}

TEST_F(EmojiDialogTest, ShowsTheWholeGridAndSurvivesItsEditor) {
  EmojiDialog dialog;
  InputTextEdit edit;
  dialog.ShowAt(QPoint(0, 0), &edit);
  // All thirty cells are visible inside the popup.
  QTableWidget* table = dialog.table();
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 10; ++column)
      EXPECT_TRUE(table->viewport()->rect().contains(
          table->visualRect(table->model()->index(row, column))))
          << row << "," << column;
  // An editor gone in the meantime is not touched.
  auto* gone = new InputTextEdit;
  dialog.ShowAt(QPoint(0, 0), gone);
  delete gone;
  const QRect face = table->visualRect(table->model()->index(0, 0));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, face.center());
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace

namespace {

// Writes a grab when QNCHAT_GRAB_DIR names a directory (for looking at the
// widgets under Xvfb at different DPI); the checks run either way.
void SaveGrab(QWidget* widget, const QString& name) {
  const QString dir = qEnvironmentVariable("QNCHAT_GRAB_DIR");
  if (dir.isEmpty()) return;
  const QString dpi = QString::number(qRound(DpiScale() * 96));
  widget->grab().save(QString("%1/%2_%3dpi.png").arg(dir, name, dpi));
}

QImage Screenshot(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor("#f5f7fd"));
  QPainter painter(&image);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor("#678BF1"));
  painter.drawRect(0, 0, width, height / 6);
  painter.setBrush(QColor("#dbe6fa"));
  painter.drawRoundedRect(width / 10, height / 3, width * 6 / 10, height / 4, 8, 8);
  return image;
}

TEST_F(InputTest, ComposedMessageFitsTheEditorWidth) {
  const double scale = DpiScale();
  QWidget page;
  page.setStyleSheet("QWidget { background: white; }");
  page.resize(qRound(480 * scale), qRound(150 * scale));
  InputTextEdit edit(&page);
  edit.setFrameShape(QFrame::NoFrame);
  edit.setGeometry(page.rect());
  page.show();
  edit.insertPlainText("你好，see http://example.org/docs <b> & ");
  edit.InsertImageHtml(EmojiDialog::FacePath(2));
  edit.InsertImageHtml(EmojiDialog::FacePath(19));
  edit.insertPlainText(" ");
  auto* small = new QMimeData;
  small->setImageData(Screenshot(qRound(120 * scale), qRound(60 * scale)));
  Paste(&edit, small);
  // A whole-screen capture is shown at the editor's width, not beyond it.
  auto* big = new QMimeData;
  big->setImageData(Screenshot(1920, 1080));
  Paste(&edit, big);
  QCoreApplication::processEvents();
  SaveGrab(&page, "input_composed");

  EXPECT_EQ(edit.horizontalScrollBar()->maximum(), 0) << "content wider than the editor";
  EXPECT_EQ(edit.ImageList().size(), 2);
  EXPECT_EQ(edit.ConvertToMessageText(),
            "你好，see&nbsp;<a href = \"http://example.org/docs\">http://example.org/docs</a>"
            "&nbsp;&lt;b&gt;&nbsp;&amp;&nbsp;<img src=\":/image/face/emoji_02.png\"/>"
            "<img src=\":/image/face/emoji_19.png\"/>&nbsp;<br/>");
  // The pictures are still there to be written at their own size.
  ASSERT_TRUE(edit.WritePastedImages());
  EXPECT_EQ(QImage(edit.ImageList()[1]).size(), QSize(1920, 1080));
}

TEST_F(EmojiDialogTest, FacesSitInsideTheirCells) {
  EmojiDialog dialog;
  InputTextEdit edit;
  dialog.ShowAt(QPoint(20, 20), &edit);
  QCoreApplication::processEvents();
  SaveGrab(&dialog, "emoji_dialog");
  QTableWidget* table = dialog.table();
  for (int index = 0; index < EmojiDialog::kFaceCount; ++index) {
    const QModelIndex cell = table->model()->index(index / 10, index % 10);
    auto* label = table->cellWidget(cell.row(), cell.column())->findChild<QLabel*>();
    const QRect face(label->mapTo(table->viewport(), QPoint(0, 0)), label->size());
    EXPECT_TRUE(table->visualRect(cell).contains(face)) << index;
    // Centred within a pixel.
    EXPECT_LE((table->visualRect(cell).center() - face.center()).manhattanLength(), 2) << index;
  }
}

}  // namespace
