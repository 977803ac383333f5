#include "core/harvest.h"

#include <algorithm>

namespace harvest {

QStringList keptAnchors(const QStringList &anchors, const QString &filter)
{
    // The usual case keeps everything: share the list rather than copy it,
    // which would touch every one of a big page's strings.
    if (filter.isEmpty() && std::none_of(anchors.cbegin(), anchors.cend(), [](const QString &href) {
            return href.isEmpty();
        }))
        return anchors;
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
