#include "page_server.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

PageServer::PageServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &PageServer::onConnection);
    route(QString::fromLatin1(sentinelPath), QByteArray("<a href=\"") + sentinelLink + "\">s</a>");
    route(QString::fromLatin1(reloadMetaPath),
          "<meta http-equiv=\"refresh\" content=\"0\"><a href=\"/reload/link\">r</a>");
    route(QString::fromLatin1(reloadScriptPath),
          "<a href=\"/reload/link\">r</a>"
          "<script>addEventListener('load', function () { location.reload(); });</script>");
}

PageServer::~PageServer() = default;

bool PageServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 PageServer::port() const
{
    return m_server->serverPort();
}

QString PageServer::url(const QString &path, const QString &host) const
{
    return QStringLiteral("http://%1:%2%3").arg(host).arg(port()).arg(path);
}

void PageServer::route(const QString &path, const Response &response)
{
    m_routes.insert(path, response);
}

void PageServer::route(const QString &path, const QByteArray &html)
{
    Response response;
    response.body = html;
    route(path, response);
}

QByteArray PageServer::anchorsPage(int count, const QString &hrefPrefix)
{
    const QByteArray prefix = hrefPrefix.toUtf8();
    QByteArray html = "<!DOCTYPE html><html><head><title>anchors</title></head><body>\n";
    html.reserve(html.size() + qsizetype(count) * (prefix.size() * 2 + 40));
    for (int i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        html += "<a href=\"" + prefix + n + "\">" + n + "</a>\n";
    }
    html += "</body></html>\n";
    return html;
}

void PageServer::onConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void PageServer::onReadyRead(QTcpSocket *socket)
{
    if (socket->property("answered").toBool())
        return;
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() > 1 ? QString::fromLatin1(requestLine.at(1)) : QStringLiteral("/");
    m_requests.append(path);
    emit requested(path);

    const auto route = m_routes.constFind(path);
    const int delay = route != m_routes.cend() ? route->delayMs : 0;
    if (delay > 0) {
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(delay, this, [this, guard, path] {
            if (guard)
                answer(guard, path);
        });
    } else {
        answer(socket, path);
    }
}

void PageServer::answer(QTcpSocket *socket, const QString &path)
{
    Response response;
    auto route = m_routes.constFind(path);
    if (route == m_routes.cend())
        route = m_routes.constFind(path.section(QLatin1Char('?'), 0, 0));
    if (route != m_routes.cend()) {
        response = *route;
    } else {
        response.status = 404;
        response.body = "<html><body>no such page</body></html>";
    }

    QByteArray head = "HTTP/1.0 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        head += "Content-Type: " + response.contentType + "\r\n";
    for (const auto &header : std::as_const(response.headers))
        head += header.first + ": " + header.second + "\r\n";
    if (!response.neverEnds)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    socket->write(response.body);
    if (!response.neverEnds)
        socket->disconnectFromHost();
}
