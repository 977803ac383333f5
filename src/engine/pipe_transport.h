#pragma once

#include "engine/nul_framing.h"
#include "engine/transport.h"

#include <QByteArray>

class QSocketNotifier;

namespace engine {

// NUL-framed messages over two file descriptors, read and written without
// blocking from the event loop (no threads). Owns both descriptors.
class PipeTransport final : public Transport
{
    Q_OBJECT
public:
    // readFd carries messages from Chromium, writeFd carries ours to it.
    PipeTransport(int readFd, int writeFd, QObject *parent = nullptr);
    ~PipeTransport() override;

    void send(const QByteArray &message) override;
    void close() override;
    bool isOpen() const override { return m_readFd >= 0; }

    // Bytes queued because the pipe was full; for tests.
    qsizetype pendingWriteBytes() const { return m_writeBuffer.size() - m_writeOffset; }

private:
    void onReadable();
    // Hands complete messages on, a bounded amount per turn of the event loop.
    void deliver();
    void onWritable();
    void flush();
    void fail(const QString &reason);

    int m_readFd = -1;
    int m_writeFd = -1;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    NulFraming m_incoming;
    bool m_deliveryQueued = false;
    bool m_eof = false;
    QByteArray m_writeBuffer;
    qsizetype m_writeOffset = 0;
};

} // namespace engine
