#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// A forward HTTP proxy on 127.0.0.1 for engine tests. It takes requests in
// absolute form (GET http://host:port/path HTTP/1.1), records them and passes
// each on to 127.0.0.1:port when it knows host; otherwise, and for CONNECT,
// it answers 502. It knows 127.0.0.1, localhost and its subdomains, and the
// names given to resolve(): a page addressed by such a name loaded only if
// it came through here. One request per connection.
class ForwardProxy final : public QObject
{
    Q_OBJECT
public:
    explicit ForwardProxy(QObject *parent = nullptr);
    ~ForwardProxy() override;

    // Listens on a free port of 127.0.0.1; false if it cannot.
    bool listen();
    quint16 port() const;
    // "127.0.0.1:<port>", as http_proxy holds it.
    QString hostAndPort() const;

    // host stands for 127.0.0.1 here, and nowhere else.
    void resolve(const QString &host) { m_names.insert(host.toLower()); }
    // The targets asked for so far, in order, as sent (http://host:port/path).
    QStringList requests() const { return m_requests; }

private:
    void onConnection();
    void onReadyRead(QTcpSocket *client);
    bool knows(const QString &host) const;

    QTcpServer *m_server;
    QSet<QString> m_names;
    QStringList m_requests;
};
