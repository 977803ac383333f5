#pragma once

#include <QString>
#include <QStringList>

namespace harvest {

// The anchors a harvest appends, in order: every non-empty href that contains
// the filter text (exact, case-sensitive); an empty filter keeps them all.
QStringList keptAnchors(const QStringList &anchors, const QString &filter);

} // namespace harvest
