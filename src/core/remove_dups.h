#pragma once

#include <QList>
#include <QStringList>

#include <memory>

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

// The items met so far, to tell repeats as they come (one page's links after
// another's) by the same rule.
class Seen
{
public:
    explicit Seen(Compare compare);
    ~Seen();
    Seen(const Seen &) = delete;
    Seen &operator=(const Seen &) = delete;

    // True when item is new, and from now on a repeat.
    bool add(const QString &item);

private:
    struct Table;
    std::unique_ptr<Table> m_table;
};

} // namespace remove_dups
