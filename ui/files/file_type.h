// How the interface names a file's kind and size: the type number of a
// suffix, its icon, and the size text. Pure functions; any thread.
#pragma once

#include <QString>
#include <QtGlobal>

// 0 document (docx, txt, doc), 1 presentation (pptx, ppt), 2 video (mp4, avi,
// mkv, rmvb, rm, wmv, flv, mpg, mov, 3gp, gif), 3 picture (jpg, png, jpeg,
// bmp), 4 audio (mp3, wav, wma, m4a), 5 archive (zip, rar, 7z, tar, gz, bz2),
// 6 spreadsheet (xlsx), 7 pdf, 8 anything else. The suffix is compared in
// lower case, without its dot.
int FileTypeOfSuffix(const QString& suffix);

// The ":/image/file_type/…" icon of a type; pictures (3) and unknown types
// get the "other" icon here, callers show a picture's own thumbnail instead.
QString FileTypeIcon(int type);

// "0B" for 0; otherwise the size in the largest unit that keeps the value
// under 1024 (B, KB, MB, GB, TB, PB, EB, ZB, YB) with two decimals, e.g.
// "1.50KB", "1023.00B".
QString FileSizeText(qint64 bytes);
