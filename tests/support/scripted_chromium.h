#pragma once

#include "engine/transport.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Chromium's side of the DevTools pipe, played from a script, so the engine's
// rules are tested in milliseconds and the same way every run. Every command
// is answered as Chromium would by default; a test overrides a method's
// answer, holds it back, or hangs up when it is sent. What it sends comes one
// message per turn of the event loop, in order, as from the pipe.
class ScriptedChromium final : public engine::Transport
{
    Q_OBJECT
public:
    struct Command
    {
        int id = 0;
        QString method;
        QString sessionId;
        QJsonObject params;
    };
    // The result to answer with, or nullopt to hold the command unanswered.
    using Rule = std::function<std::optional<QJsonObject>(const Command &)>;

    ScriptedChromium();

    void send(const QByteArray &message) override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }

    void answer(const QString &method, Rule rule) { m_rules.insert(method, std::move(rule)); }
    void hold(const QString &method);
    // Ends the pipe when a command with this method is sent, unanswered.
    void hangUpOn(const QString &method) { m_hangUpOn = method; }
    void reply(int id, const QJsonObject &result = {});
    void refuse(int id, const QString &message);
    void event(const QString &sessionId, const QString &method, const QJsonObject &params = {});
    void hangUp();

    // Commands sent so far with this method (on this session, if given).
    QList<Command> sentOf(const QString &method, const std::optional<QString> &sessionId = std::nullopt) const;
    QList<Command> sent;
    // Chromium answers Target.closeTarget but keeps the tab, as it does with
    // one whose page is navigating.
    bool keepsClosedTabs = false;

    // The session of a target we attached to.
    static QString sessionOf(const QString &targetId) { return QStringLiteral("S-") + targetId; }

    // A page's life on the session: its top document commits, then the
    // harvest script reports links in one part.
    void commit(const QString &sessionId, const QString &url);
    void report(const QString &sessionId, const QString &url, const QStringList &links, int part = 0, int parts = 1);

private:
    std::optional<QJsonObject> byDefault(const Command &command);
    void deliver(const QJsonObject &message);

    QHash<QString, Rule> m_rules;
    QString m_hangUpOn;
    int m_nextTarget = 1;
    bool m_open = true;
};
