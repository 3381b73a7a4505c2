#include "ui/files/file_mgr.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <algorithm>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStringList>
#include <QVector>

#include "base/settings.h"
#include "store/chat_database.h"
#include "ui/files/file_type.h"

namespace {

// The settings key of the user's chosen save directory.
constexpr char kFileSavePathKey[] = "FileSavePath";
constexpr char kFallbackName[] = "file";
// A longer tail after the last dot is not a suffix worth keeping whole.
constexpr int kMaxKeptSuffixBytes = 32;

bool IsUnwanted(uint c) {
  if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) return true;  // C0, DEL, C1
  if (c >= 0xD800 && c <= 0xDFFF) return true;  // unpaired surrogates: no valid UTF-8
  // A byte-order mark: Qt drops it from the start of text it reads (UTF-8 file
  // names, UCS-4), so a name beginning with one came back different or empty.
  if (c == 0xFEFF) return true;
  // Direction marks and overrides let "exe.txt" display as something else.
  if (c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
      (c >= 0x2066 && c <= 0x2069))
    return true;
  return false;
}

int Utf8Bytes(uint c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

int Utf8Bytes(const QVector<uint>& text) {
  int bytes = 0;
  for (uint c : text) bytes += Utf8Bytes(c);
  return bytes;
}

// The longest prefix of text (whole code points) of at most maxBytes bytes.
QVector<uint> Truncated(const QVector<uint>& text, int maxBytes) {
  QVector<uint> out;
  int bytes = 0;
  for (uint c : text) {
    bytes += Utf8Bytes(c);
    if (bytes > maxBytes) break;
    out.append(c);
  }
  return out;
}

bool IsBlankOrDot(uint c) { return c == '.' || QChar::isSpace(c); }

// One path part without unwanted characters, leading dots and blanks, and
// trailing blanks; empty when nothing usable remains ("." and ".." included).
QVector<uint> Cleaned(const QString& part) {
  QVector<uint> out;
  for (uint c : part.toUcs4()) {
    if (!IsUnwanted(c)) out.append(c);
  }
  int begin = 0;
  while (begin < out.size() && IsBlankOrDot(out[begin])) ++begin;
  int end = out.size();
  while (end > begin && QChar::isSpace(out[end - 1])) --end;
  return out.mid(begin, end - begin);
}

QVector<uint> Bounded(const QVector<uint>& name) {
  if (Utf8Bytes(name) <= kMaxSafeFileNameBytes) return name;
  int dot = name.lastIndexOf('.');
  if (dot > 0) {
    QVector<uint> suffix = name.mid(dot);
    int suffixBytes = Utf8Bytes(suffix);
    if (suffixBytes > 1 && suffixBytes <= kMaxKeptSuffixBytes) {
      QVector<uint> stem = Truncated(name.mid(0, dot), kMaxSafeFileNameBytes - suffixBytes);
      while (!stem.isEmpty() && QChar::isSpace(stem.last())) stem.removeLast();
      if (!stem.isEmpty()) return stem + suffix;
    }
  }
  QVector<uint> cut = Truncated(name, kMaxSafeFileNameBytes);
  while (!cut.isEmpty() && QChar::isSpace(cut.last())) cut.removeLast();
  return cut;
}

}  // namespace

QString SafeFileNameComponent(const QString& offered) {
  // A peer on another system may separate directories with either slash.
  // Split by hand: a regular expression matches nothing in text with a lone
  // surrogate, which left the separators in place.
  QString separated = offered;
  separated.replace(QLatin1Char('\\'), QLatin1Char('/'));
  QStringList parts = separated.split(QLatin1Char('/'));
  for (int i = parts.size() - 1; i >= 0; --i) {
    QVector<uint> name = Cleaned(parts[i]);
    if (name.isEmpty()) continue;
    name = Bounded(name);
    if (!name.isEmpty()) return QString::fromUcs4(name.constData(), name.size());
  }
  return QLatin1String(kFallbackName);
}

FileMgr* FileMgr::Instance() {
  static FileMgr* instance = new FileMgr();
  return instance;
}

FileMgr::FileMgr(const QString& saveDirectory, QObject* parent)
    : QObject(parent), fixed_save_directory_(saveDirectory) {}

QString FileMgr::SavePath() {
  QString dir = fixed_save_directory_;
  if (dir.isEmpty()) dir = QString::fromStdString(GetSetting(kFileSavePathKey, std::string()));
  if (dir.isEmpty()) dir = AppDataDirectory();
  dir = QDir::cleanPath(dir);
  QDir().mkpath(dir);
  return dir;
}

