#pragma once

#include <QList>
#include <QStringList>

namespace links {

// Indexes, ascending, of the items that duplicate an earlier item: of every
// group of equal items the first survives. comptype 0 compares ignoring
// letter case, any other value compares code unit by code unit. Removing the
// returned indexes leaves the survivors in their order.
//
// One pass over a hash set of keys (case-folded for comptype 0), so a list of
// 100,000 items takes milliseconds instead of the minutes that comparing
// every pair would.
QList<qsizetype> duplicateIndexes(const QStringList &items, int comptype);

} // namespace links
