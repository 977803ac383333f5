#pragma once

#include "core/remove_dups.h"

#include <QStringList>

// The pairwise loop that duplicateIndexes replaces, step for step: the count
// is re-read at every test, the reference text once per outer pass, and
// after a removal the same inner index is examined again. The dedupe test
// and its fuzz target hold the hash to it.
inline QStringList pairwiseRemoveDups(QStringList lst, remove_dups::Compare compare)
{
    const Qt::CaseSensitivity mode =
        compare == remove_dups::Compare::IgnoreCase ? Qt::CaseInsensitive : Qt::CaseSensitive;
    for (qsizetype outer = 0; outer < lst.size() - 1; ++outer) {
        const QString reference = lst.at(outer);
        for (qsizetype inner = outer + 1; inner < lst.size(); ++inner) {
            if (QString::compare(lst.at(inner), reference, mode) == 0) {
                lst.removeAt(inner);
                --inner;
            }
        }
    }
    return lst;
}
