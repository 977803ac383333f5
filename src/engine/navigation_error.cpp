#include "engine/navigation_error.h"

#include "core/address.h"

#include <QCoreApplication>
#include <QHash>

namespace engine {

namespace {

QString explanation(const QString &code)
{
    // Texts marked for translation here, translated at each lookup.
    static const QHash<QString, const char *> known{
        {QStringLiteral("ERR_CONNECTION_REFUSED"),
         QT_TRANSLATE_NOOP("engine", "服务器拒绝了连接，该端口上可能没有运行网站")},
        {QStringLiteral("ERR_NAME_NOT_RESOLVED"),
         QT_TRANSLATE_NOOP("engine", "无法解析该主机名，请检查地址是否拼写正确")},
        {QStringLiteral("ERR_NAME_RESOLUTION_FAILED"), QT_TRANSLATE_NOOP("engine", "域名解析失败，请检查网络连接")},
        {QStringLiteral("ERR_UNSAFE_PORT"), QT_TRANSLATE_NOOP("engine", "该端口被浏览器视为不安全端口，禁止访问")},
        {QStringLiteral("ERR_HTTP_RESPONSE_CODE_FAILURE"),
         QT_TRANSLATE_NOOP("engine", "服务器返回了错误状态，且没有页面内容")},
        {QStringLiteral("ERR_INVALID_URL"), QT_TRANSLATE_NOOP("engine", "地址格式无效")},
        {QStringLiteral("ERR_CONNECTION_RESET"), QT_TRANSLATE_NOOP("engine", "连接被服务器重置")},
        {QStringLiteral("ERR_CONNECTION_CLOSED"), QT_TRANSLATE_NOOP("engine", "服务器意外关闭了连接")},
        {QStringLiteral("ERR_EMPTY_RESPONSE"), QT_TRANSLATE_NOOP("engine", "服务器没有返回任何数据")},
        {QStringLiteral("ERR_CONNECTION_TIMED_OUT"), QT_TRANSLATE_NOOP("engine", "连接服务器超时")},
        {QStringLiteral("ERR_TIMED_OUT"), QT_TRANSLATE_NOOP("engine", "操作超时")},
        {QStringLiteral("ERR_ADDRESS_UNREACHABLE"), QT_TRANSLATE_NOOP("engine", "无法到达该地址")},
        {QStringLiteral("ERR_INTERNET_DISCONNECTED"), QT_TRANSLATE_NOOP("engine", "网络未连接")},
        {QStringLiteral("ERR_TOO_MANY_REDIRECTS"), QT_TRANSLATE_NOOP("engine", "网页重定向次数过多")},
        {QStringLiteral("ERR_UNSAFE_REDIRECT"),
         QT_TRANSLATE_NOOP("engine", "网页重定向到了不允许打开的地址（如本机文件）")},
        {QStringLiteral("ERR_INVALID_RESPONSE"), QT_TRANSLATE_NOOP("engine", "服务器的响应无效")},
        {QStringLiteral("ERR_INVALID_HTTP_RESPONSE"), QT_TRANSLATE_NOOP("engine", "服务器的响应不是有效的 HTTP")},
        {QStringLiteral("ERR_BLOCKED_BY_RESPONSE"), QT_TRANSLATE_NOOP("engine", "服务器的响应头禁止显示该网页")},
        {QStringLiteral("ERR_ABORTED"), QT_TRANSLATE_NOOP("engine", "加载被中止")},
        {QStringLiteral("ERR_CERT_AUTHORITY_INVALID"),
         QT_TRANSLATE_NOOP("engine", "网站的安全证书不受信任（不是由受信任的机构签发，例如自签名证书）")},
        {QStringLiteral("ERR_CERT_COMMON_NAME_INVALID"),
         QT_TRANSLATE_NOOP("engine", "网站的安全证书与该地址的主机名不符")},
        {QStringLiteral("ERR_CERT_DATE_INVALID"),
         QT_TRANSLATE_NOOP("engine", "网站的安全证书已过期或尚未生效（也请检查本机的日期和时间）")},
        {QStringLiteral("ERR_CERT_REVOKED"), QT_TRANSLATE_NOOP("engine", "网站的安全证书已被吊销")},
        {QStringLiteral("ERR_PROXY_CONNECTION_FAILED"),
         QT_TRANSLATE_NOOP("engine", "无法连接代理服务器（由 http_proxy、https_proxy 或 all_proxy 设置）")},
        {QStringLiteral("ERR_TUNNEL_CONNECTION_FAILED"), QT_TRANSLATE_NOOP("engine", "代理服务器未能建立到网站的连接")},
        {QStringLiteral("ERR_PROXY_AUTH_UNSUPPORTED"),
         QT_TRANSLATE_NOOP("engine", "代理服务器要求登录；代理地址中的用户名和密码不会交给 Chromium")},
        {QStringLiteral("ERR_PROXY_AUTH_REQUESTED"),
         QT_TRANSLATE_NOOP("engine", "代理服务器要求登录；代理地址中的用户名和密码不会交给 Chromium")},
    };
    QString bare = code;
    if (bare.startsWith(QLatin1String("net::")))
        bare = bare.mid(5);
    const auto it = known.constFind(bare);
    if (it != known.cend())
        return QCoreApplication::translate("engine", *it);
    // ERR_CERT_* and ERR_CERTIFICATE_TRANSPARENCY_REQUIRED alike.
    if (bare.startsWith(QLatin1String("ERR_CERT")))
        return QCoreApplication::translate("engine", "网站的安全证书有问题");
    if (bare.startsWith(QLatin1String("ERR_SSL_")))
        return QCoreApplication::translate("engine", "与网站建立安全连接（TLS）失败");
    if (bare.startsWith(QLatin1String("ERR_PROXY_")) || bare.startsWith(QLatin1String("ERR_SOCKS_")))
        return QCoreApplication::translate("engine", "代理服务器出错");
    return QCoreApplication::translate("engine", "网页加载失败");
}

} // namespace

QString navigationErrorReason(const QString &url, const QString &errorText)
{
    return QCoreApplication::translate("engine", "无法打开网页 %1：%2（Chromium 错误代码 %3）。")
        .arg(address::elided(url), explanation(errorText), errorText);
}

QString downloadReason(const QString &url)
{
    return QCoreApplication::translate("engine",
                                       "地址 %1 指向的是一个下载文件，而不是网页，没有可提取的链接；该文件不会被下载。")
        .arg(address::elided(url));
}

} // namespace engine
