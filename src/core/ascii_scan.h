#pragma once

#include <QStringView>
#include <QtGlobal>

#include <cstring>

// Nearly every address is printable ASCII, so texts are read four UTF-16
// units at a time, packed in a word with the first unit in the low lane.
// Once a word passes isAscii, additions on its lanes never carry over.
namespace ascii_scan {

// count units (at most four) as a word; the lanes past them are zero.
inline quint64 loadWord(const char16_t *units, size_t count = 4)
{
    quint64 word = 0;
    // A null text has no units, and memcpy from null is undefined even for
    // no bytes.
    if (count != 0)
        std::memcpy(&word, units, count * sizeof(char16_t));
    return word;
}

constexpr bool isAscii(quint64 word)
{
    return (word & 0xff80ff80ff80ff80ULL) == 0;
}

// Every lane from 0x20 to 0x7E: a lane + 0x60 reaches 0x80 exactly from 0x20
// on, and + 1 reaches it only for DEL.
constexpr bool isPrintable(quint64 word)
{
    constexpr quint64 lanes80 = 0x0080008000800080ULL;
    return isAscii(word) && ((word + 0x0060006000600060ULL) & lanes80) == lanes80
        && ((word + 0x0001000100010001ULL) & lanes80) == 0;
}

// Hands take(word, index of its first unit) the whole words of text in order
// until it returns false. Returns where that word, or else the last fewer
// than four units, begins: from there on the caller reads unit by unit.
template <typename Take>
size_t takeWords(QStringView text, Take &&take)
{
    const char16_t *units = text.utf16();
    const auto length = size_t(text.size());
    size_t at = 0;
    while (at + 4 <= length && take(loadWord(units + at), at))
        at += 4;
    return at;
}

} // namespace ascii_scan
