// Received messages: what survives the whitelist rebuild, that everything else
// shows as the literal text the peer sent, that the safe document loads
// nothing but emoji faces (a FIFO as image source included), the link check,
// and the round trip from typed text to shown text.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFragment>
#include <atomic>
#include <chrono>
#include <thread>

#include "resources/resources.h"
#include "ui/chat/input/input_text_edit.h"
#include "ui/chat/input/message_sanitizer.h"
#include "ui/common/dpi_scale.h"

// Readable failure messages for Qt strings.
inline std::ostream& operator<<(std::ostream& os, const QString& s) { return os << s.toStdString(); }
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << '[' << list.join("\", \"").toStdString() << ']';
}

namespace {

// What a document shows: its text, image sources and link targets.
struct Shown {
  QString text;
  QStringList images;
  QStringList links;
};

Shown Inspect(const QTextDocument& doc) {
  Shown shown;
  shown.text = doc.toPlainText();
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat format = it.fragment().charFormat();
      if (format.isImageFormat()) shown.images << format.toImageFormat().name();
      if (format.isAnchor()) shown.links << format.anchorHref();
    }
  }
  shown.links.removeDuplicates();
  return shown;
}

Shown Show(const QString& messageText) {
  SafeTextDocument doc;
  doc.setHtml(SanitizeMessageHtml(messageText));
  return Inspect(doc);
}

class SanitizerTest : public testing::Test {
 protected:
  void SetUp() override { qnres::InitResources(); }
};

TEST_F(SanitizerTest, MessageFormatSurvives) {
  const QString message =
      "a&nbsp;b<br/><img src=\":/image/face/emoji_05.png\"/>"
      "<a href = \"http://example.org/x?a=1&amp;b=2\">http://example.org/x?a=1&amp;b=2</a>&nbsp;"
      "<a href = \"www.example.com\">www.example.com</a><a href = \"HTTPS://E.ORG\">e</a>"
      "&lt;tag&gt;&amp;&quot;&#39;&#x4E2D;&#128512;";
  const Shown shown = Show(message);
  EXPECT_EQ(shown.images, QStringList{":/image/face/emoji_05.png"});
  EXPECT_EQ(shown.links, (QStringList{"http://example.org/x?a=1&b=2", "www.example.com",
                                      "HTTPS://E.ORG"}));
  EXPECT_EQ(shown.text, QString("a b\n") + QChar(QChar::ObjectReplacementCharacter) +
                            "http://example.org/x?a=1&b=2 www.example.come<tag>&\"'中" +
                            QString::fromUcs4(U"\U0001F600"));
  // Our own output is already in its rebuilt form.
  const QString once = SanitizeMessageHtml(message);
  EXPECT_EQ(SanitizeMessageHtml(once), once);
  // The forms the editor and older peers write are accepted too.
  EXPECT_EQ(Show("x<br><br /><img src=\":/image/face/emoji_20.png\" />").images.size(), 1);
}

TEST_F(SanitizerTest, EmojiOnlyWithTheExactResourcePattern) {
  for (const char* source :
       {":/image/face/emoji_21.png", ":/image/face/emoji_5.png", ":/image/face/emoji_005.png",
        ":/image/face/../logo.png", ":/image/logo.png", "qrc:/image/face/emoji_01.png",
        ":/image/face/emoji_01.png?x", ":/image/face/emoji_01.PNG.png"}) {
    const QString message = QString("<img src=\"%1\"/>").arg(source);
    const Shown shown = Show(message);
    EXPECT_TRUE(shown.images.isEmpty()) << source;
    EXPECT_EQ(shown.text, message) << source;
  }
  EXPECT_TRUE(IsEmojiResource(":/image/face/emoji_00.png"));
  EXPECT_TRUE(IsEmojiResource("qrc:/image/face/emoji_20.png"));
  EXPECT_FALSE(IsEmojiResource(":/image/face/emoji_21.png"));
  EXPECT_FALSE(IsEmojiResource(":/image/face/emoji_01.png\n"));
}

