#include "data.h"

#include "app/link_list.h"

#include <algorithm>
#include <random>

namespace bench {

QStringList distinctLinks(qsizetype count)
{
    QStringList links;
    links.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        links.append(QStringLiteral("http://www.example-shop.test/catalog/Item-%1/detail.html?ref=Home").arg(i));
    return links;
}

QStringList linksWithCaseRepeats(qsizetype count)
{
    const qsizetype distinct = (count + 1) / 2;
    QStringList links = distinctLinks(distinct);
    for (qsizetype i = distinct; i < count; ++i) {
        const qsizetype original = i - distinct;
        // Every other repeat in capitals, the rest with the case of a few letters
        // swapped, so both a full and a partial case change are exercised.
        QString repeat = links.at(original);
        if (original % 2 == 0) {
            repeat = repeat.toUpper();
        } else {
            for (qsizetype at = 0; at < repeat.size(); at += 3)
                repeat[at] = repeat[at].isUpper() ? repeat[at].toLower() : repeat[at].toUpper();
        }
        links.append(repeat);
    }
    std::mt19937 random(20261207);
    std::shuffle(links.begin(), links.end(), random);
    return links;
}

void pairwiseRemoveDups(LinkListModel &lst, int comptype)
{
    const Qt::CaseSensitivity mode = comptype == 0 ? Qt::CaseInsensitive : Qt::CaseSensitive;
    for (qsizetype outer = 0; outer < lst.count() - 1; ++outer) {
        const QString reference = lst.item(outer);
        for (qsizetype inner = outer + 1; inner < lst.count(); ++inner) {
            if (QString::compare(reference, lst.item(inner), mode) == 0) {
                lst.removeAt(inner);
                --inner;
            }
        }
    }
}

} // namespace bench
