// The DevTools connection and the pipe transport, without Chromium.
#include "engine/devtools_connection.h"
#include "engine/pipe_transport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace engine;

namespace {

// Records what the connection sends; the test plays Chromium's part.
class FakeTransport final : public Transport
{
public:
    QList<QJsonObject> sent;
    bool open = true;

    void send(const QByteArray &message) override { sent.append(QJsonDocument::fromJson(message).object()); }
    void close() override { open = false; }
    bool isOpen() const override { return open; }

    void receive(const QJsonObject &object)
    {
        emit messageReceived(QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    void receiveRaw(const QByteArray &bytes) { emit messageReceived(bytes); }
    void hangUp()
    {
        open = false;
        emit closed(QStringLiteral("end of file"));
    }
};

struct Outcome
{
    int calls = 0;
    QJsonObject result;
    CallError error;
};

DevToolsConnection::Callback recordInto(Outcome &outcome)
{
    return [&outcome](const QJsonObject &result, const CallError &error) {
        ++outcome.calls;
        outcome.result = result;
        outcome.error = error;
    };
}

QByteArray readAllFrom(int fd)
{
    QByteArray data;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        data.append(buffer, n);
    return data;
}

} // namespace

class DevToolsConnectionTest final : public QObject
{
    Q_OBJECT

private slots:
    void repliesAreMatchedToCallsById()
    {
        FakeTransport transport;
        DevToolsConnection connection(&transport);
        Outcome first, second;
        const int a = connection.call(QStringLiteral("A.one"), {{"x", 1}}, {}, recordInto(first));
        const int b = connection.call(QStringLiteral("B.two"), {}, QStringLiteral("S1"), recordInto(second));
        QCOMPARE(transport.sent.size(), 2);
        QCOMPARE(transport.sent[0].value("method").toString(), QStringLiteral("A.one"));
        QCOMPARE(transport.sent[0].value("params").toObject().value("x").toInt(), 1);
        QVERIFY(!transport.sent[0].contains("sessionId"));
        QCOMPARE(transport.sent[1].value("sessionId").toString(), QStringLiteral("S1"));
        QVERIFY(a != b);

        // Out of order, as Chromium may answer different sessions.
        transport.receive({{"id", b}, {"result", QJsonObject{{"v", "two"}}}, {"sessionId", "S1"}});
        QCOMPARE(second.calls, 1);
        QCOMPARE(first.calls, 0);
        QCOMPARE(second.result.value("v").toString(), QStringLiteral("two"));
        transport.receive({{"id", a}, {"error", QJsonObject{{"code", -32000}, {"message", "No target"}}}});
        QCOMPARE(first.calls, 1);
        QCOMPARE(first.error.kind, CallError::Protocol);
        QVERIFY(first.error.message.contains("A.one"));
        QVERIFY(first.error.message.contains("No target"));
        QCOMPARE(connection.pendingCalls(), 0);
    }

    void eventsCarryTheirSession()
    {
        FakeTransport transport;
        DevToolsConnection connection(&transport);
        QSignalSpy events(&connection, &DevToolsConnection::eventReceived);
        transport.receive(
            {{"method", "Page.loadEventFired"}, {"params", QJsonObject{{"timestamp", 1.5}}}, {"sessionId", "S9"}});
        transport.receive({{"method", "Target.targetCreated"}, {"params", QJsonObject{}}});
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[0][0].toString(), QStringLiteral("S9"));
        QCOMPARE(events[0][1].toString(), QStringLiteral("Page.loadEventFired"));
        QCOMPARE(events[0][2].toJsonObject().value("timestamp").toDouble(), 1.5);
        QVERIFY(events[1][0].toString().isEmpty());
    }

    void aCallWithoutReplyTimesOutNamingItsMethod()
    {
        FakeTransport transport;
        DevToolsConnection connection(&transport);
        Outcome slow, patient;
        const int id = connection.call(QStringLiteral("Target.createTarget"), {}, {}, recordInto(slow), 50);
        connection.call(QStringLiteral("Page.navigate"), {}, QStringLiteral("S"), recordInto(patient),
                        DevToolsConnection::noTimeout);
        QTRY_COMPARE(slow.calls, 1);
        QCOMPARE(slow.error.kind, CallError::Timeout);
        QVERIFY(slow.error.message.contains("Target.createTarget"));
        // A late reply is reported as late, never delivered twice.
        QSignalSpy malformed(&connection, &DevToolsConnection::malformedMessage);
        QSignalSpy late(&connection, &DevToolsConnection::lateReply);
        transport.receive({{"id", id}, {"result", QJsonObject{}}});
        QCOMPARE(slow.calls, 1);
        QCOMPARE(late.size(), 1);
        QCOMPARE(late[0][0].toString(), QStringLiteral("Target.createTarget"));
        QCOMPARE(malformed.size(), 0);
        // Said once: the same reply again is stray.
        transport.receive({{"id", id}, {"result", QJsonObject{}}});
        QCOMPARE(malformed.size(), 1);
        QCOMPARE(patient.calls, 0);
        QCOMPARE(connection.pendingCalls(), 1);

        // A call that names no timeout gets the connection's.
        connection.setDefaultTimeout(30);
        Outcome unnamed;
        connection.call(QStringLiteral("Browser.getVersion"), {}, {}, recordInto(unnamed));
        QTRY_COMPARE(unnamed.calls, 1);
        QCOMPARE(unnamed.error.kind, CallError::Timeout);
        QCOMPARE(patient.calls, 0);
    }

