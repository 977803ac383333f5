#include "engine/navigation_error.h"

#include <QHash>

namespace engine {

namespace {

QString explanation(const QString &code)
{
    static const QHash<QString, QString> known{
        {QStringLiteral("ERR_CONNECTION_REFUSED"), QStringLiteral("服务器拒绝了连接，该端口上可能没有运行网站")},
        {QStringLiteral("ERR_NAME_NOT_RESOLVED"), QStringLiteral("无法解析该主机名，请检查地址是否拼写正确")},
        {QStringLiteral("ERR_NAME_RESOLUTION_FAILED"), QStringLiteral("域名解析失败，请检查网络连接")},
        {QStringLiteral("ERR_UNSAFE_PORT"), QStringLiteral("该端口被浏览器视为不安全端口，禁止访问")},
        {QStringLiteral("ERR_HTTP_RESPONSE_CODE_FAILURE"), QStringLiteral("服务器返回了错误状态，且没有页面内容")},
        {QStringLiteral("ERR_INVALID_URL"), QStringLiteral("地址格式无效")},
        {QStringLiteral("ERR_CONNECTION_RESET"), QStringLiteral("连接被服务器重置")},
        {QStringLiteral("ERR_CONNECTION_CLOSED"), QStringLiteral("服务器意外关闭了连接")},
        {QStringLiteral("ERR_EMPTY_RESPONSE"), QStringLiteral("服务器没有返回任何数据")},
        {QStringLiteral("ERR_CONNECTION_TIMED_OUT"), QStringLiteral("连接服务器超时")},
        {QStringLiteral("ERR_TIMED_OUT"), QStringLiteral("操作超时")},
        {QStringLiteral("ERR_ADDRESS_UNREACHABLE"), QStringLiteral("无法到达该地址")},
        {QStringLiteral("ERR_INTERNET_DISCONNECTED"), QStringLiteral("网络未连接")},
        {QStringLiteral("ERR_TOO_MANY_REDIRECTS"), QStringLiteral("网页重定向次数过多")},
        {QStringLiteral("ERR_UNSAFE_REDIRECT"), QStringLiteral("网页重定向到了不允许打开的地址（如本机文件）")},
        {QStringLiteral("ERR_INVALID_RESPONSE"), QStringLiteral("服务器的响应无效")},
        {QStringLiteral("ERR_INVALID_HTTP_RESPONSE"), QStringLiteral("服务器的响应不是有效的 HTTP")},
        {QStringLiteral("ERR_BLOCKED_BY_RESPONSE"), QStringLiteral("服务器的响应头禁止显示该网页")},
        {QStringLiteral("ERR_ABORTED"), QStringLiteral("加载被中止")},
    };
    QString bare = code;
    if (bare.startsWith(QLatin1String("net::")))
        bare = bare.mid(5);
    const auto it = known.constFind(bare);
    if (it != known.cend())
        return *it;
    if (bare.startsWith(QLatin1String("ERR_CERT_")) || bare.startsWith(QLatin1String("ERR_SSL_")))
        return QStringLiteral("安全连接出错");
    return QStringLiteral("网页加载失败");
}

} // namespace

QString navigationErrorReason(const QString &url, const QString &errorText)
{
    return QStringLiteral("无法打开网页 %1：%2（Chromium 错误代码 %3）。").arg(url, explanation(errorText), errorText);
}

QString downloadReason(const QString &url)
{
    return QStringLiteral("地址 %1 指向的是一个下载文件，而不是网页，没有可提取的链接；该文件不会被下载。").arg(url);
}

} // namespace engine
