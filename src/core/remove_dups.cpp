#include "core/remove_dups.h"

#include "core/ascii_scan.h"

#include <QHashFunctions>

#include <array>
#include <unordered_set>
#include <vector>

namespace remove_dups {

namespace {

constexpr char32_t foldAscii(char32_t c)
{
    return c - U'A' < 26U ? c + (U'a' - U'A') : c;
}

// Reads a text code point by code point, each case-folded the way
// QString::compare with Qt::CaseInsensitive folds it (simple case folding,
// surrogate pairs as one code point).
class FoldedReader
{
public:
    explicit FoldedReader(QStringView text) : m_p(text.utf16()), m_end(text.utf16() + text.size()) {}

    [[nodiscard]] bool atEnd() const { return m_p == m_end; }

    char32_t next()
    {
        char32_t c = *m_p++;
        if (c < 0x80)
            return foldAscii(c);
        if (QChar::isHighSurrogate(c) && m_p != m_end && QChar::isLowSurrogate(*m_p))
            c = QChar::surrogateToUcs4(char16_t(c), *m_p++);
        return QChar::toCaseFolded(c);
    }

private:
    const char16_t *m_p;
    const char16_t *m_end;
};

// Folds four ASCII units packed in a word at once: 'A'..'Z' gain 0x20. Each
// 16-bit lane holds less than 0x80, so the additions never carry into the
// next lane.
constexpr quint64 foldAsciiWord(quint64 word)
{
    const quint64 fromA = word + 0x003f003f003f003fULL; // lane >= 0x80 from 'A' on
    const quint64 pastZ = word + 0x0025002500250025ULL; // lane >= 0x80 after 'Z'
    return word | ((fromA & ~pastZ & 0x0080008000800080ULL) >> 2);
}

using ascii_scan::isAscii;
using ascii_scan::loadWord;

// Hashes the folded text as a stream of words of four UTF-16 units, so texts
// that compare equal hash equal whichever way they were folded.
class UnitHash
{
public:
    void step(quint64 word)
    {
        m_h = (m_h ^ word) * 0x9e3779b97f4a7c15ULL;
        m_h ^= m_h >> 29;
    }

    // The length tells "a" from "a\0".
    size_t finish(size_t length)
    {
        step(length);
        m_h ^= m_h >> 33;
        m_h *= 0xff51afd7ed558ccdULL;
        m_h ^= m_h >> 33;
        return size_t(m_h);
    }

private:
    // Seeded per run, so a page cannot line its links up on one bucket.
    quint64 m_h = 0x243f6a8885a308d3ULL ^ quint64(QHashSeed::globalSeed());
};

// Nearly every address: four units per step, no Unicode tables. Gives up,
// returning false, at the first unit beyond ASCII.
bool asciiFoldedHash(QStringView text, size_t &hash)
{
    UnitHash hasher;
    const char16_t *units = text.utf16();
    const auto length = size_t(text.size());
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        const quint64 word = loadWord(units + i);
        if (!isAscii(word))
            return false;
        hasher.step(foldAsciiWord(word));
    }
    const quint64 word = loadWord(units + i, length - i);
    if (!isAscii(word))
        return false;
    hasher.step(foldAsciiWord(word));
    hash = hasher.finish(length);
    return true;
}

// Feeds the folded text through a word buffer, so the hash sees the same
// stream as for an ASCII text that folds alike.
size_t generalFoldedHash(QStringView text)
{
    UnitHash hasher;
    std::array<char16_t, 4> word{};
    size_t filled = 0;
    size_t length = 0;
    const auto put = [&](char16_t unit) {
        word[filled++] = unit;
        ++length;
        if (filled == 4) {
            hasher.step(loadWord(word.data()));
            filled = 0;
        }
    };
    for (FoldedReader reader(text); !reader.atEnd();) {
        const char32_t c = reader.next();
        if (QChar::requiresSurrogates(c)) {
            put(QChar::highSurrogate(c));
            put(QChar::lowSurrogate(c));
        } else {
            put(char16_t(c));
        }
    }
    hasher.step(loadWord(word.data(), filled));
    return hasher.finish(length);
}

size_t foldedHash(QStringView text)
{
    size_t hash = 0;
    return asciiFoldedHash(text, hash) ? hash : generalFoldedHash(text);
}

// 1 or 0 when two ASCII texts are known equal or not; -1 when either has a
// unit beyond ASCII before a difference shows.
int asciiFoldedEqual(QStringView a, QStringView b)
{
    const auto length = size_t(a.size());
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        const quint64 x = loadWord(a.utf16() + i);
        const quint64 y = loadWord(b.utf16() + i);
        if (!isAscii(x | y))
            return -1;
        if (foldAsciiWord(x) != foldAsciiWord(y))
            return 0;
    }
    const quint64 x = loadWord(a.utf16() + i, length - i);
    const quint64 y = loadWord(b.utf16() + i, length - i);
    if (!isAscii(x | y))
        return -1;
    return foldAsciiWord(x) == foldAsciiWord(y) ? 1 : 0;
}

