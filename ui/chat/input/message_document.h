// The converter from the editor's document to the message text format, the
// HTML-like text that chat texts carry on the wire and in the history:
//   - typed characters as they are, with "<", ">" and "&" escaped and every
//     space written as "&nbsp;";
//   - "<br/>" after each paragraph;
//   - an emoji as <img src=":/image/face/emoji_NN.png"/>;
//   - a web address as <a href = "ADDRESS">ADDRESS</a>;
//   - other images (pasted pictures) left out; they travel as files.
//
// VDDocument walks a QTextDocument (blocks, their fragments, images one
// character at a time, anchors) and reports each run through virtual hooks in
// document order; QNDocument turns those calls into the message text. One
// converter object per conversion; GUI thread only, like the document.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QTextDocument;
class QTextCharFormat;
class QTextBlockFormat;

// A format met during the walk; the id is its index in the Format_Manager.
class Format {
 public:
  enum class Kind { kText, kBlock };
  virtual ~Format() = default;
  virtual Kind kind() const = 0;
  int id() const { return id_; }

 protected:
  explicit Format(int id) : id_(id) {}

 private:
  int id_;
};

// Character format: what the importer keeps of a text run's look.
class FormatText : public Format {
 public:
  FormatText(int id, const QString& family, double pointSize, const QColor& color)
      : Format(id), family_(family), point_size_(pointSize), color_(color) {}
  Kind kind() const override { return Kind::kText; }
  const QString& family() const { return family_; }
  double pointSize() const { return point_size_; }  // 0 when not set
  const QColor& color() const { return color_; }     // invalid when not set

 private:
  QString family_;
  double point_size_;
  QColor color_;
};

// Block format: the paragraph's background.
class FormatBlock : public Format {
 public:
  FormatBlock(int id, const QColor& background) : Format(id), background_(background) {}
  Kind kind() const override { return Kind::kBlock; }
  const QColor& background() const { return background_; }  // invalid when not set

 private:
  QColor background_;
};

// The table of formats met during one walk. Equal formats share one id.
class Format_Manager {
 public:
  int AddTextFormat(const QTextCharFormat& format);
  int AddBlockFormat(const QTextBlockFormat& format);
  // Null for an id not handed out.
  const Format* Get(int id) const;
  int Count() const { return static_cast<int>(formats_.size()); }

 private:
  std::vector<std::unique_ptr<Format>> formats_;
};

class VDDocument {
 public:
  virtual ~VDDocument() = default;

  // Walks `document` and calls the hooks in document order: for each block its
  // anchors, texts and images as they come, then the block end.
  void Import(const QTextDocument& document);

  // What the base text hook collected.
  const QString& text() const { return text_; }
  const Format_Manager& formats() const { return formats_; }

 protected:
  // The base hooks write a debug line; the text hook also keeps the text.
  virtual void OnImage(int formatId, const QString& source);
  virtual void OnLink(int formatId, const QString& target);
  virtual void OnText(int formatId, const QString& text);
  virtual void OnBlockEnd(int formatId);

 private:
  Format_Manager formats_;
  QString text_;
};

class QNDocument : public VDDocument {
 public:
  // Answers whether a non-emoji image source loads as an image (a pasted
  // picture the editor holds). Without it, such images are only dropped.
  using ImageCheck = std::function<bool(const QString& source)>;

  explicit QNDocument(ImageCheck isImage = {});

  // The message text built so far.
  const QString& messageText() const { return message_text_; }
  // The non-emoji images found, in document order.
  const QStringList& images() const { return images_; }

  // A run of typed text in the message text format: escaped, spaces as
  // "&nbsp;", web addresses marked up. An address starts at the earliest
  // "https://", "http://" or "www." and ends before the first space, line
  // break or CJK ideograph found from its 11th character on, or at the end.
  static QString MarkUpText(const QString& text);

 protected:
  void OnImage(int formatId, const QString& source) override;
  void OnText(int formatId, const QString& text) override;
  void OnBlockEnd(int formatId) override;

 private:
  ImageCheck is_image_;
  QString message_text_;
  QStringList images_;
};