// Inputs that must show exactly as the characters the peer sent.
const char* const kHostile[] = {
    "<img src=\"/etc/passwd\">",
    "<img src=\"/etc/hostname\"/>",
    "<img src=\"file:///etc/passwd\"/>",
    "<img src=\"http://127.0.0.1:9/x.png\"/>",
    "<img src=\"data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==\"/>",
    "<img src=\":/image/face/emoji_01.png\" onerror=\"x\"/>",
    "<img width=\"100000\" height=\"100000\" src=\":/image/face/emoji_01.png\"/>",
    "<style>@import url(file:///etc/passwd);</style>x",
    "<style>body{background-image:url(/etc/passwd)}</style>",
    "<p style=\"background-image:url(/etc/passwd)\">x</p>",
    "<span style=\"font-size:900pt\">big</span>",
    "<link rel=\"stylesheet\" href=\"/etc/passwd\">",
    "<table background=\"/etc/passwd\"><tr><td>x</td></tr></table>",
    "<a href=\"javascript:alert(1)\">x</a>",
    "<a href = \"javascript:alert(1)\">javascript:alert(1)</a>",
    "<a href = \"file:///etc/passwd\">file:///etc/passwd</a>",
    "<a href = \"data:text/html,x\">x</a>",
    "<a href = \"http://x.org\" onclick=\"y\">x</a>",
    "<a href = \"//evil.org\">x</a>",
    "<a name=\"x\">x</a>",
    "</a>stray",
    "<!-- comment --><script>alert(1)</script>",
    "<b>bold</b><i>it</i><h1>head</h1><font color=red>r</font>",
    "<br/ ><br x><img src=\":/image/face/emoji_01.png\" / x>",
    "a<b",
    "x>y",
    "&& &amp &#; &#x; &#0; &#xD800; &#99999999; &#x110000; &bogus; &NBSP; &#1; &#x7f;",
    "&nbspx; &ltx &#65x;",
};

TEST_F(SanitizerTest, AnythingElseShowsAsLiteralText) {
  for (const char* input : kHostile) {
    const Shown shown = Show(input);
    EXPECT_EQ(shown.text, QString::fromUtf8(input)) << input;
    EXPECT_TRUE(shown.images.isEmpty()) << input;
    EXPECT_TRUE(shown.links.isEmpty()) << input;
  }
}

TEST_F(SanitizerTest, LinksAreWellFormed) {
  // Nested: the inner opening tag is text; the first closing tag ends the link.
  Shown shown = Show("<a href = \"http://a.org\"><a href = \"http://b.org\">x</a></a>");
  EXPECT_EQ(shown.links, QStringList{"http://a.org"});
  EXPECT_EQ(shown.text, "<a href = \"http://b.org\">x</a>");
  // An unclosed link is closed at the end; later text is not swallowed into
  // something else.
  const QString unclosed = SanitizeMessageHtml("<a href = \"http://a.org\">abc");
  EXPECT_TRUE(unclosed.endsWith("</a>"));
  EXPECT_EQ(unclosed.count("<a "), unclosed.count("</a>"));
  // A target that breaks out of its quotes stays text.
  shown = Show("<a href = \"http://a.org/\"><b>\">x</a>");
  EXPECT_EQ(shown.links, QStringList{"http://a.org/"});
  EXPECT_EQ(shown.text, "<b>\">x");
  // The converter marks up "www.ab cd" (an early space); it shows as text.
  shown = Show("<a href = \"www.ab&nbsp;cd\">www.ab&nbsp;cd</a>");
  EXPECT_TRUE(shown.links.isEmpty());
  EXPECT_EQ(shown.text, "www.ab cd");
}

TEST_F(SanitizerTest, OnlyWebLinksOpen) {
  EXPECT_TRUE(IsOpenableLink(NormalizeLink("http://example.org/x")));
  EXPECT_TRUE(IsOpenableLink(NormalizeLink("HTTPS://example.org")));
  const QUrl www = NormalizeLink("www.example.org/p?q=1");
  EXPECT_TRUE(IsOpenableLink(www));
  EXPECT_EQ(www.scheme(), "http");
  EXPECT_EQ(www.host(), "www.example.org");
  for (const char* target :
       {"javascript:alert(1)", "file:///etc/passwd", "/etc/passwd", "data:text/html,x",
        "ftp://example.org", "http://", "http:///etc/passwd", "mailto:a@b.c", "qrc:/image/logo.png",
        "x.png", "smb://host/share", "www"}) {
    EXPECT_FALSE(IsOpenableLink(NormalizeLink(target))) << target;
  }
  EXPECT_FALSE(IsOpenableLink(QUrl("file:///etc/passwd")));
  EXPECT_FALSE(IsOpenableLink(QUrl::fromLocalFile("/tmp/x.png")));
}