    void attachedTargetsGetSessionsUntilDetached()
    {
        FakeTransport transport;
        DevToolsConnection connection(&transport);
        auto attach = [&](const char *on, const char *id, const char *type) {
            QJsonObject message{
                {"method", "Target.attachedToTarget"},
                {"params",
                 QJsonObject{{"sessionId", id},
                             {"waitingForDebugger", true},
                             {"targetInfo", QJsonObject{{"targetId", QString("T-") + id}, {"type", type}}}}}};
            if (*on)
                message.insert("sessionId", on);
            transport.receive(message);
        };
        attach("", "P", "page");
        DevToolsSession *page = connection.session("P");
        QVERIFY(page);
        QCOMPARE(page->parentSession(), connection.browserSession());
        QCOMPARE(page->targetId(), QStringLiteral("T-P"));
        QVERIFY(page->isWaiting());
        // A frame in it announces itself on the page's session, and the page
        // sees the announcement with the frame's session already there.
        DevToolsSession *seen = nullptr;
        connect(page, &DevToolsSession::eventReceived, page, [&](const QString &method, const QJsonObject &params) {
            if (method == QLatin1String("Target.attachedToTarget"))
                seen = connection.session(params.value("sessionId").toString());
        });
        attach("P", "F", "iframe");
        DevToolsSession *frame = connection.session("F");
        QVERIFY(frame);
        QCOMPARE(seen, frame);
        QCOMPARE(frame->parentSession(), page);
        QCOMPARE(frame->type(), QStringLiteral("iframe"));

        QSignalSpy frameEvents(frame, &DevToolsSession::eventReceived);
        QSignalSpy pageEvents(page, &DevToolsSession::eventReceived);
        transport.receive({{"method", "Page.loadEventFired"}, {"sessionId", "F"}});
        QCOMPARE(frameEvents.size(), 1);
        QCOMPARE(pageEvents.size(), 0);

        Outcome onFrame, onPage;
        frame->call(QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, recordInto(onFrame));
        page->call(QStringLiteral("Page.navigate"), {}, recordInto(onPage));
        QCOMPARE(transport.sent.last().value("sessionId").toString(), QStringLiteral("P"));
        QSignalSpy detached(frame, &DevToolsSession::detached);
        QPointer<DevToolsSession> gone(frame);
        transport.receive(
            {{"method", "Target.detachedFromTarget"}, {"sessionId", "P"}, {"params", QJsonObject{{"sessionId", "F"}}}});
        QCOMPARE(detached.size(), 1);
        QCOMPARE(onFrame.calls, 1);
        QCOMPARE(onFrame.error.kind, CallError::Closed);
        QCOMPARE(onPage.calls, 0);
        QVERIFY(!connection.session("F"));
        QTRY_VERIFY(!gone);
    }

    void everyPendingCallFailsWhenThePipeCloses()
    {
        FakeTransport transport;
        DevToolsConnection connection(&transport);
        QSignalSpy closed(&connection, &DevToolsConnection::closed);
        Outcome a, b;
        connection.call(QStringLiteral("A"), {}, {}, recordInto(a), 10000);
        connection.call(QStringLiteral("B"), {}, QStringLiteral("S"), recordInto(b));
        transport.hangUp();
        QCOMPARE(a.calls, 1);
        QCOMPARE(b.calls, 1);
        QCOMPARE(a.error.kind, CallError::Closed);
        QCOMPARE(b.error.kind, CallError::Closed);
        QCOMPARE(closed.size(), 1);
        QVERIFY(!connection.isOpen());

        // A call after the close fails too, but never inside call() itself.
        Outcome late;
        connection.call(QStringLiteral("C"), {}, {}, recordInto(late));
        QCOMPARE(late.calls, 0);
        QTRY_COMPARE(late.calls, 1);
        QCOMPARE(late.error.kind, CallError::Closed);
        QCOMPARE(transport.sent.size(), 2);
    }

