#include "core/address.h"

#include "core/harvest.h"

namespace address {

namespace {
bool isBlank(QChar c)
{
    return c == QChar(0x0020) || c == QChar(0x3000);
}

// Units a character takes once its controls are encoded.
qsizetype quotedWidth(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7F ? 3 : 1;
}
} // namespace

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

Verdict check(const QString &trimmed)
{
    if (!trimmed.startsWith(QLatin1String("http://"), Qt::CaseSensitive))
        return Verdict::BadPrefix;
    if (trimmed.size() < minimumLength)
        return Verdict::TooShort;
    if (trimmed.size() > maximumLength)
        return Verdict::TooLong;
    return Verdict::Ok;
}

QString elided(QStringView address)
{
    if (address.size() <= quotedLength) {
        qsizetype width = 0;
        for (QChar c : address)
            width += quotedWidth(c);
        if (width <= quotedLength)
            return harvest::encodeControls(address.toString());
    }
    const qsizetype headRoom = (quotedLength - 1) / 2;
    const qsizetype tailRoom = quotedLength - 1 - headRoom;
    qsizetype head = 0;
    for (qsizetype width = 0; head < address.size() && width + quotedWidth(address.at(head)) <= headRoom; ++head)
        width += quotedWidth(address.at(head));
    if (head > 0 && address.at(head - 1).isHighSurrogate() && head < address.size()
        && address.at(head).isLowSurrogate())
        --head;
    qsizetype tail = address.size();
    for (qsizetype width = 0; tail > head && width + quotedWidth(address.at(tail - 1)) <= tailRoom; --tail)
        width += quotedWidth(address.at(tail - 1));
    if (tail < address.size() && address.at(tail).isLowSurrogate() && tail > head
        && address.at(tail - 1).isHighSurrogate())
        ++tail;
    return harvest::encodeControls(address.left(head).toString()) + QChar(0x2026)
        + harvest::encodeControls(address.mid(tail).toString());
}

QString message(Verdict verdict)
{
    switch (verdict) {
    case Verdict::BadPrefix:
        return QString::fromUtf16(u"输入链接格式错误，应“http://”开头！  ");
    case Verdict::TooShort:
    case Verdict::TooLong:
        return QString::fromUtf16(u"输入链接错误！  ");
    case Verdict::Ok:
        break;
    }
    return {};
}

} // namespace address
