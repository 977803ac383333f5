// The address box's trimming and check, and the harvest filter, on any text.
// The first item is typed into the address box, the second is the filter,
// the rest are a page's hrefs.
#include "core/address.h"
#include "core/harvest.h"
#include "fuzz_input.h"

namespace {

bool isBlank(QChar c)
{
    return c == QChar(0x20) || c == QChar(0x3000);
}

void checkAddress(const QString &typed)
{
    const QString trimmed = address::trimBlanks(typed);
    // Only blanks go, only at the ends, and trimming twice changes nothing.
    const qsizetype at = typed.indexOf(trimmed);
    FUZZ_CHECK(at >= 0);
    for (qsizetype i = 0; i < typed.size(); ++i) {
        if (i < at || i >= at + trimmed.size())
            FUZZ_CHECK(isBlank(typed.at(i)));
    }
    FUZZ_CHECK(trimmed.isEmpty() || (!isBlank(trimmed.front()) && !isBlank(trimmed.back())));
    FUZZ_CHECK(address::trimBlanks(trimmed) == trimmed);

    const address::Verdict verdict = address::check(trimmed);
    if (!trimmed.startsWith(QLatin1String("http://")))
        FUZZ_CHECK(verdict == address::Verdict::BadPrefix);
    else
        FUZZ_CHECK(verdict
                   == (trimmed.size() < 13                           ? address::Verdict::TooShort
                           : trimmed.size() > address::maximumLength ? address::Verdict::TooLong
                                                                     : address::Verdict::Ok));

    // Quoted in a message: one short line, whose halves of a pair were
    // halves already.
    const QString quoted = address::elided(typed);
    FUZZ_CHECK(quoted.size() <= address::quotedLength);
    const auto lonely = [](const QString &text) {
        qsizetype count = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                ++i;
            else if (c.isSurrogate())
                ++count;
        }
        return count;
    };
    FUZZ_CHECK(lonely(quoted) <= lonely(typed));
    for (QChar c : quoted)
        FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QStringList items = fuzz::unitItems(data, size);
    checkAddress(items.takeFirst());
    const QString filter = items.isEmpty() ? QString() : items.takeFirst();

    const QStringList kept = harvest::keptAnchors(items, filter);
    QStringList expected;
    for (const QString &href : std::as_const(items)) {
        const QString safe = fuzz::referenceSafe(href);
        if (!href.isEmpty() && safe.contains(filter))
            expected.append(safe);
    }
    FUZZ_CHECK(kept == expected);
    return 0;
}