    void abandoningASessionFailsOnlyItsCalls()
    {
        FakeTransport transport;
        DevToolsConnection connection(&transport);
        Outcome onGone, onOther;
        connection.call(QStringLiteral("Page.navigate"), {}, QStringLiteral("gone"), recordInto(onGone));
        connection.call(QStringLiteral("Page.navigate"), {}, QStringLiteral("other"), recordInto(onOther));
        connection.abandonSession(QStringLiteral("gone"));
        QCOMPARE(onGone.calls, 1);
        QCOMPARE(onGone.error.kind, CallError::Closed);
        QCOMPARE(onOther.calls, 0);
    }

    void aCallbackMayCloseTheConnection()
    {
        FakeTransport transport;
        DevToolsConnection connection(&transport);
        Outcome second;
        const int first = connection.call(QStringLiteral("A"), {}, {},
                                          [&](const QJsonObject &, const CallError &) { connection.close(); });
        connection.call(QStringLiteral("B"), {}, {}, recordInto(second));
        transport.receive({{"id", first}, {"result", QJsonObject{}}});
        QCOMPARE(second.calls, 1);
        QCOMPARE(second.error.kind, CallError::Closed);
        QVERIFY(!transport.open);
    }

    void malformedInputIsReportedAndSkipped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("not JSON") << QByteArray("{\"id\": 1, ");
        QTest::newRow("not an object") << QByteArray("[1,2,3]");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("neither id nor method") << QByteArray("{\"params\":{}}");
        QTest::newRow("reply to nobody") << QByteArray("{\"id\":424242,\"result\":{}}");
        QTest::newRow("id of the wrong type") << QByteArray("{\"id\":\"1\",\"result\":{}}");
        QTest::newRow("invalid UTF-8") << QByteArray("{\"method\":\"\xff\xfe\"}");
    }

    void malformedInputIsReportedAndSkipped()
    {
        QFETCH(QByteArray, bytes);
        FakeTransport transport;
        DevToolsConnection connection(&transport);
        QSignalSpy malformed(&connection, &DevToolsConnection::malformedMessage);
        QSignalSpy events(&connection, &DevToolsConnection::eventReceived);
        Outcome pending;
        const int id = connection.call(QStringLiteral("A"), {}, {}, recordInto(pending));
        transport.receiveRaw(bytes);
        QCOMPARE(malformed.size() + events.size(), 1);
        QCOMPARE(pending.calls, 0);
        // The connection goes on working.
        transport.receive({{"id", id}, {"result", QJsonObject{{"ok", true}}}});
        QCOMPARE(pending.calls, 1);
        QVERIFY(pending.result.value("ok").toBool());
    }

    void escapedNonAsciiAndLoneSurrogatesAreAccepted()
    {
        FakeTransport transport;
        DevToolsConnection connection(&transport);
        QSignalSpy events(&connection, &DevToolsConnection::eventReceived);
        // Chromium escapes all non-ASCII, lone surrogates included.
        transport.receiveRaw("{\"method\":\"E\",\"params\":{\"s\":\"\\u4e2d\\u6587 \\ud800 \\udfff\"}}");
        QCOMPARE(events.size(), 1);
        const QString s = events[0][2].toJsonObject().value("s").toString();
        QCOMPARE(s.size(), 6);
        QCOMPARE(s.left(2), QStringLiteral("中文"));
        QCOMPARE(s.at(3).unicode(), 0xd800);
        QCOMPARE(s.at(5).unicode(), 0xdfff);
    }

    void pipeFramesMessagesByNul()
    {
        int toUs[2], fromUs[2];
        QCOMPARE(::pipe2(toUs, O_CLOEXEC), 0);
        QCOMPARE(::pipe2(fromUs, O_CLOEXEC), 0);
        PipeTransport transport(toUs[0], fromUs[1]);
        QSignalSpy received(&transport, &Transport::messageReceived);

        // Two messages and a half in one write, the rest later.
        const QByteArray chunk1("{\"a\":1}\0{\"b\":2}\0{\"c\":", 21);
        QCOMPARE(::write(toUs[1], chunk1.constData(), size_t(chunk1.size())), ssize_t(chunk1.size()));
        QTRY_COMPARE(received.size(), 2);
        QCOMPARE(received[0][0].toByteArray(), QByteArray("{\"a\":1}"));
        QCOMPARE(received[1][0].toByteArray(), QByteArray("{\"b\":2}"));
        const QByteArray chunk2("3}\0", 3);
        QCOMPARE(::write(toUs[1], chunk2.constData(), 3), ssize_t(3));
        QTRY_COMPARE(received.size(), 3);
        QCOMPARE(received[2][0].toByteArray(), QByteArray("{\"c\":3}"));

        transport.send("hello");
        transport.send("world");
        transport.close();
        QCOMPARE(readAllFrom(fromUs[0]), QByteArray("hello\0world\0", 12));
        ::close(fromUs[0]);
        ::close(toUs[1]);
    }

