#include "links/remove_dups.h"

#include <QHash>
#include <QSet>

#include <array>
#include <cstring>

namespace links {

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
    explicit FoldedReader(QStringView text)
        : m_p(text.utf16()), m_end(text.utf16() + text.size())
    {
    }

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

// Hashes a stream of UTF-16 units four at a time. Its input is the folded
// text, so texts that compare equal hash equal whatever path produced it.
// Folds four ASCII units packed in a word at once: 'A'..'Z' gain 0x20. Each
// 16-bit lane holds less than 0x80, so the additions never carry into the
// next lane.
constexpr quint64 foldAsciiWord(quint64 word)
{
    const quint64 fromA = word + 0x003f003f003f003fULL; // lane >= 0x80 from 'A' on
    const quint64 pastZ = word + 0x0025002500250025ULL; // lane >= 0x80 after 'Z'
    return word | ((fromA & ~pastZ & 0x0080008000800080ULL) >> 2);
}

quint64 loadWord(const char16_t *units, size_t count = 4)
{
    quint64 word = 0;
    std::memcpy(&word, units, count * sizeof(char16_t));
    return word;
}

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
    quint64 m_h = 0x243f6a8885a308d3ULL;
};

bool isAscii(QStringView text)
{
    char16_t bits = 0;
    const char16_t *units = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i)
        bits |= units[i];
    return bits < 0x80;
}

// An item as a key that ignores letter case; the hash is computed once.
struct FoldedKey
{
    explicit FoldedKey(QStringView text)
        : text(text), ascii(isAscii(text)), hash(ascii ? asciiHash(text) : generalHash(text))
    {
    }

    // Nearly every address: four units per step, no Unicode tables.
    static size_t asciiHash(QStringView text)
    {
        UnitHash hasher;
        const char16_t *units = text.utf16();
        const auto length = size_t(text.size());
        size_t i = 0;
        for (; i + 4 <= length; i += 4)
            hasher.step(foldAsciiWord(loadWord(units + i)));
        hasher.step(foldAsciiWord(loadWord(units + i, length - i)));
        return hasher.finish(length);
    }

    static size_t generalHash(QStringView text)
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

    friend bool operator==(const FoldedKey &a, const FoldedKey &b)
    {
        if (a.hash != b.hash)
            return false;
        if (a.ascii && b.ascii) {
            if (a.text.size() != b.text.size())
                return false;
            const char16_t *x = a.text.utf16();
            const char16_t *y = b.text.utf16();
            const auto length = size_t(a.text.size());
            size_t i = 0;
            for (; i + 4 <= length; i += 4) {
                if (foldAsciiWord(loadWord(x + i)) != foldAsciiWord(loadWord(y + i)))
                    return false;
            }
            return foldAsciiWord(loadWord(x + i, length - i)) == foldAsciiWord(loadWord(y + i, length - i));
        }
        // A text with other characters may still fold to ASCII (the Kelvin
        // sign folds to k), so mixed pairs take the long way.
        FoldedReader x(a.text);
        FoldedReader y(b.text);
        while (!x.atEnd() && !y.atEnd()) {
            if (x.next() != y.next())
                return false;
        }
        return x.atEnd() && y.atEnd();
    }

    friend size_t qHash(const FoldedKey &key, size_t seed) { return key.hash ^ seed; }

    QStringView text;
    bool ascii;
    size_t hash;
};

template <typename Key>
QList<qsizetype> repeats(const QStringList &items)
{
    QList<qsizetype> duplicates;
    QSet<Key> seen;
    seen.reserve(items.size());
    for (qsizetype i = 0; i < items.size(); ++i) {
#if defined(__GNUC__)
        // Every item lives in its own block of memory, and the scan waits on
        // memory more than it computes: ask for items ahead early.
        if (i + 8 < items.size()) {
            const char16_t *ahead = QStringView(items.at(i + 8)).utf16();
            __builtin_prefetch(ahead);
            __builtin_prefetch(ahead + 32);
        }
#endif
        const qsizetype before = seen.size();
        seen.insert(Key(items.at(i)));
        if (seen.size() == before)
            duplicates.append(i);
    }
    return duplicates;
}

} // namespace

QList<qsizetype> duplicateIndexes(const QStringList &items, int comptype)
{
    // The keys are views into items, which outlive the set.
    if (comptype == 0)
        return repeats<FoldedKey>(items);
    return repeats<QStringView>(items);
}

} // namespace links
