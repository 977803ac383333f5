#pragma once

#include "engine/devtools_connection.h"

#include <QJsonObject>
#include <QString>
#include <QTest>

#include <memory>

// A DevTools reply, or why none came.
struct DevToolsReply
{
    bool done = false; // the call ended, with a result or an error
    QJsonObject result;
    engine::CallError error;
};

// One DevTools call (an empty sessionId: the browser's), waited for while
// the event loop runs. done stays false if the call has not ended after
// timeoutMs and a second more.
inline DevToolsReply callAndWait(engine::DevToolsConnection *connection, const QString &method,
                                 const QJsonObject &params = {}, const QString &sessionId = {}, int timeoutMs = 5000)
{
    if (!connection)
        return {true, {}, {engine::CallError::Closed, QStringLiteral("no connection: Chromium is gone")}};
    // Shared: a reply may still come after we stopped waiting.
    auto reply = std::make_shared<DevToolsReply>();
    connection->call(
        method, params, sessionId,
        [reply](const QJsonObject &result, const engine::CallError &error) {
            *reply = {true, result, error};
        },
        timeoutMs);
    static_cast<void>(QTest::qWaitFor([&] { return reply->done; }, timeoutMs + 1000)); // done says the same
    return *reply;
}
