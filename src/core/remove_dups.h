#pragma once

#include <QList>
#include <QStringList>

namespace links {

// Indexes, ascending, of the items that duplicate an earlier item: of every
// group of equal items the first survives. comptype 0 compares ignoring
// letter case, any other value compares code unit by code unit. Removing the
// returned indexes leaves the survivors in their order.
//
// Linear: every item is hashed once (case-folded for comptype 0) and looked
// up in a hash table, so 100,000 items take milliseconds instead of the
// minutes that comparing every pair would.
QList<qsizetype> duplicateIndexes(const QStringList &items, int comptype);

} // namespace links
