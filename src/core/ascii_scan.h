#pragma once

#include <QStringView>
#include <QtGlobal>

#include <cstddef>
#include <cstring>

// Nearly every address is printable ASCII, so texts are read four UTF-16
// units at a time, packed in one word with the first unit in the low lane.
// Each lane holds less than 0x80 once a word passes isAscii, so additions
// on it never carry into the next lane.
namespace ascii_scan {

// count units (at most four) as a word; the lanes past them are zero.
inline quint64 loadWord(const char16_t *units, size_t count = 4)
{
    quint64 word = 0;
    // A null text has no units at all, and memcpy from null is undefined
    // even for no bytes.
    if (count != 0)
        std::memcpy(&word, units, count * sizeof(char16_t));
    return word;
}

constexpr bool isAscii(quint64 word)
{
    return (word & 0xff80ff80ff80ff80ULL) == 0;
}

// Every lane from 0x20 to 0x7E: no control, no DEL.
constexpr bool isPrintable(quint64 word)
{
    // Each lane + 0x60 reaches 0x80 exactly from 0x20 on, and + 1 reaches it
    // only for DEL.
    constexpr quint64 lanes80 = 0x0080008000800080ULL;
    return isAscii(word) && ((word + 0x0060006000600060ULL) & lanes80) == lanes80
        && ((word + 0x0001000100010001ULL) & lanes80) == 0;
}

// Hands take(word, at) each whole word of text in order, at being the index
// of its first unit, until take returns false. Returns the index where that
// happened, or where the last fewer than four units begin: the units from
// there on are the caller's to read one by one.
template <typename Take>
size_t takeWords(QStringView text, Take &&take)
{
    const char16_t *units = text.utf16();
    const auto length = size_t(text.size());
    size_t at = 0;
    for (; at + 4 <= length; at += 4) {
        if (!take(loadWord(units + at), at))
            break;
    }
    return at;
}

} // namespace ascii_scan
