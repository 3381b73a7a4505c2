// Downloading an offered file into the save directory without ever leaving a
// partial or empty file under a name that looks finished.
#pragma once

#include <QString>
#include <atomic>
#include <mutex>

namespace qn {

// Shared by a file bubble and the worker that downloads for it (held through
// a shared_ptr, so either may go first). The worker writes fraction and reads
// cancelled; the bubble reads fraction when it repaints and sets cancelled
// when it goes away, which aborts the transfer at its next piece of data.
struct DownloadJob {
  std::atomic<double> fraction{0.0};  // received / total, 0 while the total is unknown
  std::atomic<bool> cancelled{false};
  // Held by the bubble while it goes away and by the worker while it posts
  // the result to the bubble, so a result is never posted to a dead object.
  std::mutex deliver_lock;
};

struct DownloadResult {
  int status = -1;  // 200 when the whole file is in place, else -1
  QString path;     // where the file ended up (may differ from the wish, see below)
  QString reason;   // why it failed, for the log
};

// Downloads url into finalPath. Runs on any thread and blocks until the
// transfer ends; safe to run several at once.
//
// The body goes into a temporary file created exclusively next to finalPath
// and only a complete body (status 200, as many bytes as Content-Length
// announced, written and closed without error) is renamed into place; a
// failed or cancelled download removes its temporary file. The rename never
// replaces an existing file: when finalPath appeared meanwhile the next free
// name "base(n).suffix" is taken and returned in path.
DownloadResult DownloadToFile(const QString& url, const QString& finalPath, DownloadJob* job);

// The next free candidate for path: path itself, then base(1).suffix,
// base(2).suffix, … (base up to the first dot, suffix after the last, as
// the save directory names files). Only checks existence; the caller must
// still create exclusively.
QString NextFreeName(const QString& path, int attempt);

}  // namespace qn
