#include "page_server.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
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

QByteArray shellQuoted(const QString &text)
{
    return '\'' + QFile::encodeName(text).replace('\'', "'\\''") + '\'';
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

bool PageServer::listenTls(QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!QSslSocket::supportsSsl())
        return fail(QStringLiteral("Qt has no TLS backend here"));
    m_certificateDir = std::make_unique<QTemporaryDir>();
    if (!m_certificateDir->isValid())
        return fail(m_certificateDir->errorString());
    const QString keyPath = m_certificateDir->filePath(QStringLiteral("key.pem"));
    const QString certificatePath = m_certificateDir->filePath(QStringLiteral("certificate.pem"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                   keyPath, "-out", certificatePath, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1,DNS:localhost"});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        return fail(QStringLiteral("openssl made no certificate (package openssl): %1 %2")
                        .arg(openssl.errorString(), QString::fromLocal8Bit(openssl.readAll())));

    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certificatePath);
    QFile keyFile(keyPath);
    const QSslKey key = keyFile.open(QIODevice::ReadOnly) ? QSslKey(&keyFile, QSsl::Ec) : QSslKey();
    if (certificates.size() != 1 || key.isNull())
        return fail(QStringLiteral("cannot read what openssl made in %1").arg(m_certificateDir->path()));
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificates.constFirst());
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);

    auto *server = new QSslServer(this);
    server->setSslConfiguration(configuration);
    // Handed over once the handshake is done.
    connect(server, &QTcpServer::pendingConnectionAvailable, this, &PageServer::onConnection);
    delete m_server;
    m_server = server;
    m_keyHash = QString::fromLatin1(
        QCryptographicHash::hash(certificates.constFirst().publicKey().toDer(), QCryptographicHash::Sha256).toBase64());
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        return fail(m_server->errorString());
    return true;
}

quint16 PageServer::port() const
{
    return m_server->serverPort();
}

QString PageServer::url(const QString &path, const QString &host) const
{
    return QStringLiteral("%1://%2:%3%4")
        .arg(m_keyHash.isEmpty() ? QLatin1String("http") : QLatin1String("https"), host)
        .arg(port())
        .arg(path);
}

QString PageServer::trustSwitch() const
{
    return QStringLiteral("--ignore-certificate-errors-spki-list=") + m_keyHash;
}

QString PageServer::writeTrustingChromium(const QString &dir, const QString &chromium) const
{
    const QString path = QDir(dir).filePath(QStringLiteral("chromium-trusting"));
    QFile script(path);
    if (m_keyHash.isEmpty() || !script.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    script.write("#!/bin/sh\nexec " + shellQuoted(chromium) + ' ' + shellQuoted(trustSwitch()) + " \"$@\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
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
