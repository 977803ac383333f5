#include "cli/output.h"

#include "core/save_file.h"

namespace cli {

QByteArray jsonString(QStringView text)
{
    static constexpr char hex[] = "0123456789abcdef";
    const auto escapeUnit = [](QByteArray &out, char16_t unit) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += hex[(unit >> shift) & 0xF];
    };
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    qsizetype plainFrom = 0; // the run of units that need no escape
    const auto flush = [&](qsizetype end) {
        if (end > plainFrom)
            out += text.mid(plainFrom, end - plainFrom).toUtf8();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'"' || c == u'\\' || c < 0x20) {
            flush(i);
            if (c == u'"' || c == u'\\') {
                out += '\\';
                out += char(c);
            } else if (c == u'\n') {
                out += "\\n";
            } else if (c == u'\t') {
                out += "\\t";
            } else if (c == u'\r') {
                out += "\\r";
            } else {
                escapeUnit(out, c);
            }
            plainFrom = i + 1;
        } else if (c == 0xFEFF || c == 0x2028 || c == 0x2029) {
            // A byte-order mark some parsers drop, and the line ends of
            // JavaScript: escaped, so every reader gets them back.
            flush(i);
            escapeUnit(out, c);
            plainFrom = i + 1;
        } else if (QChar::isSurrogate(c)) {
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                ++i;
                continue;
            }
            flush(i);
            escapeUnit(out, c);
            plainFrom = i + 1;
        }
    }
    flush(text.size());
    out += '"';
    return out;
}

QByteArray formatted(const PageOutcome &outcome, Format format)
{
    QByteArray out;
    switch (format) {
    case Format::Lines:
    case Format::Null: {
        const char end = format == Format::Lines ? '\n' : '\0';
        for (const QString &link : outcome.links) {
            out += link.toUtf8();
            out += end;
        }
        return out;
    }
    case Format::Gb18030:
        return outcome.links.isEmpty() ? QByteArray() : save_file::encodeLines(outcome.links);
    case Format::Json:
        break;
    }
    const QByteArray page = "{\"page\":" + jsonString(outcome.page);
    const QByteArray url = ",\"url\":" + jsonString(outcome.url) + ",\"href\":";
    for (qsizetype i = 0; i < outcome.links.size(); ++i) {
        out += page;
        out += url;
        out += jsonString(outcome.links.at(i));
        out += ",\"index\":";
        out += QByteArray::number(i < outcome.positions.size() ? outcome.positions.at(i) : i);
        if (i < outcome.details.size()) {
            const LinkDetails &details = outcome.details.at(i);
            out += ",\"text\":";
            out += jsonString(details.text);
            out += details.area ? ",\"element\":\"area\"" : ",\"element\":\"a\"";
            if (!details.frame.isEmpty()) {
                out += ",\"frame\":";
                out += jsonString(details.frame);
            }
            if (details.inShadowTree)
                out += ",\"shadow\":true";
        }
        out += "}\n";
    }
    if (outcome.failed())
        out +=
            page + ",\"error\":" + jsonString(outcome.error) + (outcome.cut.isEmpty() ? "" : ",\"cut\":true") + "}\n";
    else if (!outcome.cut.isEmpty())
        out += page + ",\"error\":" + jsonString(outcome.cut) + ",\"cut\":true}\n";
    return out;
}

} // namespace cli
