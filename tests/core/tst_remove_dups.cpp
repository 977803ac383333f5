#include "core/remove_dups.h"
#include "pairwise_reference.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <functional>

namespace {

QStringList withoutIndexes(QStringList items, const QList<qsizetype> &indexes)
{
    for (qsizetype i = indexes.size() - 1; i >= 0; --i)
        items.removeAt(indexes.at(i));
    return items;
}

// Letters whose case mappings are not plain ASCII: Greek final sigma, German
// sharp s and its capital, Cyrillic, Turkish dotted and dotless i, the Kelvin
// sign, full-width letters and a Deseret pair outside the BMP.
const QStringList &letters()
{
    static const QStringList list = [] {
        QStringList l{"a", "A", "b",  "B",  "k", "K", "i", "I", "s", "S", "/", " ", "%41", "σ",  "ς",  "Σ",
                      "ß", "ẞ", "ss", "SS", "к", "К", "ё", "Ё", "İ", "ı", "ǅ", "ǆ", "Ǆ",   "ａ", "Ａ", "中"};
        l << QString(QChar(0x212A));                                               // KELVIN SIGN
        l << QString::fromUcs4(U"\U00010400") << QString::fromUcs4(U"\U00010428"); // 𐐀 𐐨
        return l;
    }();
    return list;
}

QString randomWord(QRandomGenerator &rng, int maxLength)
{
    QString word;
    const int length = rng.bounded(maxLength + 1);
    for (int i = 0; i < length; ++i)
        word += letters().at(rng.bounded(letters().size()));
    return word;
}

// A letter-case variant of the same text: each character in upper, lower or
// its own case.
QString recase(QRandomGenerator &rng, const QString &word)
{
    QString out;
    for (const QChar c : word) {
        switch (rng.bounded(3)) {
        case 0:
            out += c.toUpper();
            break;
        case 1:
            out += c.toLower();
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

enum class Shape {
    Pool,
    Runs,
    AllEqual,
    AllDistinct,
    Long
};

QStringList randomList(QRandomGenerator &rng, Shape shape)
{
    const int size = rng.bounded(40);
    QStringList items;
    switch (shape) {
    case Shape::Pool: {
        // Few distinct texts, so repeats in other letter case are common.
        QStringList pool;
        for (int i = rng.bounded(1, 6); i > 0; --i)
            pool << randomWord(rng, 4);
        while (items.size() < size)
            items << recase(rng, pool.at(rng.bounded(pool.size())));
        break;
    }
    case Shape::Runs:
        while (items.size() < size) {
            const QString word = randomWord(rng, 3);
            for (int n = rng.bounded(1, 5); n > 0; --n)
                items << recase(rng, word);
        }
        break;
    case Shape::AllEqual: {
        const QString word = randomWord(rng, 5);
        items = QStringList(size, word);
        break;
    }
    case Shape::Long: {
        // Long enough that the folded text spans several hash blocks, with
        // the odd letter (a surrogate pair among them) on a block boundary.
        QStringList pool;
        for (int i = rng.bounded(1, 4); i > 0; --i)
            pool << QString(rng.bounded(56, 140), QLatin1Char('a')) + randomWord(rng, 6);
        while (items.size() < size)
            items << recase(rng, pool.at(rng.bounded(pool.size())));
        break;
    }
    case Shape::AllDistinct:
        for (int i = 0; i < size; ++i)
            items << QStringLiteral("http://a.cn/%1").arg(i);
        break;
    }
    return items;
}

} // namespace

class RemoveDupsTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownLists_data();
    void knownLists();
    void textComparisonIgnoresLetterCaseOnly();
    void agreesWithPairwiseLoopOnRandomLists();
};

void RemoveDupsTest::knownLists_data()
{
    using remove_dups::Compare;
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<Compare>("compare");
    QTest::addColumn<QStringList>("survivors");

    const auto ignoreCase = Compare::IgnoreCase;
    QTest::newRow("empty") << QStringList() << ignoreCase << QStringList();
    QTest::newRow("one item") << QStringList{"x"} << ignoreCase << QStringList{"x"};
    QTest::newRow("x y x z y") << QStringList{"x", "y", "x", "z", "y"} << ignoreCase << QStringList{"x", "y", "z"};
    QTest::newRow("run of four") << QStringList{"x", "x", "x", "x"} << ignoreCase << QStringList{"x"};
    QTest::newRow("case ignored, slash counts")
        << QStringList{"Ab/", "ab/", "ab"} << ignoreCase << QStringList{"Ab/", "ab"};
    QTest::newRow("exact") << QStringList{"a", "A"} << Compare::Exact << QStringList{"a", "A"};
    QTest::newRow("exact, repeats go") << QStringList{"a", "A", "a"} << Compare::Exact << QStringList{"a", "A"};
    QTest::newRow("all distinct") << QStringList{"b", "a", "c"} << ignoreCase << QStringList{"b", "a", "c"};
    QTest::newRow("empty items are equal") << QStringList{"", "a", ""} << ignoreCase << QStringList{"", "a"};
}

void RemoveDupsTest::knownLists()
{
    QFETCH(QStringList, items);
    QFETCH(remove_dups::Compare, compare);
    QFETCH(QStringList, survivors);

    const QStringList reduced = withoutIndexes(items, remove_dups::duplicateIndexes(items, compare));
    QCOMPARE(reduced, survivors);
    QCOMPARE(pairwiseRemoveDups(items, compare), survivors);
    // A second run changes nothing.
    QVERIFY(remove_dups::duplicateIndexes(reduced, compare).isEmpty());
}

// QString::compare with Qt::CaseInsensitive stands in for the locale's text
// comparison: letters that differ only in case are equal, and nothing is
// trimmed, normalised or decoded.
void RemoveDupsTest::textComparisonIgnoresLetterCaseOnly()
{
    const auto equal = [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseInsensitive) == 0;
    };
    // Letter by letter, for letters that form a case pair: "ß" and "SS"
    // differ in length, and dotless ı pairs with I only under Turkish rules.
    const auto mapped = [](const QString &text, char32_t (*map)(char32_t)) {
        QList<uint> codePoints = text.toUcs4();
        for (uint &c : codePoints)
            c = map(c);
        return QString::fromUcs4(reinterpret_cast<const char32_t *>(codePoints.constData()), codePoints.size());
    };
    for (const QString &letter : letters()) {
        const QString lower = mapped(letter, QChar::toLower);
        const QString upper = mapped(lower, QChar::toUpper);
        if (mapped(upper, QChar::toLower) != lower)
            continue;
        QVERIFY2(equal(upper, lower), qPrintable(letter));
        QVERIFY2(equal(mapped(lower, QChar::toTitleCase), lower), qPrintable(letter));
    }
    QVERIFY(!equal(QStringLiteral("ı"), QStringLiteral("I")));
    QVERIFY(equal(QStringLiteral("HTTP://A.CN/Σ"), QStringLiteral("http://a.cn/σ")));
    QVERIFY(!equal(QStringLiteral("http://a.cn"), QStringLiteral("http://a.cn/")));
    QVERIFY(!equal(QStringLiteral("http://a.cn "), QStringLiteral("http://a.cn")));
    QVERIFY(!equal(QStringLiteral("http://a.cn/%41"), QStringLiteral("http://a.cn/A")));
    QVERIFY(!equal(QStringLiteral("ａ"), QStringLiteral("a")));
    QVERIFY(!equal(QStringLiteral("ß"), QStringLiteral("ss")));
}

void RemoveDupsTest::agreesWithPairwiseLoopOnRandomLists()
{
    QRandomGenerator rng(20240611);
    const Shape shapes[] = {Shape::Pool, Shape::Runs, Shape::AllEqual, Shape::AllDistinct, Shape::Long};
    for (int round = 0; round < 1200; ++round) {
        for (const Shape shape : shapes) {
            const QStringList items = randomList(rng, shape);

            // The hash keys must split the items exactly as the comparison does.
            for (qsizetype i = 0; i < items.size(); ++i) {
                for (qsizetype j = i + 1; j < items.size(); ++j) {
                    const bool comparesEqual = QString::compare(items.at(i), items.at(j), Qt::CaseInsensitive) == 0;
                    const bool sameKey = items.at(i).toCaseFolded() == items.at(j).toCaseFolded();
                    if (comparesEqual != sameKey)
                        QFAIL(qPrintable(QStringLiteral("key and comparison disagree on \"%1\" and \"%2\"")
                                             .arg(items.at(i), items.at(j))));
                }
            }

            for (const auto compare : {remove_dups::Compare::IgnoreCase, remove_dups::Compare::Exact}) {
                const QList<qsizetype> indexes = remove_dups::duplicateIndexes(items, compare);
                QVERIFY(std::adjacent_find(indexes.cbegin(), indexes.cend(), std::greater_equal<>()) == indexes.cend());
                const QStringList expected = pairwiseRemoveDups(items, compare);
                if (withoutIndexes(items, indexes) != expected)
                    QFAIL(qPrintable(QStringLiteral("comparison %1 differs on: %2")
                                         .arg(int(compare))
                                         .arg(items.join(QLatin1Char('|')))));
            }
        }
    }
}

QTEST_GUILESS_MAIN(RemoveDupsTest)
#include "tst_remove_dups.moc"
