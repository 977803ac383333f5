#pragma once

// Shared by the fuzz targets: how their bytes become texts, and the plain
// reference of the harvest's safe item.
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// The bytes are UTF-16LE code units, any of them (lone surrogates, NUL,
// CR, LF). U+FFFF ends an item. U+FFFE, a unit u and a unit n append u
// 2^(n % 11) times, or 2^(n % 21) for n from 0xF000 on: items of megabytes
// from a few bytes, but rarely, as they slow the fuzzer down a hundredfold.
// An odd last byte is ignored.
inline QStringList unitItems(const uint8_t *data, size_t size)
{
    QStringList items;
    QString item;
    const size_t count = size / 2;
    const auto unit = [&](size_t i) { return char16_t(data[2 * i] | (data[2 * i + 1] << 8)); };
    for (size_t i = 0; i < count; ++i) {
        const char16_t u = unit(i);
        if (u == 0xFFFF) {
            items.append(item);
            item.clear();
        } else if (u == 0xFFFE && i + 2 < count) {
            const char16_t n = unit(i + 2);
            item.append(QString(qsizetype(1) << (n >= 0xF000 ? n % 21 : n % 11), QChar(unit(i + 1))));
            i += 2;
        } else {
            item.append(QChar(u));
        }
    }
    items.append(item);
    return items;
}

// The safe item, one unit at a time: C0 controls and DEL as %XX, half a
// surrogate pair as U+FFFD, all else as it was.
inline QString referenceSafe(const QString &text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QLatin1String("%") + QLatin1Char(hex[c.unicode() / 16]) + QLatin1Char(hex[c.unicode() % 16]);
        else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            out += text.mid(i++, 2);
        else if (c.isSurrogate())
            out += QChar(QChar::ReplacementCharacter);
        else
            out += c;
    }
    return out;
}

} // namespace fuzz

// A failed check: libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);                        \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)
