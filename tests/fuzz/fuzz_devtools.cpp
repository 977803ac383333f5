// Chromium's side of the pipe, as any bytes cut at any points: the NUL
// framing hands on exactly the messages the stream holds, every message has
// exactly one outcome at the connection (an event, a reply to its call, a
// late reply, or a report of what was wrong with it), and when the pipe ends no call is
// left waiting.
//
// Input: byte 0 holds the number of calls made first (low four bits) and
// whether answered calls make another (0x10); byte 1 seeds the cut points;
// the rest is the stream.
#include "engine/devtools_connection.h"
#include "engine/nul_framing.h"
#include "engine/transport.h"
#include "fuzz_input.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <cstring>
#include <functional>

#include <optional>
#include <vector>

using namespace engine;

namespace {

class FeedTransport final : public Transport
{
public:
    void send(const QByteArray & /*message*/) override {}
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    void feed(const QByteArray &message) { emit messageReceived(message); }
    void hangUp()
    {
        m_open = false;
        emit closed(QStringLiteral("end of file"));
    }

private:
    bool m_open = true;
};

constexpr int maxCalls = 64;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) // NOLINT(readability-non-const-parameter)
{
    // Timers and queued work need an application object, should the
    // connection use them.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int firstCalls = data[0] & 0x0F;
    const bool callOnAnswer = (data[0] & 0x10) != 0;
    quint32 cuts = data[1] * 2654435761U + 1;
    const QByteArrayView stream(data + 2, qsizetype(size - 2));

    FeedTransport transport;
    DevToolsConnection connection(&transport);
    int outcomes = 0;
    int closedSignals = 0;
    QObject::connect(&connection, &DevToolsConnection::eventReceived, [&] { ++outcomes; });
    QObject::connect(&connection, &DevToolsConnection::malformedMessage, [&] { ++outcomes; });
    QObject::connect(&connection, &DevToolsConnection::lateReply, [&] { ++outcomes; });
    QObject::connect(&connection, &DevToolsConnection::closed, [&] { ++closedSignals; });

    std::vector<int> runs; // how often each call's callback ran
    std::function<void()> call = [&] {
        const size_t index = runs.size();
        runs.push_back(0);
        const QString session = index % 3 == 2 ? QStringLiteral("S1") : QString();
        connection.call(QStringLiteral("Fuzz.call"), {}, session,
                        [&, index](const QJsonObject &, const CallError &error) {
                            ++runs[index];
                            if (error.kind == CallError::Closed)
                                return;
                            ++outcomes;
                            if (callOnAnswer && runs.size() < maxCalls)
                                call();
                        });
    };
    for (int i = 0; i < firstCalls; ++i)
        call();

    // The stream in pieces of 1 byte to 32 KB, as reads may return it.
    NulFraming framing;
    QList<QByteArray> messages;
    for (qsizetype at = 0; at < stream.size();) {
        cuts = cuts * 1664525U + 1013904223U;
        const quint32 bits = cuts >> 28;
        const qsizetype piece = qMin(stream.size() - at, qsizetype(1 + ((cuts >> 8) & ((1U << bits) - 1))));
        if ((cuts & 1) != 0) {
            framing.append(stream.sliced(at, piece));
        } else {
            char *room = framing.reserve(piece + 7);
            std::memcpy(room, stream.data() + at, size_t(piece));
            framing.commit(piece);
        }
        at += piece;
        while (std::optional<QByteArray> message = framing.next()) {
            messages.append(*message);
            const int before = outcomes;
            transport.feed(*message);
            FUZZ_CHECK(outcomes == before + 1);
        }
    }
    QList<QByteArray> whole = stream.toByteArray().split('\0');
    FUZZ_CHECK(framing.bufferedBytes() == whole.takeLast().size());
    FUZZ_CHECK(messages == whole);

    transport.hangUp();
    FUZZ_CHECK(closedSignals == 1);
    FUZZ_CHECK(connection.pendingCalls() == 0);
    for (const int n : runs)
        FUZZ_CHECK(n == 1);
    return 0;
}
