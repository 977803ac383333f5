// duplicateIndexes against the pairwise loop it replaces, under both case
// rules, on lists rich in letters whose case mappings are not plain ASCII.
#include "core/remove_dups.h"
#include "fuzz_input.h"
#include "pairwise_reference.h"

#include <array>

namespace {

// Greek sigmas, sharp s, Turkish i, the Kelvin sign, full-width letters, a
// Deseret pair and both halves of a pair on their own.
const std::array<const char16_t *, 32> letters{
    u"a",  u"A",  u"k",      u"K",          u"i",          u"I",      u"s",      u"S",  u"/", u" ", u"%41",
    u"ss", u"σ",  u"ς",      u"Σ",          u"ß",          u"ẞ",      u"İ",      u"ı",  u"ǅ", u"ǆ", u"Ǆ",
    u"ａ", u"Ａ", u"\u212A", u"\U00010400", u"\U00010428", u"\xD801", u"\xDC00", u"中", u"ё", u"Ё"};

// The first byte picks the case rule. Then each byte adds a letter; 0xFF
// ends an item, and 0xFE takes the next two bytes as any code unit.
QStringList itemsFrom(const uint8_t *data, size_t size)
{
    QStringList items;
    QString item;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFF) {
            items.append(item);
            item.clear();
        } else if (data[i] == 0xFE && i + 2 < size) {
            item.append(QChar(char16_t(data[i + 1] | (data[i + 2] << 8))));
            i += 2;
        } else {
            item.append(QString::fromUtf16(letters[data[i] % letters.size()]));
        }
    }
    items.append(item);
    return items;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    // As the seeds were written: a first byte of 0 modulo 3 ignores case.
    const auto compare = data[0] % 3 == 0 ? remove_dups::Compare::IgnoreCase : remove_dups::Compare::Exact;
    const QStringList items = itemsFrom(data, size);

    const QList<qsizetype> indexes = remove_dups::duplicateIndexes(items, compare);
    QStringList survivors = items;
    for (qsizetype i = indexes.size() - 1; i >= 0; --i) {
        FUZZ_CHECK(indexes.at(i) >= 0 && indexes.at(i) < items.size());
        FUZZ_CHECK(i == 0 || indexes.at(i - 1) < indexes.at(i));
        survivors.removeAt(indexes.at(i));
    }
    FUZZ_CHECK(survivors == pairwiseRemoveDups(items, compare));
    return 0;
}
