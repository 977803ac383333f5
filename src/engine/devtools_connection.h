#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace engine {

class Transport;

// Why a call produced no result.
struct CallError
{
    enum Kind {
        None,
        Protocol, // Chromium answered with an error object
        Timeout,  // no answer in time
        Closed,   // the connection closed before an answer came
    };
    Kind kind = None;
    QString message;

    bool isError() const { return kind != None; }
};

// One DevTools protocol connection: commands with ids matched to their replies,
// a timeout per call, events routed by session. Owns nothing but its state; the
// transport is given and must outlive it or be owned by the same parent.
class DevToolsConnection final : public QObject
{
    Q_OBJECT
public:
    using Callback = std::function<void(const QJsonObject &result, const CallError &error)>;
    static constexpr int noTimeout = 0;

    explicit DevToolsConnection(Transport *transport, QObject *parent = nullptr);
    ~DevToolsConnection() override;

    // Sends method with params on sessionId (empty: the browser session).
    // callback, if any, runs exactly once: with the result, or with the error
    // that ended the call. timeoutMs <= 0 waits for ever. Returns the call's id.
    int call(const QString &method, const QJsonObject &params = {}, const QString &sessionId = {},
             Callback callback = {}, int timeoutMs = noTimeout);

    // Fails every pending call with CallError::Closed and stops using the transport.
    void close();
    // Fails the pending calls of a session that went away: Chromium never
    // answers them.
    void abandonSession(const QString &sessionId);
    bool isOpen() const { return m_open; }
    qsizetype pendingCalls() const { return m_pending.size(); }

signals:
    void eventReceived(const QString &sessionId, const QString &method, const QJsonObject &params);
    // Input that is not a protocol message; the connection goes on.
    void malformedMessage(const QString &what);
    // The transport ended; every pending call has already failed.
    void closed(const QString &reason);

private:
    struct Pending
    {
        QString method;
        QString sessionId;
        Callback callback;
        QTimer *timer = nullptr;
    };

    void onMessage(const QByteArray &message);
    void onTransportClosed(const QString &reason);
    void finish(int id, const QJsonObject &result, const CallError &error);
    void failAll(const QString &message);

    Transport *m_transport;
    QHash<int, Pending> m_pending;
    int m_nextId = 1;
    bool m_open = true;
};

} // namespace engine
