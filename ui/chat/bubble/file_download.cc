#include "ui/chat/bubble/file_download.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/log.h"
#include "tesselnet/ru_doveri.h"

namespace qn {

namespace {

// Tried names before a rename gives up: a directory holding this many copies
// of one name is not one a user keeps files in.
constexpr int kMaxNameAttempts = 10000;

struct WriteState {
  int fd = -1;
  long long written = 0;
  double total = 0;  // Content-Length once known
  int error = 0;     // errno of a failed write
  DownloadJob* job = nullptr;
};

size_t WritePiece(const void* data, size_t size, size_t count, RU_Doveri::VUDod::DownCb* cb) {
  auto* state = static_cast<WriteState*>(cb->user);
  if (state->job && state->job->cancelled.load()) return 0;  // aborts the transfer
  const size_t n = size * count;
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(state->fd, p + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      state->error = w < 0 ? errno : EIO;
      return 0;
    }
    done += static_cast<size_t>(w);
  }
  state->written += static_cast<long long>(n);
  return count;
}

void ReportProgress(RU_Doveri::VUDod::DownCb* cb, double total, double received) {
  auto* state = static_cast<WriteState*>(cb->user);
  state->total = total;
  if (state->job && total > 0) state->job->fraction.store(received / total);
}

// Moves from to to unless to exists; false with errno otherwise.
bool RenameNoReplace(const QByteArray& from, const QByteArray& to) {
  if (renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the flag: a hard link fails on an existing name too.
  if (::link(from.constData(), to.constData()) != 0) return false;
  ::unlink(from.constData());
  return true;
}

DownloadResult Fail(const QString& finalPath, const QString& reason) {
  DownloadResult result;
  result.path = finalPath;
  result.reason = reason;
  return result;
}

}  // namespace

QString NextFreeName(const QString& path, int attempt) {
  if (attempt <= 0) return path;
  const QFileInfo info(path);
  QString base = info.baseName();
  QString suffix = info.suffix();
  if (base.isEmpty()) {  // ".profile": the whole name is the base
    base = info.fileName();
    suffix.clear();
  }
  QString name = base + QStringLiteral("(%1)").arg(attempt);
  if (!suffix.isEmpty()) name += QLatin1Char('.') + suffix;
  return info.dir().filePath(name);
}

DownloadResult DownloadToFile(const QString& url, const QString& finalPath, DownloadJob* job) {
  const QFileInfo finalInfo(finalPath);
  const QString dir = finalInfo.absolutePath();
  // Hidden, so a file manager or the save directory's listing does not show
  // the half-done file as one more received file.
  QByteArray pattern = QFile::encodeName(
      dir + QStringLiteral("/.") + finalInfo.fileName() + QStringLiteral(".XXXXXX.part"));
  const int fd = mkostemps(pattern.data(), 5, O_CLOEXEC);  // O_EXCL by construction
  if (fd < 0) {
    const QString reason = QStringLiteral("cannot create a file in %1: %2")
                               .arg(dir, QString::fromLocal8Bit(strerror(errno)));
    return Fail(finalPath, reason);
  }
  // mkostemps makes the file private; a received file gets the usual mode.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  const QByteArray tempName = pattern;

  WriteState state;
  state.fd = fd;
  state.job = job;
  RU_Doveri::VUDod::DownCb cb;
  cb.write = WritePiece;
  cb.progress = ReportProgress;
  cb.user = &state;
  const RU_Doveri::QNResponse response =
      RU_Doveri::VUDod::downLoad(url.toUtf8().toStdString(), cb, 0, 0);
  const bool closed = ::close(fd) == 0;

  QString reason;
  if (job && job->cancelled.load()) {
    reason = QStringLiteral("cancelled");
  } else if (response.status != 200) {
    reason = QString::fromUtf8(response.body.c_str());
    if (response.status > 0) reason = QStringLiteral("HTTP %1 %2").arg(response.status).arg(reason);
  } else if (state.error != 0) {
    reason = QString::fromLocal8Bit(strerror(state.error));
  } else if (state.total > 0 && static_cast<double>(state.written) != state.total) {
    reason = QStringLiteral("received %1 of %2 bytes").arg(state.written).arg(state.total, 0, 'f', 0);
  } else if (!closed) {
    reason = QStringLiteral("closing the file failed");
  }
  if (!reason.isEmpty()) {
    ::unlink(tempName.constData());
    return Fail(finalPath, reason);
  }

  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    const QString candidate = NextFreeName(finalPath, attempt);
    if (RenameNoReplace(tempName, QFile::encodeName(candidate))) {
      if (job) job->fraction.store(1.0);
      DownloadResult result;
      result.status = 200;
      result.path = candidate;
      return result;
    }
    if (errno != EEXIST) {
      reason = QString::fromLocal8Bit(strerror(errno));
      break;
    }
  }
  if (reason.isEmpty()) reason = QStringLiteral("no free file name");
  ::unlink(tempName.constData());
  return Fail(finalPath, reason);
}

}  // namespace qn
