#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace save_file {

// The chosen path with ".txt" appended, unless its last four characters are
// exactly ".txt" (letter case counts: "a.TXT" gives "a.TXT.txt").
QString withTxtSuffix(const QString &path);

// True only for an existing regular file (or a link to one): a folder of that
// name does not count, so no overwrite question is asked for it and the write
// then fails with a message.
bool regularFileExists(const QString &path);

// The file's bytes: every item verbatim followed by CR LF, in GB18030 (the
// bytes of code page 936 for every character it has, and lossless for the
// rest), without a byte-order mark. An empty list gives no bytes. Each item
// is encoded on its own; half a surrogate pair, which no encoding can carry,
// is written as U+FFFD.
QByteArray encodeLines(const QStringList &items);

// Writes the items to path, replacing a regular file that is there with one
// of the same owner and mode; through a symbolic link, the file it leads to
// is written and the link kept. Anything else at path (a folder, pipe,
// socket, device, a link loop) is left untouched. Either the whole new file
// is in place or the old one is untouched; no temporary file is left behind.
// Returns the empty text on success, else a Chinese description of the
// operation that failed and why.
QString writeLinkFile(const QString &path, const QStringList &items);

// The same for bytes of any format.
QString writeFile(const QString &path, const QByteArray &bytes);

} // namespace save_file
