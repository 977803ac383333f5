#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.0 server on 127.0.0.1 for engine tests and the benchmark.
// Each route answers with a fixed status, headers and body, optionally after a
// delay, or starts its answer and never finishes it. Unknown paths get 404.
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
    quint16 port() const;
    // http://<host>:<port><path>; "localhost" gives a second site on the same server.
    QString url(const QString &path, const QString &host = QStringLiteral("127.0.0.1")) const;

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
    QHash<QString, Response> m_routes;
    QStringList m_requests;
};
