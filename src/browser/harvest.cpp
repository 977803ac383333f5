#include "browser/harvest.h"

namespace harvest {

QStringList keptAnchors(const QStringList &anchors, const QString &filter)
{
    QStringList kept;
    kept.reserve(anchors.size());
    for (const QString &href : anchors) {
        if (href.isEmpty())
            continue;
        if (filter.isEmpty() || href.contains(filter, Qt::CaseSensitive))
            kept.append(href);
    }
    return kept;
}

} // namespace harvest