bool foldedEqual(QStringView a, QStringView b)
{
    if (a.size() == b.size()) {
        const int ascii = asciiFoldedEqual(a, b);
        if (ascii >= 0)
            return ascii == 1;
    }
    // A text with other characters may still fold to ASCII (the Kelvin sign
    // folds to k), so its length proves nothing; it takes the long way.
    FoldedReader x(a);
    FoldedReader y(b);
    while (!x.atEnd() && !y.atEnd()) {
        if (x.next() != y.next())
            return false;
    }
    return x.atEnd() && y.atEnd();
}

size_t exactHash(QStringView text)
{
    UnitHash hasher;
    const char16_t *units = text.utf16();
    const auto length = size_t(text.size());
    size_t i = 0;
    for (; i + 4 <= length; i += 4)
        hasher.step(loadWord(units + i));
    hasher.step(loadWord(units + i, length - i));
    return hasher.finish(length);
}

void prefetch([[maybe_unused]] const void *address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#endif
}

} // namespace

// Two passes, each fetching ahead of itself, because the work waits on memory
// more than it computes: every item lives in a block of its own, and the
// table is too big for the caches. A hash set of QString keys took three
// times as long.
QList<qsizetype> duplicateIndexes(const QStringList &items, Compare compare)
{
    const bool ignoreCase = compare == Compare::IgnoreCase;
    const qsizetype count = items.size();
    constexpr qsizetype ahead = 8;

    std::vector<size_t> hashes(size_t(count), 0);
    for (qsizetype i = 0; i < count; ++i) {
        if (i + ahead < count) {
            const QStringView next(items.at(i + ahead));
            prefetch(next.utf16());
            // Only inside the text: a null one has no address to add to.
            if (next.size() > 32)
                prefetch(next.utf16() + 32);
        }
        const QStringView text(items.at(i));
        hashes[size_t(i)] = ignoreCase ? foldedHash(text) : exactHash(text);
    }

    // Open addressing, at most half full.
    struct Slot
    {
        size_t hash;
        qsizetype index; // -1: empty
    };
    size_t capacity = 16;
    while (capacity < 2 * size_t(count))
        capacity *= 2;
    const size_t mask = capacity - 1;
    std::vector<Slot> table(capacity, Slot{0, -1});

    QList<qsizetype> duplicates;
    for (qsizetype i = 0; i < count; ++i) {
        if (i + ahead < count)
            prefetch(&table[hashes[size_t(i + ahead)] & mask]);
        const size_t hash = hashes[size_t(i)];
        for (size_t at = hash & mask;; at = (at + 1) & mask) {
            Slot &slot = table[at];
            if (slot.index < 0) {
                slot = Slot{hash, i};
                break;
            }
            if (slot.hash == hash) {
                const QStringView earlier(items.at(slot.index));
                const QStringView text(items.at(i));
                if (ignoreCase ? foldedEqual(earlier, text) : earlier == text) {
                    duplicates.append(i);
                    break;
                }
            }
        }
    }
    return duplicates;
}

struct Seen::Table
{
    struct Hash
    {
        bool ignoreCase;
        size_t operator()(const QString &text) const { return ignoreCase ? foldedHash(text) : exactHash(text); }
    };
    struct Equal
    {
        bool ignoreCase;
        bool operator()(const QString &a, const QString &b) const { return ignoreCase ? foldedEqual(a, b) : a == b; }
    };
    explicit Table(bool ignoreCase) : items(0, Hash{ignoreCase}, Equal{ignoreCase}) {}
    std::unordered_set<QString, Hash, Equal> items;
};

Seen::Seen(Compare compare) : m_table(std::make_unique<Table>(compare == Compare::IgnoreCase)) {}

Seen::~Seen() = default;

bool Seen::add(const QString &item)
{
    return m_table->items.insert(item).second;
}

} // namespace remove_dups
