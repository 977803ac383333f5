#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QTimer;

namespace engine {

class Transport;
class DevToolsConnection;

// Why a call produced no result.
struct CallError
{
    enum Kind {
        None,
        Protocol, // Chromium answered with an error object
        Timeout,  // no answer in time
        Closed,   // the connection or the session closed before an answer came
    };
    Kind kind = None;
    QString message;

    bool isError() const { return kind != None; }
};

using CallCallback = std::function<void(const QJsonObject &result, const CallError &error)>;

// One DevTools session: the browser's own, or one target's that Chromium
// attached with flatten. The connection creates it on Target.attachedToTarget
// and deletes it on Target.detachedFromTarget, after failing its pending calls.
class DevToolsSession final : public QObject
{
    Q_OBJECT
public:
    // Empty for the browser session.
    const QString &id() const { return m_id; }
    // The attached target's info as Chromium gave it (empty for the browser).
    const QJsonObject &targetInfo() const { return m_targetInfo; }
    QString targetId() const { return m_targetInfo.value(QLatin1String("targetId")).toString(); }
    QString type() const { return m_targetInfo.value(QLatin1String("type")).toString(); }
    // Whether Chromium holds the target until Runtime.runIfWaitingForDebugger.
    bool isWaiting() const { return m_waiting; }
    // The session the attach was announced on; null for the browser session.
    DevToolsSession *parentSession() const { return m_parent; }
    DevToolsConnection *connection() const { return m_connection; }

    // As DevToolsConnection::call, on this session.
    int call(const QString &method, const QJsonObject &params = {}, CallCallback callback = {}, int timeoutMs = -1);

signals:
    // A protocol event for this session (not QObject::event).
    void eventReceived(const QString &method, const QJsonObject &params);
    // Chromium detached the session; its pending calls have failed. Deleted later.
    void detached();

private:
    friend class DevToolsConnection;
    DevToolsSession(DevToolsConnection *connection, const QString &id, const QJsonObject &targetInfo, bool waiting,
                    DevToolsSession *parent);

    DevToolsConnection *m_connection;
    QString m_id;
    QJsonObject m_targetInfo;
    bool m_waiting = false;
    QPointer<DevToolsSession> m_parent;
};

// Calls sent together and awaited together: done runs once, after the last
// of them has answered, with the first error among them. Answers never come
// inside call(), so the calls are all sent before any can finish the batch.
class CallBatch
{
public:
    using Done = std::function<void(const CallError &firstError)>;

    CallBatch(DevToolsSession *session, int timeoutMs, Done done);

    void call(const QString &method, const QJsonObject &params = {});
    // A call Chromium may refuse: a protocol error is handed to refused and
    // does not count as the batch's error; a timeout or a lost session does.
    void tryCall(const QString &method, const QJsonObject &params, const std::function<void()> &refused);

private:
    struct State
    {
        int remaining = 0;
        CallError firstError;
        Done done;
    };
    CallCallback answered(const std::function<void()> &refused);

    DevToolsSession *m_session;
    int m_timeoutMs;
    std::shared_ptr<State> m_state;
};

// One DevTools protocol connection: commands with ids matched to their replies,
// a timeout on every call, events routed to their session. The transport is
// given and must outlive it or be owned by the same parent.
class DevToolsConnection final : public QObject
{
    Q_OBJECT
public:
    using Callback = CallCallback;
    // timeoutMs values with a meaning of their own.
    static constexpr int noTimeout = 0;
    static constexpr int defaultTimeout = -1;

    explicit DevToolsConnection(Transport *transport, QObject *parent = nullptr);
    ~DevToolsConnection() override;

    // The timeout of calls that name none; 30 s until set.
    void setDefaultTimeout(int ms) { m_defaultTimeoutMs = ms > 0 ? ms : m_defaultTimeoutMs; }
    int defaultTimeoutMs() const { return m_defaultTimeoutMs; }

    // Sends method with params on sessionId (empty: the browser session).
    // callback, if any, runs exactly once: with the result, or with the error
    // that ended the call. noTimeout waits for ever; defaultTimeout (or any
    // negative) uses the connection's. Returns the call's id.
    int call(const QString &method, const QJsonObject &params = {}, const QString &sessionId = {},
             Callback callback = {}, int timeoutMs = defaultTimeout);

    DevToolsSession *browserSession() const { return m_browserSession; }
    // The attached session with this id, or null.
    DevToolsSession *session(const QString &sessionId) const;
    // The session with this id, made now if its attach went unannounced.
    DevToolsSession *adoptSession(const QString &sessionId);

    // Fails every pending call with CallError::Closed and stops using the transport.
    void close();
    // Fails the pending calls of a session that went away: Chromium never
    // answers them.
    void abandonSession(const QString &sessionId);
    bool isOpen() const { return m_open; }
    qsizetype pendingCalls() const { return m_pending.size(); }

signals:
    // Every event, whichever session it came on, after the session has seen it.
    void eventReceived(const QString &sessionId, const QString &method, const QJsonObject &params);
    // The reply to a call that had already timed out.
    void lateReply(const QString &method);
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
    void onEvent(const QString &sessionId, const QString &method, const QJsonObject &params);
    void dropSession(const QString &sessionId);
    void onTransportClosed(const QString &reason);
    void finish(int id, const QJsonObject &result, const CallError &error);
    void timedOut(int id, int timeoutMs);
    void failAll(const QString &message);

    Transport *m_transport;
    QHash<int, Pending> m_pending;
    // Calls that timed out, by id, remembered a while so that their replies
    // are known as late; the oldest go first.
    QMap<int, QString> m_timedOut;
    QHash<QString, DevToolsSession *> m_sessions;
    DevToolsSession *m_browserSession;
    int m_defaultTimeoutMs = 30000;
    int m_nextId = 1;
    bool m_open = true;
};

} // namespace engine
