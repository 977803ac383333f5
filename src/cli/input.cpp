#include "cli/input.h"

#include <QCoreApplication>
#include <QUrl>

namespace cli {

QStringList addressList(const QByteArray &bytes)
{
    QStringList addresses;
    for (const QByteArray &line : bytes.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty() && !text.startsWith(u'#'))
            addresses.append(text);
    }
    return addresses;
}

QString refusal(const QString &trimmed)
{
    const qsizetype colon = trimmed.indexOf(u':');
    const QString scheme = trimmed.left(colon).toLower();
    if (colon <= 0 || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QCoreApplication::translate("cli", "only http:// and https:// addresses are read");
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !trimmed.mid(colon).startsWith(QLatin1String("://")))
        return QCoreApplication::translate("cli", "not a valid address");
    return {};
}

} // namespace cli
