#include "core/harvest.h"

#include "core/ascii_scan.h"

#include <algorithm>
#include <numeric>

namespace harvest {

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || c == 0x7F;
}

// True when text holds a C0 control, DEL or half a surrogate pair. Printable
// ASCII, nearly every address, is passed over four units at a time.
bool needsMending(QStringView text)
{
    const char16_t *units = text.utf16();
    const auto length = size_t(text.size());
    size_t i = ascii_scan::takeWords(text, [](quint64 word, size_t) { return ascii_scan::isPrintable(word); });
    for (; i < length; ++i) {
        const char16_t c = units[i];
        if (isControl(c))
            return true;
        if (QChar::isSurrogate(c)) {
            if (!QChar::isHighSurrogate(c) || i + 1 == length || !QChar::isLowSurrogate(units[i + 1]))
                return true;
            ++i;
        }
    }
    return false;
}

// Half a surrogate pair becomes U+FFFD only when mendSurrogates is set.
QString encoded(QStringView text, bool mendSurrogates)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (isControl(c)) {
            out += QLatin1Char('%');
            out += QLatin1Char(hex[c >> 4]);
            out += QLatin1Char(hex[c & 0xF]);
        } else if (!mendSurrogates || !QChar::isSurrogate(c)) {
            out += QChar(c);
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += QChar(c);
            out += text.at(++i);
        } else {
            out += QChar(QChar::ReplacementCharacter);
        }
    }
    return out;
}

} // namespace

QString safeItem(const QString &href)
{
    return needsMending(href) ? encoded(href, true) : href;
}

QString encodeControls(const QString &text)
{
    return encoded(text, false);
}

QStringList keptAnchors(const QStringList &anchors, const QString &filter, Qt::CaseSensitivity filterCase,
                        QList<qsizetype> *positions)
{
    if (positions)
        positions->clear();
    // The usual case keeps everything as it came: share the list rather than
    // copy it, which would touch every one of a big page's strings.
    if (filter.isEmpty() && std::none_of(anchors.cbegin(), anchors.cend(), [](const QString &href) {
            return href.isEmpty() || needsMending(href);
        })) {
        if (positions) {
            positions->resize(anchors.size());
            std::iota(positions->begin(), positions->end(), qsizetype(0));
        }
        return anchors;
    }
    QStringList kept;
    kept.reserve(anchors.size());
    for (qsizetype i = 0; i < anchors.size(); ++i) {
        const QString &href = anchors.at(i);
        if (href.isEmpty())
            continue;
        // The filter sees what the list shows and the file holds.
        QString item = safeItem(href);
        if (filter.isEmpty() || item.contains(filter, filterCase)) {
            kept.append(std::move(item));
            if (positions)
                positions->append(i);
        }
    }
    return kept;
}

} // namespace harvest
