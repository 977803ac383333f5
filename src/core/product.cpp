#include "core/product.h"

#include "velmora_config.h"

#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <numeric>
#include <string_view>

namespace product {

namespace {

constexpr bool isAscii(std::string_view text)
{
    return std::ranges::all_of(text, [](char c) { return static_cast<unsigned char>(c) <= 0x7F; });
}

// The caption spells the host name through ASCII codes, and the version
// record repeats it verbatim; an IDN must be given in its punycode form.
static_assert(isAscii(VELMORA_VENDOR_HOST), "VELMORA_VENDOR_HOST must be ASCII");

QString host()
{
    return QString::fromLatin1(VELMORA_VENDOR_HOST);
}

} // namespace

QString chr936(qint16 code)
{
    if (code >= 0 && code <= 0x7F)
        return {QChar(code)};

    const auto value = static_cast<quint16>(code);
    QByteArray bytes;
    if (value > 0xFF)
        bytes.append(static_cast<char>(value >> 8));
    bytes.append(static_cast<char>(value & 0xFF));

    // A fresh decoder per call: a lone lead byte must not carry over into the
    // next character.
    QStringDecoder decoder("GB18030");
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.size() != 1)
        return {QChar::ReplacementCharacter};
    return text;
}

QString composeCaption()
{
    constexpr qint16 ke = -16442; // 科 0xBFC6
    constexpr qint16 ji = -17220; // 技 0xBCBC

    QList<qint16> codes;
    const auto addAscii = [&codes](std::string_view text) {
        for (const char c : text)
            codes.append(static_cast<qint16>(c));
    };
    addAscii("Ardentis");
    codes.append(ke);
    codes.append(ji);
    addAscii("-");
    addAscii("Velmora");
    addAscii("V1.1(");
    addAscii(VELMORA_VENDOR_HOST);
    addAscii(")");

    // A left fold: the first piece, the second appended to it, and so on.
    return std::accumulate(codes.cbegin(), codes.cend(), QString(),
                           [](QString text, qint16 code) { return std::move(text) + chr936(code); });
}

QString aboutText()
{
    const QString crlf2 = QStringLiteral("\r\n\r\n");
    return QStringLiteral("Ardentis软件科技〖") + host() + QStringLiteral("〗         ") + crlf2
        + QStringLiteral("联系QQ：") + QString::fromUtf8(VELMORA_CONTACT_QQ) + crlf2
        + QStringLiteral("软件名称：Velmora免费版") + crlf2 + QStringLiteral("软件版本：V1.1");
}

QString aboutTitle()
{
    return QStringLiteral("说明 ");
}

QString homePageUrl(bool trailingSlash)
{
    QString url = QStringLiteral("http://") + host();
    if (trailingSlash)
        url += u'/';
    return url;
}

} // namespace product
