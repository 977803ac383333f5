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

DevToolsConnection::DevToolsConnection(Transport *transport, QObject *parent)
    : QObject(parent), m_transport(transport)
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

int DevToolsConnection::call(const QString &method, const QJsonObject &params,
                             const QString &sessionId, Callback callback, int timeoutMs)
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
    if (timeoutMs > 0) {
        pending.timer = new QTimer(this);
        pending.timer->setSingleShot(true);
        connect(pending.timer, &QTimer::timeout, this, [this, id, method, timeoutMs] {
            finish(id, {}, {CallError::Timeout,
                            QStringLiteral("%1: no reply within %2 ms").arg(method).arg(timeoutMs)});
        });
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

void DevToolsConnection::onMessage(const QByteArray &message)
{
    qCDebug(lcDevTools).noquote() << "<-" << QString::fromUtf8(message.left(300));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(message, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        emit malformedMessage(QStringLiteral("not a JSON object (%1): %2")
                                  .arg(parseError.errorString(),
                                       QString::fromUtf8(message.left(80))));
        return;
    }
    const QJsonObject object = document.object();
    const QJsonValue idValue = object.value(QLatin1String("id"));
    if (!idValue.isUndefined()) {
        const int id = idValue.toInt(-1);
        if (!m_pending.contains(id)) {
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
    emit eventReceived(object.value(QLatin1String("sessionId")).toString(), method,
                       object.value(QLatin1String("params")).toObject());
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
