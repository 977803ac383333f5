#pragma once

#include <QString>
#include <QStringList>

namespace harvest {

// An href as the list, the filter and the file all see it. Chromium hands
// back an address it cannot parse exactly as the page wrote it, so it may
// hold anything an attribute can: C0 controls and DEL are percent-encoded
// as a URL parser writes them (%0D, %0A, %00, %7F), and half a surrogate
// pair becomes U+FFFD. The result is one line of text, whatever the page did.
QString safeItem(const QString &href);

// The same encoding of C0 controls and DEL, for text quoted on one line
// elsewhere (the command line's diagnostics); every other unit, half a
// surrogate pair too, stays as it was.
QString encodeControls(const QString &text);

// The anchors a harvest appends, in order: every non-empty href, made safe,
// that contains the filter text (exact, case-sensitive unless asked
// otherwise); an empty filter keeps them all. positions, if given, receives
// where each kept one stood in anchors.
QStringList keptAnchors(const QStringList &anchors, const QString &filter,
                        Qt::CaseSensitivity filterCase = Qt::CaseSensitive, QList<qsizetype> *positions = nullptr);

} // namespace harvest