TEST_F(SanitizerTest, DeepNestingAndLargeMarkupComplete) {
  QString nested;
  for (int i = 0; i < 10000; ++i) nested += "<b>";
  nested += "x";
  for (int i = 0; i < 10000; ++i) nested += "</b>";
  EXPECT_EQ(Show(nested).text, nested);

  QString large;
  while (large.size() < 100 * 1024) {
    large += "<a href = \"http://e.org/p\">e</a><img src=\":/image/face/emoji_02.png\"/>"
             "<div style=\"x\"><a href = \"javascript:x\"><img src=\"/etc/passwd\">&#x41;&amp;&x";
  }
  large += "<a href = \"";  // cut inside a tag
  const QString safe = SanitizeMessageHtml(large);
  EXPECT_EQ(safe.count("<a "), safe.count("</a>"));
  const Shown shown = Show(large);
  EXPECT_EQ(shown.links, QStringList{"http://e.org/p"});
  EXPECT_EQ(QSet<QString>(shown.images.begin(), shown.images.end()),
            QSet<QString>{":/image/face/emoji_02.png"});
  // A flood of faces: the first 300 are drawn, the rest named.
  QString faces;
  for (int i = 0; i < 2000; ++i) faces += "<img src=\":/image/face/emoji_02.png\"/>";
  const Shown flood = Show(faces);
  EXPECT_EQ(flood.images.size(), 300);
  EXPECT_EQ(flood.text.count(QStringLiteral("[表情]")), 1700);
}

