// The file helper of the interface: where received files go and which local
// name each gets.
//
// One instance serves the program (Instance(), created on first use and kept
// until exit); tests build their own over a directory of their choosing.
// Safe from any thread: download workers and the GUI thread both ask for
// names.
#pragma once

#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>

// Longest file name SafeFileNameComponent returns, in UTF-8 bytes. Below the
// file system's 255 so that UniqueFileName can still add "(n)".
constexpr int kMaxSafeFileNameBytes = 200;

// Reduces a file name offered by a remote peer to one harmless component of
// a path: the last non-empty part after any "/" or "\" (never "." or ".."),
// without control or bidirectional-formatting characters, without leading
// dots (no hidden files) or surrounding blanks, at most kMaxSafeFileNameBytes
// bytes of valid UTF-8 (a long name loses the end of its stem and keeps a
// short suffix). When nothing is left the name is "file".
QString SafeFileNameComponent(const QString& offered);

class FileMgr : public QObject {
  Q_OBJECT

 public:
  // The program's instance; its save directory follows the "FileSavePath"
  // setting. Create it on the GUI thread.
  static FileMgr* Instance();

  // saveDirectory empty: the "FileSavePath" setting, else the data directory.
  // Otherwise that directory, whatever the setting says (tests).
  explicit FileMgr(const QString& saveDirectory = QString(), QObject* parent = nullptr);

  // The directory received files are written to, created when missing.
  QString SavePath();

  // A local name (without the directory) for a received file offered as
  // name: the offered name made safe (SafeFileNameComponent), then, while a
  // file, link or earlier answer of this call has that name, base name +
  // "(n)" + "." + suffix for n = 1, 2, ... (base name up to the first dot,
  // suffix after the last). Writers still open the file with
  // QIODevice::NewOnly, since another program may take the name meanwhile.
  QString UniqueFileName(const QString& name);

 private:
  bool IsTaken(const QString& dir, const QString& fileName) const;

  const QString fixed_save_directory_;
  mutable QMutex mutex_;
  // Full paths handed out by UniqueFileName whose download may not have
  // begun: two offers of the same name before either arrives must not share
  // a file. Guarded by mutex_.
  QSet<QString> handed_out_;
};
