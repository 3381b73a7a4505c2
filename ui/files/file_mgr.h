// The file helper of the interface: where received files go and which local
// name each gets.
//
// One instance serves the program (Instance(), created on first use and kept
// until exit); tests build their own over a directory of their choosing.
// Safe from any thread: download workers and the GUI thread both ask for
// names.
#pragma once

#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>

class ChatDatabase;

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

// One transferred file as the file manager lists it.
struct FileMgrRecord {
  QFileInfo file;        // the absolute local path
  QString senderName;    // the sender's remark when set, else the nick name
  QString senderUuid;
  QString sendDate;      // "yyyy-MM-dd hh:mm:ss"
  int fileType = 8;      // FileTypeOfSuffix of the file's suffix
  QString chatUuid;      // the conversation's contact
  QString chatName;      // that contact's remark when set, else the nick name
};

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

  // False for an empty path or a missing directory; otherwise whether a file
  // can be created (and is removed again) there.
  static bool IsWritableDir(const QString& dir);
  static QString SizeText(qint64 bytes);
  static int FileType(const QString& suffix);
  static QString TypeIcon(int type);

  // The store the records come from; not owned, outlives the manager, used on
  // this object's (the GUI) thread only. Null leaves the records empty.
  void SetDatabase(ChatDatabase* database) { database_ = database; }

  // Records a transferred file: the map at once (any thread), the store on
  // this object's thread. A second record of the same path replaces the first.
  void AddFileRecord(const FileMgrRecord& record);
  // Reads the records again from the store. GUI thread.
  void Reload();
  // Newest first. Any thread.
  QList<FileMgrRecord> AllRecords() const;
  QList<FileMgrRecord> RecordsBySender(const QString& uuid) const;
  // Nothing for a type outside 0-8.
  QList<FileMgrRecord> RecordsByType(int type) const;
  // Records whose file name contains text, ignoring case.
  QList<FileMgrRecord> SearchRecords(const QString& text) const;
  // Forgets the record of path in the map and the store; the file stays. GUI
  // thread.
  bool DeleteFileRecord(const QString& absolutePath);

 signals:
  // The record list changed (added, deleted or reloaded). Emitted on the
  // thread that changed it.
  void Sig_RecordsChanged();

 private:
  QList<FileMgrRecord> Filtered(const std::function<bool(const FileMgrRecord&)>& keep) const;

  bool IsTaken(const QString& dir, const QString& fileName) const;

  const QString fixed_save_directory_;
  mutable QMutex mutex_;
  // Full paths handed out by UniqueFileName whose download may not have
  // begun: two offers of the same name before either arrives must not share
  // a file. Guarded by mutex_.
  QSet<QString> handed_out_;

  ChatDatabase* database_ = nullptr;
  mutable QMutex records_mutex_;
  // Keyed by absolute path. Guarded by records_mutex_.
  QMap<QString, FileMgrRecord> records_;
};
