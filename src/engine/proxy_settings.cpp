#include "engine/proxy_settings.h"

#include <QCoreApplication>
#include <QHash>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace engine {

namespace {

struct Variable
{
    QString name; // as found, for the warnings
    QString value;
};

// Lower case wins; a blank value counts as unset, so the other case or
// all_proxy still applies.
Variable variable(const QProcessEnvironment &environment, const QString &lower, QStringList *warnings)
{
    const QString lowerValue = environment.value(lower).trimmed();
    if (!lowerValue.isEmpty())
        return {lower, lowerValue};
    const QString upper = lower.toUpper();
    const QString upperValue = environment.value(upper).trimmed();
    if (upperValue.isEmpty())
        return {};
    // Under CGI a request's "Proxy:" header arrives as HTTP_PROXY (httpoxy):
    // whoever sends the request would pick our proxy.
    if (upper == QLatin1String("HTTP_PROXY") && environment.contains(QStringLiteral("REQUEST_METHOD"))) {
        warnings->append(
            QCoreApplication::translate("engine",
                                        "设置了 REQUEST_METHOD（CGI 环境），HTTP_PROXY 可能来自请求头，已忽略；"
                                        "请改用小写的 http_proxy。"));
        return {};
    }
    return {upper, upperValue};
}

// Letters, digits, '-', '_' and dots only: anything else (';', ',', '=', '*')
// would change the meaning of Chromium's switch.
bool isHostName(const QString &host)
{
    if (host.isEmpty() || host.startsWith(QLatin1Char('.')) || host.contains(QLatin1String("..")))
        return false;
    return std::all_of(host.cbegin(), host.cend(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_' || c == u'.';
    });
}

bool isIpv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    return parts.size() == 4 && std::all_of(parts.cbegin(), parts.cend(), [](const QString &part) {
               bool ok = false;
               return part.size() <= 3 && part.toInt(&ok) <= 255 && ok && !part.startsWith(u'+');
           });
}

// The canonical form of an IPv6 address (as QUrl writes it), or empty.
QString ipv6(const QString &text)
{
    const bool plausible =
        text.contains(QLatin1Char(':')) && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
            return c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f') || c == u':' || c == u'.';
        });
    const QUrl url(QStringLiteral("http://[") + text + QStringLiteral("]/"), QUrl::StrictMode);
    return plausible && url.isValid() ? url.host() : QString();
}

// A host as Chromium's rules write it: lower case, IDN in ACE, IPv6 in
// brackets; empty when it is none of these.
QString ruleHost(const QString &host)
{
    if (host.contains(QLatin1Char(':'))) {
        const QString address = ipv6(host);
        return address.isEmpty() ? QString() : QLatin1Char('[') + address + QLatin1Char(']');
    }
    const QString ace = QString::fromLatin1(QUrl::toAce(host)).toLower();
    return isHostName(ace) ? ace : QString();
}

// An address block as Chromium reads it (address/prefix length), or empty.
QString cidrBlock(const QString &text)
{
    const QString address = text.section(QLatin1Char('/'), 0, 0);
    const QString length = text.section(QLatin1Char('/'), 1);
    bool ok = false;
    const int bits = length.toInt(&ok);
    if (!ok || bits < 0 || length.startsWith(u'+') || length.startsWith(u'-'))
        return {};
    if (isIpv4(address) && bits <= 32)
        return address + QLatin1Char('/') + length;
    const QString v6 = ipv6(address);
    if (!v6.isEmpty() && bits <= 128)
        return v6 + QLatin1Char('/') + length;
    return {};
}

bool isPort(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port > 0 && port <= 65535 && !text.startsWith(QLatin1Char('+'));
}

