#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

class QTcpServer;
class QTcpSocket;
class QTemporaryDir;

// A small HTTP/1.0 server on 127.0.0.1 for engine tests and the benchmark,
// plain (listen()) or over TLS (listenTls()). Each route answers with a fixed
// status, headers and body, optionally after a delay, or starts its answer
// and never finishes it. Unknown paths get 404.
class PageServer final : public QObject
{
    Q_OBJECT
public:
    struct Response
    {
        int status = 200;
        QByteArray contentType = "text/html; charset=utf-8";
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        int delayMs = 0;        // wait this long before answering
        bool neverEnds = false; // send the headers and body, then keep the connection open
    };

    // Every server answers sentinelPath with a page holding one link,
    // sentinelLink: the page asked for to see that extraction works again.
    static constexpr const char *sentinelPath = "/sentinel";
    static constexpr const char *sentinelLink = "/s";
    // And two pages that reload themselves for ever, by a meta refresh and
    // by script on load; each holds the one link /reload/link.
    static constexpr const char *reloadMetaPath = "/reload/meta";
    static constexpr const char *reloadScriptPath = "/reload/script";

    explicit PageServer(QObject *parent = nullptr);
    ~PageServer() override;

    // Listens on a free port of 127.0.0.1; false if it cannot.
    bool listen();
    // The same over TLS, with a self-signed certificate made now by the
    // openssl program (EC P-256, valid two days, for IP 127.0.0.1 and
    // localhost). Chromium refuses it (net::ERR_CERT_AUTHORITY_INVALID)
    // unless started with trustSwitch(). False with *error if it cannot.
    bool listenTls(QString *error = nullptr);
    quint16 port() const;
    // http://<host>:<port><path>, https:// once listenTls(); "localhost" gives
    // a second site on the same server.
    QString url(const QString &path, const QString &host = QStringLiteral("127.0.0.1")) const;

    // After listenTls(): the Chromium switch that trusts the certificate's
    // one key (its SPKI hashed with SHA-256, in base64):
    // --ignore-certificate-errors-spki-list=<hash>. Chromium honours it only
    // with --user-data-dir, which the engine always passes. Never a product
    // switch: tests give it through a wrapper as the Chromium to run.
    QString trustSwitch() const;
    // Writes dir/chromium-trusting, an executable that runs chromium with
    // trustSwitch() and its own arguments, and returns its path (empty if it
    // could not). Set it as VELMORA_CHROMIUM or ChromiumOptions::executable:
    //   VELMORA_CHROMIUM=<path> velmora-extract https://127.0.0.1:<port>/page
    QString writeTrustingChromium(const QString &dir, const QString &chromium) const;

    void route(const QString &path, const Response &response);
    void route(const QString &path, const QByteArray &html);
    // Paths requested so far, in order (query strings included).
    QStringList requests() const { return m_requests; }

    // An HTML page whose body holds count anchors <a href="prefix<i>">i</a>.
    static QByteArray anchorsPage(int count, const QString &hrefPrefix = QStringLiteral("/item/"));

signals:
    void requested(const QString &path);

private:
    void onConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QString &path);

    QTcpServer *m_server;
    std::unique_ptr<QTemporaryDir> m_certificateDir; // key and certificate, while it listens
    QString m_keyHash;
    QHash<QString, Response> m_routes;
    QStringList m_requests;
};