bool FileMgr::IsTaken(const QString& dir, const QString& fileName) const {
  QString path = dir + QLatin1Char('/') + fileName;
  QFileInfo info(path);
  // A dangling link counts: writing through it would create its target.
  return info.exists() || info.isSymLink() || handed_out_.contains(path);
}

QString FileMgr::UniqueFileName(const QString& name) {
  QString safe = SafeFileNameComponent(name);
  QString dir = SavePath();
  QFileInfo parts(safe);
  QString base = parts.baseName();
  QString suffix = parts.suffix();
  QMutexLocker lock(&mutex_);
  QString candidate = safe;
  for (int n = 1; IsTaken(dir, candidate); ++n) {
    candidate = base + QLatin1Char('(') + QString::number(n) + QLatin1Char(')');
    // A name without a suffix gets none, rather than a trailing dot.
    if (!suffix.isEmpty()) candidate += QLatin1Char('.') + suffix;
  }
  handed_out_.insert(dir + QLatin1Char('/') + candidate);
  return candidate;
}

bool FileMgr::IsWritableDir(const QString& dir) {
  if (dir.isEmpty() || !QFileInfo(dir).isDir()) return false;
  QFile probe(dir + QStringLiteral("/QNChatTestWrite.txt"));
  if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return false;
  probe.close();
  probe.remove();
  return true;
}

QString FileMgr::SizeText(qint64 bytes) { return FileSizeText(bytes); }

int FileMgr::FileType(const QString& suffix) { return FileTypeOfSuffix(suffix); }

QString FileMgr::TypeIcon(int type) { return FileTypeIcon(type); }

void FileMgr::AddFileRecord(const FileMgrRecord& given) {
  FileMgrRecord record = given;
  record.fileType = FileTypeOfSuffix(record.file.suffix());
  const QString path = record.file.absoluteFilePath();
  {
    QMutexLocker lock(&records_mutex_);
    records_.insert(path, record);
  }
  emit Sig_RecordsChanged();
  // The store belongs to the GUI thread; a download worker's record is
  // written there.
  QMetaObject::invokeMethod(this, [this, record, path] {
    if (database_)
      database_->SaveFileRecord(path, record.senderUuid, record.sendDate, record.chatUuid);
  });
}

void FileMgr::Reload() {
  QMap<QString, FileMgrRecord> loaded;
  if (database_) {
    for (const FileRecord& row : database_->LoadFileRecords()) {
      FileMgrRecord record;
      record.file = QFileInfo(row.fileAbsUrl);
      record.senderName = row.senderRemark.isEmpty() ? row.senderName : row.senderRemark;
      record.senderUuid = row.senderRefUuid;
      record.sendDate = row.sendDate;
      record.fileType = FileTypeOfSuffix(record.file.suffix());
      record.chatUuid = row.chatRefUuid;
      record.chatName = row.chatName;
      loaded.insert(record.file.absoluteFilePath(), record);
    }
  }
  {
    QMutexLocker lock(&records_mutex_);
    records_.swap(loaded);
  }
  emit Sig_RecordsChanged();
}

QList<FileMgrRecord> FileMgr::Filtered(
    const std::function<bool(const FileMgrRecord&)>& keep) const {
  QList<FileMgrRecord> out;
  {
    QMutexLocker lock(&records_mutex_);
    for (const FileMgrRecord& record : records_) {
      if (keep(record)) out.append(record);
    }
  }
  // Newest first; the same second by path, so the order is stable.
  std::sort(out.begin(), out.end(), [](const FileMgrRecord& a, const FileMgrRecord& b) {
    if (a.sendDate != b.sendDate) return a.sendDate > b.sendDate;
    return a.file.absoluteFilePath() < b.file.absoluteFilePath();
  });
  return out;
}

QList<FileMgrRecord> FileMgr::AllRecords() const {
  return Filtered([](const FileMgrRecord&) { return true; });
}

QList<FileMgrRecord> FileMgr::RecordsBySender(const QString& uuid) const {
  return Filtered([&uuid](const FileMgrRecord& record) { return record.senderUuid == uuid; });
}

QList<FileMgrRecord> FileMgr::RecordsByType(int type) const {
  if (type < 0 || type > 8) return {};
  return Filtered([type](const FileMgrRecord& record) { return record.fileType == type; });
}

QList<FileMgrRecord> FileMgr::SearchRecords(const QString& text) const {
  return Filtered([&text](const FileMgrRecord& record) {
    return record.file.fileName().contains(text, Qt::CaseInsensitive);
  });
}

bool FileMgr::DeleteFileRecord(const QString& absolutePath) {
  bool ok = true;
  if (database_) ok = database_->DeleteFileRecord(absolutePath);
  {
    QMutexLocker lock(&records_mutex_);
    records_.remove(absolutePath);
  }
  emit Sig_RecordsChanged();
  return ok;
}
