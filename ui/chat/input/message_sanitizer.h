// What a received message may do when it is shown. A peer's message text is
// untrusted: rendered as HTML as it stands it could load local files, remote
// or data: images, style sheets, or block the GUI thread on a FIFO. So every
// message shown is rebuilt from the message text format's own constructs, the
// document that shows it loads only the emoji faces, and a link opens only
// after its scheme is checked. All functions are pure; GUI thread only for
// SafeTextDocument (as for any QTextDocument).
#pragma once

#include <QString>
#include <QTextDocument>
#include <QUrl>
#include <QVariant>

// Rebuilds a received message text into HTML that holds only: text (with
// "&nbsp;", "&lt;", "&gt;", "&amp;", "&quot;", "&#39;" and numeric character
// references), "<br/>", links `<a href = "…">…</a>` whose target is http,
// https or "www.", and the emoji elements `<img src=":/image/face/emoji_NN.png"/>`
// with NN from 00 to 20. Anything else (other tags, attributes, unknown
// entities, a bare "&") is kept as the literal text the peer sent, escaped. The
// result is well-formed: every `<a>` is closed, nothing nests. Linear in the
// input; past 300 faces in one message the rest show as "[表情]", which keeps
// the document that shows it fast as well.
QString SanitizeMessageHtml(const QString& messageText);

// True for the emoji resource the message format allows: exactly
// ":/image/face/emoji_NN.png" (or the same as a "qrc:" URL), NN from 00 to 20.
bool IsEmojiResource(const QString& source);

// True only for links a user may open from a message: http and https with a
// host. A "www." target without a scheme counts as http (see NormalizeLink).
bool IsOpenableLink(const QUrl& url);

// The URL to open for a link target taken from a message: "www.x" becomes
// "http://www.x"; any other text is parsed as it stands. Check the result with
// IsOpenableLink before opening it.
QUrl NormalizeLink(const QString& target);

// A document for showing received messages: loadResource hands out only the
// emoji faces from the compiled resources, and its layout draws only those
// images (Qt's own image handler would fall back to reading any path it is
// given). Every other image, style sheet or resource (local path, file:,
// http:, data:, a FIFO) yields nothing, without touching the file system or
// the network. Use it for every QTextBrowser/QTextEdit that shows a peer's
// text, and do not replace its document layout. A QLabel has no such hook, so
// show messages in a label only after SanitizeMessageHtml.
class SafeTextDocument : public QTextDocument {
  Q_OBJECT

 public:
  explicit SafeTextDocument(QObject* parent = nullptr);

 protected:
  QVariant loadResource(int type, const QUrl& name) override;
};
