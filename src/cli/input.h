#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Where velmora-extract's addresses come from, and which it will load.
namespace cli {

// The addresses of a list, one a line, as given (white space at the ends
// aside): blank lines and lines whose first non-blank is # are skipped.
// Lines end in LF or CR LF; the text is UTF-8.
QStringList addressList(const QByteArray &bytes);

// Why a trimmed address is not loaded, or the empty text: only http:// and
// https:// (in any letter case) with a host are.
QString refusal(const QString &trimmed);

} // namespace cli