    void largeMessagesCrossThePipeBothWays()
    {
        int toUs[2], fromUs[2];
        QCOMPARE(::pipe2(toUs, O_CLOEXEC | O_NONBLOCK), 0);
        QCOMPARE(::pipe2(fromUs, O_CLOEXEC | O_NONBLOCK), 0);
        PipeTransport transport(toUs[0], fromUs[1]);
        QSignalSpy received(&transport, &Transport::messageReceived);

        // Far above the 64 KB a pipe holds: the write is buffered, not blocked.
        const QByteArray big(20 * 1024 * 1024, 'x');
        transport.send(big);
        QVERIFY(transport.pendingWriteBytes() > 0);
        // The test drains and fills the pipes itself, turning the event loop
        // in between so the transport does its half.
        QByteArray got;
        QDeadlineTimer deadline(20000);
        while (got.size() < big.size() + 1 && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            got += readAllFrom(fromUs[0]);
        }
        QCOMPARE(got.chopped(1), big);
        QCOMPARE(transport.pendingWriteBytes(), 0);

        // And a large incoming one arrives whole, in one message.
        const QByteArray incoming = big + '\0';
        qsizetype written = 0;
        while (received.isEmpty() && !deadline.hasExpired()) {
            const ssize_t n = ::write(toUs[1], incoming.constData() + written, size_t(incoming.size() - written));
            if (n > 0)
                written += n;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        QCOMPARE(received.size(), 1);
        QCOMPARE(received[0][0].toByteArray().size(), big.size());
        ::close(toUs[1]);
        ::close(fromUs[0]);
    }

    void endOfFileClosesTheTransportOnce()
    {
        int toUs[2], fromUs[2];
        QCOMPARE(::pipe2(toUs, O_CLOEXEC), 0);
        QCOMPARE(::pipe2(fromUs, O_CLOEXEC), 0);
        PipeTransport transport(toUs[0], fromUs[1]);
        DevToolsConnection connection(&transport);
        QSignalSpy closed(&connection, &DevToolsConnection::closed);
        Outcome pending;
        connection.call(QStringLiteral("Browser.getVersion"), {}, {}, recordInto(pending));
        ::close(toUs[1]); // Chromium went away
        QVERIFY(closed.wait(5000));
        QCOMPARE(closed.size(), 1);
        QCOMPARE(pending.error.kind, CallError::Closed);
        QVERIFY(!transport.isOpen());
        transport.send("ignored once closed");
        ::close(fromUs[0]);
    }

    void bufferedMessagesAreHandedOnOneTurnAtATime()
    {
        // Several big messages already in the pipe, then its end: each is
        // handled in its own turn of the event loop, in order, and the close
        // comes after the last, so a long harvest never freezes the window.
        int toUs[2], fromUs[2];
        QCOMPARE(::pipe2(toUs, O_CLOEXEC | O_NONBLOCK), 0);
        QCOMPARE(::pipe2(fromUs, O_CLOEXEC), 0);
        QVERIFY(::fcntl(toUs[1], F_SETPIPE_SZ, 1024 * 1024) >= 1024 * 1024);
        QByteArray all;
        for (char fill : {'a', 'b', 'c'})
            all += QByteArray(300 * 1024, fill) + '\0';
        QCOMPARE(::write(toUs[1], all.constData(), size_t(all.size())), ssize_t(all.size()));
        ::close(toUs[1]);

        PipeTransport transport(toUs[0], fromUs[1]);
        QObject context;
        QList<char> order;
        QList<bool> turnedBefore;
        bool turned = true;
        bool closedAfterAll = false;
        connect(&transport, &Transport::messageReceived, &context, [&](const QByteArray &message) {
            order.append(message.at(0));
            QCOMPARE(message.size(), 300 * 1024);
            turnedBefore.append(turned);
            turned = false;
            QMetaObject::invokeMethod(
                &context, [&] { turned = true; }, Qt::QueuedConnection);
        });
        QSignalSpy closed(&transport, &Transport::closed);
        connect(&transport, &Transport::closed, &context, [&] { closedAfterAll = order.size() == 3; });
        QVERIFY(closed.wait(5000));
        QCOMPARE(order, (QList<char>{'a', 'b', 'c'}));
        QCOMPARE(turnedBefore, (QList<bool>{true, true, true}));
        QVERIFY(closedAfterAll);
        ::close(fromUs[0]);
    }
};

QTEST_GUILESS_MAIN(DevToolsConnectionTest)
#include "tst_devtools_connection.moc"
