#include "scripted_chromium.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaObject>

ScriptedChromium::ScriptedChromium() = default;

void ScriptedChromium::send(const QByteArray &message)
{
    if (!m_open)
        return;
    const QJsonObject object = QJsonDocument::fromJson(message).object();
    Command command{object.value(QLatin1String("id")).toInt(), object.value(QLatin1String("method")).toString(),
                    object.value(QLatin1String("sessionId")).toString(),
                    object.value(QLatin1String("params")).toObject()};
    sent.append(command);
    if (command.method == m_hangUpOn) {
        QMetaObject::invokeMethod(this, &ScriptedChromium::hangUp, Qt::QueuedConnection);
        return;
    }
    const auto rule = m_rules.constFind(command.method);
    const std::optional<QJsonObject> result = rule != m_rules.cend() ? (*rule)(command) : byDefault(command);
    if (result)
        reply(command.id, *result);
}

std::optional<QJsonObject> ScriptedChromium::byDefault(const Command &command)
{
    const QString &method = command.method;
    const QString targetId = command.params.value(QLatin1String("targetId")).toString();
    if (method == QLatin1String("Target.createTarget"))
        return QJsonObject{{"targetId", QStringLiteral("T%1").arg(m_nextTarget++)}};
    if (method == QLatin1String("Target.attachToTarget")) {
        event({}, QStringLiteral("Target.attachedToTarget"),
              {{"sessionId", sessionOf(targetId)},
               {"targetInfo", QJsonObject{{"targetId", targetId}, {"type", "page"}}},
               {"waitingForDebugger", false}});
        return QJsonObject{{"sessionId", sessionOf(targetId)}};
    }
    if (method == QLatin1String("Target.closeTarget") && !keepsClosedTabs) {
        reply(command.id, {{"success", true}});
        event({}, QStringLiteral("Target.detachedFromTarget"), {{"sessionId", sessionOf(targetId)}});
        event({}, QStringLiteral("Target.targetDestroyed"), {{"targetId", targetId}});
        return std::nullopt;
    }
    if (method == QLatin1String("Page.navigate"))
        return QJsonObject{{"frameId", QStringLiteral("F-") + command.sessionId}, {"loaderId", "L"}};
    if (method == QLatin1String("Page.createIsolatedWorld"))
        return QJsonObject{{"executionContextId", 7}};
    return QJsonObject{};
}

void ScriptedChromium::hold(const QString &method)
{
    answer(method, [](const Command &) { return std::nullopt; });
}

void ScriptedChromium::deliver(const QJsonObject &message)
{
    const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
    QMetaObject::invokeMethod(
        this,
        [this, bytes] {
            if (m_open)
                emit messageReceived(bytes);
        },
        Qt::QueuedConnection);
}

void ScriptedChromium::reply(int id, const QJsonObject &result)
{
    deliver({{"id", id}, {"result", result}});
}

void ScriptedChromium::refuse(int id, const QString &message)
{
    deliver({{"id", id}, {"error", QJsonObject{{"code", -32000}, {"message", message}}}});
}

void ScriptedChromium::event(const QString &sessionId, const QString &method, const QJsonObject &params)
{
    QJsonObject message{{"method", method}, {"params", params}};
    if (!sessionId.isEmpty())
        message.insert(QStringLiteral("sessionId"), sessionId);
    deliver(message);
}

void ScriptedChromium::hangUp()
{
    if (!m_open)
        return;
    m_open = false;
    emit closed(QStringLiteral("end of file"));
}

QList<ScriptedChromium::Command> ScriptedChromium::sentOf(const QString &method,
                                                          const std::optional<QString> &sessionId) const
{
    QList<Command> found;
    for (const Command &command : sent) {
        if (command.method == method && (!sessionId || command.sessionId == *sessionId))
            found.append(command);
    }
    return found;
}

void ScriptedChromium::commit(const QString &sessionId, const QString &url)
{
    event(sessionId, QStringLiteral("Page.frameNavigated"),
          {{"frame", QJsonObject{{"id", QStringLiteral("F-") + sessionId}, {"url", url}}}});
}

void ScriptedChromium::report(const QString &sessionId, const QString &url, const QStringList &links, int part,
                              int parts)
{
    const QJsonObject payload{
        {"url", url}, {"part", part}, {"parts", parts}, {"links", QJsonArray::fromStringList(links)}};
    event(sessionId, QStringLiteral("Runtime.bindingCalled"),
          {{"name", "__velmoraLinks"}, {"payload", QString::fromUtf8(QJsonDocument(payload).toJson())}});
}