// Notices anyone opening the FIFO for reading: a non-blocking writer can open
// it only while a reader has it open or waits in open. Opening the writer also
// releases such a reader, so a faulty renderer fails the test instead of
// hanging it.
class FifoWatch {
 public:
  explicit FifoWatch(const std::string& path) : path_(path) {
    thread_ = std::thread([this] {
      while (!stop_) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          opened_ = true;
          ::close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }
  ~FifoWatch() {
    stop_ = true;
    thread_.join();
  }
  bool opened() const { return opened_; }

 private:
  std::string path_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> opened_{false};
  std::thread thread_;
};

class SafeDocumentTest : public SanitizerTest {
 protected:
  void SetUp() override {
    SanitizerTest::SetUp();
    ASSERT_TRUE(dir_.isValid());
    fifo_ = dir_.path() + "/image.png";
    ASSERT_EQ(::mkfifo(fifo_.toUtf8().constData(), 0600), 0);
    picture_ = dir_.path() + "/big.png";
    QImage image(300, 300, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(picture_));
  }

  // Raw hostile markup, not sanitized: the document alone must hold.
  QString RawHostile() const {
    return QString("<html><head><link rel=\"stylesheet\" href=\"%1\">"
                   "<style>@import url(%1); p { background-image: url(%2); }</style></head>"
                   "<body><p>a<img src=\"%1\"><img src=\"file://%1\"><img src=\"%2\">"
                   "<img src=\"file://%2\"></p><table background=\"%2\"><tr><td>t</td></tr>"
                   "</table></body></html>")
        .arg(fifo_, picture_);
  }

  QTemporaryDir dir_;
  QString fifo_;
  QString picture_;
};

TEST_F(SafeDocumentTest, LoadsNoLocalImageNorTheFifo) {
  FifoWatch watch(fifo_.toStdString());
  SafeTextDocument doc;
  doc.setHtml(RawHostile());
  doc.setTextWidth(600);
  // Laying out and painting asks the document for every image.
  QImage canvas(600, 600, QImage::Format_ARGB32);
  QPainter painter(&canvas);
  doc.drawContents(&painter);
  painter.end();
  EXPECT_LT(doc.size().height(), 150) << "the 300 px picture was laid out";
  EXPECT_FALSE(watch.opened()) << "something opened the FIFO";

  // In a browser widget, shown and painted.
  QTextBrowser browser;
  browser.setDocument(new SafeTextDocument(&browser));
  browser.setHtml(RawHostile());
  browser.resize(500, 400);
  browser.grab();
  EXPECT_LT(browser.document()->size().height(), 150);
  EXPECT_FALSE(watch.opened());
}

TEST_F(SafeDocumentTest, StillDrawsEmojiFaces) {
  SafeTextDocument doc;
  doc.setHtml(SanitizeMessageHtml("<img src=\":/image/face/emoji_04.png\"/>"));
  doc.setDocumentMargin(0);
  QImage canvas(doc.size().toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32);
  canvas.fill(Qt::white);
  QPainter painter(&canvas);
  doc.drawContents(&painter);
  painter.end();
  EXPECT_GE(doc.size().width(), 20);
  bool coloured = false;
  for (int y = 0; y < canvas.height() && !coloured; ++y)
    for (int x = 0; x < canvas.width() && !coloured; ++x)
      coloured = canvas.pixelColor(x, y).saturation() > 100;
  EXPECT_TRUE(coloured) << "the face was not painted";
}

TEST_F(SafeDocumentTest, PlainDocumentWouldHaveLoadedThem) {
  // The control for the two checks above: Qt's own document reads the local
  // picture and opens the FIFO (the watch releases it).
  FifoWatch watch(fifo_.toStdString());
  QTextDocument doc;
  doc.setHtml(QString("<p><img src=\"%1\"><img src=\"%2\"></p>").arg(fifo_, picture_));
  doc.setTextWidth(600);
  QImage canvas(600, 600, QImage::Format_ARGB32);
  QPainter painter(&canvas);
  doc.drawContents(&painter);
  painter.end();
  EXPECT_GE(doc.size().height(), 300);
  EXPECT_TRUE(watch.opened());
}

TEST_F(SafeDocumentTest, SanitizedTextInAPlainLabelLoadsNothing) {
  FifoWatch watch(fifo_.toStdString());
  QLabel label;
  label.setTextFormat(Qt::RichText);
  label.setText(SanitizeMessageHtml(RawHostile()));
  label.setWordWrap(true);
  label.resize(500, 400);
  label.grab();
  EXPECT_FALSE(watch.opened());
  EXPECT_LT(label.sizeHint().height(), 300);
}

TEST_F(SanitizerTest, TypedTextShowsExactlyAsTyped) {
  QTemporaryDir home;
  qputenv("XDG_DATA_HOME", home.path().toUtf8());
  const QString typed[] = {
      "a<b>c",
      "x & y &amp; <br/> &nbsp; &#65;",
      "<img src=\"/etc/passwd\"> <a href=\"javascript:x\">y</a>",
      "see http://x.com/?a=1&b=<2> and www.example.org/p 中文 https://e.org",
      "  two  spaces  \"quotes\" 'single' \\ back",
  };
  for (const QString& text : typed) {
    InputTextEdit edit;
    edit.insertPlainText(text);
    const QString message = edit.ConvertToMessageText();
    const Shown shown = Show(message);
    EXPECT_EQ(shown.text, text) << message.toStdString();
    EXPECT_TRUE(shown.images.isEmpty());
    for (const QString& link : shown.links) EXPECT_TRUE(IsOpenableLink(NormalizeLink(link))) << link;
  }
  InputTextEdit edit;
  edit.insertPlainText(typed[3]);
  EXPECT_EQ(Show(edit.ConvertToMessageText()).links,
            (QStringList{"http://x.com/?a=1&b=<2>", "www.example.org/p", "https://e.org"}));
}

}  // namespace

namespace {

TEST_F(SafeDocumentTest, ReceivedMessageShowsFacesAtTextSizeAndHostileMarkupAsText) {
  const double scale = DpiScale();
  QTextBrowser browser;
  browser.setDocument(new SafeTextDocument(&browser));
  browser.setOpenLinks(false);
  browser.resize(qRound(420 * scale), qRound(140 * scale));
  browser.setHtml(SanitizeMessageHtml(
      "hi&nbsp;<img src=\":/image/face/emoji_04.png\"/><img src=\":/image/face/emoji_19.png\"/>"
      "&nbsp;<a href = \"https://example.org/a\">https://example.org/a</a><br/>"
      "a&lt;b&gt;c &amp; <img src=\"" + fifo_ + "\"><b>bold?</b> <a href=\"file:///etc/passwd\">x</a>"));
  browser.show();
  QCoreApplication::processEvents();
  const QString dir = qEnvironmentVariable("QNCHAT_GRAB_DIR");
  if (!dir.isEmpty())
    browser.grab().save(QString("%1/received_%2dpi.png").arg(dir).arg(qRound(scale * 96)));
  // The first line holds the faces: at least a face high at this DPI.
  const QTextBlock first = browser.document()->begin();
  ASSERT_NE(first.layout(), nullptr);
  ASSERT_GE(first.layout()->lineCount(), 1);
  EXPECT_GE(first.layout()->lineAt(0).height(), 24 * scale - 1);
  EXPECT_TRUE(browser.toPlainText().contains(
      "a<b>c & <img src=\"" + fifo_ + "\"><b>bold?</b> <a href=\"file:///etc/passwd\">x</a>"));
}

}  // namespace
