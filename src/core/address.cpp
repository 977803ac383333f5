#include "core/address.h"

namespace address {

namespace {
bool isBlank(QChar c)
{
    return c == QChar(0x0020) || c == QChar(0x3000);
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
    return Verdict::Ok;
}

QString message(Verdict verdict)
{
    switch (verdict) {
    case Verdict::BadPrefix:
        return QString::fromUtf16(u"输入链接格式错误，应“http://”开头！  ");
    case Verdict::TooShort:
        return QString::fromUtf16(u"输入链接错误！  ");
    case Verdict::Ok:
        break;
    }
    return {};
}

} // namespace address
