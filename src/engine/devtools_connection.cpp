#include "engine/devtools_connection.h"

#include "engine/transport.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

// The protocol traffic, cut short; QT_LOGGING_RULES="velmora.devtools.debug=true".
Q_LOGGING_CATEGORY(lcDevTools, "velmora.devtools", QtWarningMsg)

namespace engine {

namespace {
// Enough to recognise the replies of a burst of timed-out calls; a reply
// older than that is reported as malformed.
constexpr qsizetype timedOutRemembered = 256;
} // namespace

DevToolsSession::DevToolsSession(DevToolsConnection *connection, const QString &id, const QJsonObject &targetInfo,
                                 bool waiting, DevToolsSession *parent)
    : QObject(connection), m_connection(connection), m_id(id), m_targetInfo(targetInfo), m_waiting(waiting),
      m_parent(parent)
{}

int DevToolsSession::call(const QString &method, const QJsonObject &params, CallCallback callback, int timeoutMs)
{
    return m_connection->call(method, params, m_id, std::move(callback), timeoutMs);
}

CallBatch::CallBatch(DevToolsSession *session, int timeoutMs, Done done)
    : m_session(session), m_timeoutMs(timeoutMs), m_state(std::make_shared<State>())
{
    m_state->done = std::move(done);
}

void CallBatch::call(const QString &method, const QJsonObject &params)
{
    m_session->call(method, params, answered({}), m_timeoutMs);
}

void CallBatch::tryCall(const QString &method, const QJsonObject &params, const std::function<void()> &refused)
{
    m_session->call(method, params, answered(refused), m_timeoutMs);
}

CallCallback CallBatch::answered(const std::function<void()> &refused)
{
    ++m_state->remaining;
    return [state = m_state, refused](const QJsonObject &, const CallError &error) {
        if (error.kind == CallError::Protocol && refused)
            refused();
        else if (error.isError() && !state->firstError.isError())
            state->firstError = error;
        if (--state->remaining == 0 && state->done)
            std::exchange(state->done, {})(state->firstError);
    };
}

DevToolsConnection::DevToolsConnection(Transport *transport, QObject *parent)
    : QObject(parent), m_transport(transport),
      m_browserSession(new DevToolsSession(this, QString(), QJsonObject(), false, nullptr))
{
    connect(m_transport, &Transport::messageReceived, this, &DevToolsConnection::onMessage);
    connect(m_transport, &Transport::closed, this, &DevToolsConnection::onTransportClosed);
    m_open = m_transport->isOpen();
}

DevToolsConnection::~DevToolsConnection()
{
    // Callbacks may capture objects that are being destroyed with us; drop
    // them unrun rather than call into half-destroyed owners.
    for (const auto &pending : m_pending)
        delete pending.timer;
    m_pending.clear();
}

int DevToolsConnection::call(const QString &method, const QJsonObject &params, const QString &sessionId,
                             Callback callback, int timeoutMs)
{
    const int id = m_nextId++;
    if (!m_open) {
        if (callback) {
            // Asynchronously, so a caller never sees its callback run inside call().
            QTimer::singleShot(0, this, [callback, method] {
                callback({}, {CallError::Closed, QStringLiteral("%1: connection closed").arg(method)});
            });
        }
        return id;
    }

    QJsonObject message{{QStringLiteral("id"), id}, {QStringLiteral("method"), method}};
    if (!params.isEmpty())
        message.insert(QStringLiteral("params"), params);
    if (!sessionId.isEmpty())
        message.insert(QStringLiteral("sessionId"), sessionId);

    Pending pending{method, sessionId, std::move(callback), nullptr};
    if (timeoutMs < 0)
        timeoutMs = m_defaultTimeoutMs;
    if (timeoutMs > 0) {
        pending.timer = new QTimer(this);
        pending.timer->setSingleShot(true);
        connect(pending.timer, &QTimer::timeout, this, [this, id, timeoutMs] { timedOut(id, timeoutMs); });
        pending.timer->start(timeoutMs);
    }
    m_pending.insert(id, pending);
    const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
    qCDebug(lcDevTools).noquote() << "->" << QString::fromUtf8(bytes.left(300));
    m_transport->send(bytes);
    return id;
}

void DevToolsConnection::finish(int id, const QJsonObject &result, const CallError &error)
{
    auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    Pending pending = std::move(*it);
    m_pending.erase(it);
    if (pending.timer)
        pending.timer->deleteLater();
    if (pending.callback)
        pending.callback(result, error);
}

void DevToolsConnection::timedOut(int id, int timeoutMs)
{
    const auto it = m_pending.constFind(id);
    if (it == m_pending.cend())
        return;
    const QString method = it->method;
    m_timedOut.insert(id, method);
    if (m_timedOut.size() > timedOutRemembered)
        m_timedOut.erase(m_timedOut.begin());
    finish(id, {}, {CallError::Timeout, QStringLiteral("%1: no reply within %2 ms").arg(method).arg(timeoutMs)});
}

DevToolsSession *DevToolsConnection::session(const QString &sessionId) const
{
    return sessionId.isEmpty() ? m_browserSession : m_sessions.value(sessionId);
}

DevToolsSession *DevToolsConnection::adoptSession(const QString &sessionId)
{
    if (DevToolsSession *known = session(sessionId))
        return known;
    auto *made = new DevToolsSession(this, sessionId, QJsonObject(), false, m_browserSession);
    m_sessions.insert(sessionId, made);
    return made;
}

void DevToolsConnection::onMessage(const QByteArray &message)
{
    qCDebug(lcDevTools).noquote() << "<-" << QString::fromUtf8(message.left(300));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(message, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        emit malformedMessage(QStringLiteral("not a JSON object (%1): %2")
                                  .arg(parseError.errorString(), QString::fromUtf8(message.left(80))));
        return;
    }
    const QJsonObject object = document.object();
    const QJsonValue idValue = object.value(QLatin1String("id"));
    if (!idValue.isUndefined()) {
        const int id = idValue.toInt(-1);
        if (!m_pending.contains(id)) {
            if (const auto late = m_timedOut.constFind(id); late != m_timedOut.cend()) {
                const QString method = *late;
                m_timedOut.erase(late);
                emit lateReply(method);
                return;
            }
            emit malformedMessage(QStringLiteral("reply to unknown call %1").arg(idValue.toInteger()));
            return;
        }
        const QJsonValue errorValue = object.value(QLatin1String("error"));
        if (errorValue.isObject()) {
            const QJsonObject error = errorValue.toObject();
            const QString text = error.value(QLatin1String("message")).toString();
            const QString method = m_pending.value(id).method;
            finish(id, {}, {CallError::Protocol, QStringLiteral("%1: %2").arg(method, text)});
        } else {
            finish(id, object.value(QLatin1String("result")).toObject(), {});
        }
        return;
    }
    const QString method = object.value(QLatin1String("method")).toString();
    if (method.isEmpty()) {
        emit malformedMessage(QStringLiteral("message with neither id nor method"));
        return;
    }
    onEvent(object.value(QLatin1String("sessionId")).toString(), method,
            object.value(QLatin1String("params")).toObject());
}

void DevToolsConnection::onEvent(const QString &sessionId, const QString &method, const QJsonObject &params)
{
    QPointer<DevToolsConnection> self(this);
    QPointer<DevToolsSession> target = session(sessionId);
    const QString child = params.value(QLatin1String("sessionId")).toString();
    if (method == QLatin1String("Target.attachedToTarget") && !child.isEmpty() && !m_sessions.contains(child)) {
        // Before the event is seen, so its handlers find the session.
        m_sessions.insert(child,
                          new DevToolsSession(this, child, params.value(QLatin1String("targetInfo")).toObject(),
                                              params.value(QLatin1String("waitingForDebugger")).toBool(),
                                              target ? target.data() : m_browserSession));
    }
    if (target)
        emit target->eventReceived(method, params);
    // Any handler may have closed and deleted the connection.
    if (self && method == QLatin1String("Target.detachedFromTarget") && !child.isEmpty())
        dropSession(child);
    if (self)
        emit eventReceived(sessionId, method, params);
}

void DevToolsConnection::dropSession(const QString &sessionId)
{
    QPointer<DevToolsConnection> self(this);
    abandonSession(sessionId);
    DevToolsSession *gone = self ? m_sessions.take(sessionId) : nullptr;
    if (gone) {
        gone->deleteLater();
        emit gone->detached();
    }
}

void DevToolsConnection::failAll(const QString &message)
{
    QPointer<DevToolsConnection> self(this);
    while (self && !m_pending.isEmpty()) {
        const int id = m_pending.begin().key();
        const QString method = m_pending.begin()->method;
        finish(id, {}, {CallError::Closed, QStringLiteral("%1: %2").arg(method, message)});
    }
}

void DevToolsConnection::abandonSession(const QString &sessionId)
{
    QList<int> ids;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        if (it->sessionId == sessionId)
            ids.append(it.key());
    }
    QPointer<DevToolsConnection> self(this);
    for (int id : ids) {
        if (!self)
            return;
        const QString method = m_pending.value(id).method;
        finish(id, {}, {CallError::Closed, QStringLiteral("%1: session closed").arg(method)});
    }
}

void DevToolsConnection::close()
{
    if (!m_open)
        return;
    m_open = false;
    m_transport->close();
    failAll(QStringLiteral("connection closed"));
}

void DevToolsConnection::onTransportClosed(const QString &reason)
{
    if (!m_open)
        return;
    m_open = false;
    QPointer<DevToolsConnection> self(this);
    failAll(QStringLiteral("connection lost (%1)").arg(reason));
    if (self)
        emit closed(reason);
}

} // namespace engine
