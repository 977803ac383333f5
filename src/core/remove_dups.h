#pragma once

#include <QList>
#include <QStringList>

namespace remove_dups {

enum class Compare {
    IgnoreCase, // as QString::compare with Qt::CaseInsensitive
    Exact,      // code unit by code unit
};

// Indexes, ascending, of the items that duplicate an earlier item: of every
// group of equal items the first survives. Removing the returned indexes
// leaves the survivors in their order.
//
// Linear: every item is hashed once (case-folded for IgnoreCase) and looked
// up in a hash table, so 100,000 items take milliseconds instead of the
// minutes that comparing every pair would.
QList<qsizetype> duplicateIndexes(const QStringList &items, Compare compare);

} // namespace remove_dups