// One proxy address as Chromium's proxy rules write it, or nothing when the
// value is no proxy address Chromium can use.
std::optional<QString> chromiumProxy(const QString &value, bool *credentials)
{
    const bool schemeGiven = value.contains(QLatin1String("://"));
    const QUrl url(schemeGiven ? value : QStringLiteral("http://") + value, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    // curl's names; Chromium's SOCKS5 always lets the proxy resolve names,
    // and "socks" is SOCKS4 to both.
    static const QHash<QString, QString> schemes{
        {QStringLiteral("http"), QStringLiteral("http")},      {QStringLiteral("https"), QStringLiteral("https")},
        {QStringLiteral("socks"), QStringLiteral("socks4")},   {QStringLiteral("socks4"), QStringLiteral("socks4")},
        {QStringLiteral("socks4a"), QStringLiteral("socks4")}, {QStringLiteral("socks5"), QStringLiteral("socks5")},
        {QStringLiteral("socks5h"), QStringLiteral("socks5")},
    };
    const auto scheme = schemes.constFind(url.scheme().toLower());
    const QString host = ruleHost(url.host());
    if (scheme == schemes.cend() || host.isEmpty() || url.port() == 0)
        return std::nullopt;
    *credentials = !url.userInfo().isEmpty();
    QString proxy = *scheme + QLatin1String("://") + host;
    if (url.port() > 0)
        proxy += QLatin1Char(':') + QString::number(url.port());
    return proxy;
}

// A proxy variable read once, with its warnings.
std::optional<QString> proxyOf(const Variable &variable, QStringList *warnings)
{
    if (variable.value.isEmpty())
        return std::nullopt;
    bool credentials = false;
    const std::optional<QString> proxy = chromiumProxy(variable.value, &credentials);
    if (!proxy) {
        warnings->append(
            QCoreApplication::translate("engine",
                                        "%1 的值不是可用的代理地址（应为 http://主机:端口，或 https://、socks4://、"
                                        "socks5:// 开头），已忽略。")
                .arg(variable.name));
    } else if (credentials) {
        warnings->append(QCoreApplication::translate("engine",
                                                     "%1 中的用户名和密码没有交给 Chromium（它的命令行人人可见）；"
                                                     "代理若要求登录，网页将无法通过它打开。")
                             .arg(variable.name));
    }
    return proxy;
}

// One no_proxy entry as bypass rules, curl's way: a domain stands for itself
// and its subdomains, with or without a leading dot; "*.domain" for its
// subdomains only, as Chromium reads it. Empty when it is none of these.
QStringList bypassRules(const QString &entry)
{
    if (entry.contains(QLatin1Char('/'))) {
        const QString block = cidrBlock(entry);
        return block.isEmpty() ? QStringList() : QStringList{block};
    }
    QString host = entry;
    QString port;
    if (entry.startsWith(QLatin1Char('['))) {
        const qsizetype close = entry.indexOf(QLatin1Char(']'));
        if (close < 0)
            return {};
        host = entry.mid(1, close - 1);
        port = entry.mid(close + 1);
        if (!host.contains(QLatin1Char(':')))
            return {};
    } else if (entry.count(QLatin1Char(':')) == 1) {
        host = entry.section(QLatin1Char(':'), 0, 0);
        port = entry.mid(host.size());
    }
    if (!port.isEmpty() && !(port.startsWith(QLatin1Char(':')) && isPort(port.mid(1))))
        return {};

    const bool subdomainsOnly = host.startsWith(QLatin1String("*."));
    if (subdomainsOnly)
        host = host.mid(2);
    else if (host.startsWith(QLatin1Char('.')))
        host = host.mid(1);
    host = ruleHost(host);
    if (host.isEmpty())
        return {};
    if (host.startsWith(QLatin1Char('[')) || isIpv4(host))
        return subdomainsOnly ? QStringList() : QStringList{host + port};
    const QString subdomains = QLatin1String("*.") + host + port;
    return subdomainsOnly ? QStringList{subdomains} : QStringList{host + port, subdomains};
}

} // namespace

ProxySettings proxySettings(const QProcessEnvironment &environment)
{
    ProxySettings settings;
    const Variable noProxy = variable(environment, QStringLiteral("no_proxy"), &settings.warnings);
    QStringList entries;
    for (const QString &entry : noProxy.value.split(QLatin1Char(','))) {
        if (!entry.trimmed().isEmpty())
            entries.append(entry.trimmed());
    }
    if (entries.contains(QStringLiteral("*")))
        return {};

    const std::optional<QString> fallback =
        proxyOf(variable(environment, QStringLiteral("all_proxy"), &settings.warnings), &settings.warnings);
    QStringList rules;
    for (const QString &scheme : {QStringLiteral("http"), QStringLiteral("https")}) {
        const Variable own = variable(environment, scheme + QLatin1String("_proxy"), &settings.warnings);
        const std::optional<QString> proxy = proxyOf(own, &settings.warnings);
        if (proxy || fallback)
            rules.append(scheme + QLatin1Char('=') + (proxy ? *proxy : *fallback));
    }
    if (rules.isEmpty())
        return settings;

    // Chromium never proxies loopback unless told to; curl and wget do unless
    // no_proxy names it. These are their variables, so their users' no_proxy
    // decides: a debugging proxy sees a local test site, and the usual
    // no_proxy=localhost,127.0.0.1 keeps it direct.
    QStringList bypass{QStringLiteral("<-loopback>")};
    QStringList ignored;
    for (const QString &entry : std::as_const(entries)) {
        const QStringList entryRules = bypassRules(entry);
        if (entryRules.isEmpty())
            ignored.append(entry);
        bypass += entryRules;
    }
    if (!ignored.isEmpty()) {
        settings.warnings.append(
            QCoreApplication::translate("engine", "%1 中的“%2”不是主机名、IP 地址或网段，已忽略。")
                .arg(noProxy.name,
                     ignored.join(QCoreApplication::translate("engine", "”、“", "between quoted entries"))));
    }
    settings.switches = {QStringLiteral("--proxy-server=") + rules.join(QLatin1Char(';')),
                         QStringLiteral("--proxy-bypass-list=") + bypass.join(QLatin1Char(';'))};
    return settings;
}

} // namespace engine
