#include "forward_proxy.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace {

void refuse(QTcpSocket *client, const QByteArray &why)
{
    client->write("HTTP/1.1 502 Bad Gateway\r\nContent-Type: text/plain\r\nContent-Length: "
                  + QByteArray::number(why.size()) + "\r\nConnection: close\r\n\r\n" + why);
    client->disconnectFromHost();
}

// Bytes one way until the source closes; then the other side is closed once
// it has written them.
void relay(QTcpSocket *from, QTcpSocket *to)
{
    QObject::connect(from, &QTcpSocket::readyRead, to, [from, to] { to->write(from->readAll()); });
    QObject::connect(from, &QTcpSocket::disconnected, to, [from, to] {
        to->write(from->readAll());
        to->disconnectFromHost();
    });
}

} // namespace

ForwardProxy::ForwardProxy(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ForwardProxy::onConnection);
}

ForwardProxy::~ForwardProxy() = default;

bool ForwardProxy::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 ForwardProxy::port() const
{
    return m_server->serverPort();
}

QString ForwardProxy::hostAndPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

bool ForwardProxy::knows(const QString &host) const
{
    const QString name = host.toLower();
    return name == QLatin1String("127.0.0.1") || name == QLatin1String("localhost")
        || name.endsWith(QLatin1String(".localhost")) || m_names.contains(name);
}

void ForwardProxy::onConnection()
{
    while (QTcpSocket *client = m_server->nextPendingConnection()) {
        connect(client, &QTcpSocket::readyRead, this, [this, client] { onReadyRead(client); });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    }
}

void ForwardProxy::onReadyRead(QTcpSocket *client)
{
    if (client->property("forwarded").toBool())
        return; // the relay has it
    const QByteArray buffer = client->property("buffer").toByteArray() + client->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        client->setProperty("buffer", buffer);
        return;
    }
    client->setProperty("forwarded", true);
    QList<QByteArray> lines = buffer.left(end).split('\n');
    for (QByteArray &line : lines)
        line = line.trimmed();
    const QList<QByteArray> requestLine = lines.takeFirst().split(' ');
    if (requestLine.size() != 3)
        return refuse(client, "bad request line");
    const QString target = QString::fromLatin1(requestLine.at(1));
    m_requests.append(target);
    const QUrl url(target);
    if (url.scheme() != QLatin1String("http") || !knows(url.host()))
        return refuse(client, "unknown host or not http://");

    // Origin form, byte for byte, for the server; it closes after one answer,
    // and so do we.
    const qsizetype pathAt = requestLine.at(1).indexOf('/', qsizetype(sizeof("http://") - 1));
    const QByteArray path = pathAt < 0 ? QByteArray("/") : requestLine.at(1).mid(pathAt);
    QByteArray head = requestLine.at(0) + ' ' + path + ' ' + requestLine.at(2) + "\r\n";
    for (const QByteArray &line : std::as_const(lines)) {
        const QByteArray name = line.left(line.indexOf(':')).toLower();
        if (name != "connection" && name != "proxy-connection" && name != "keep-alive")
            head += line + "\r\n";
    }
    head += "Connection: close\r\n\r\n";

    auto *server = new QTcpSocket(client);
    relay(server, client);
    relay(client, server);
    connect(server, &QTcpSocket::errorOccurred, client, [client](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::ConnectionRefusedError)
            refuse(client, "cannot reach the server");
    });
    server->connectToHost(QHostAddress::LocalHost, quint16(url.port(80)));
    server->write(head + buffer.mid(end + 4));
}
