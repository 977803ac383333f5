#include "engine/pipe_transport.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace engine {

namespace {

void setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Bounds the work done per readable notification so a huge message does not
// stall the event loop; the notifier fires again while data is left.
constexpr qsizetype maxReadPerWakeup = qsizetype(8) * 1024 * 1024;
constexpr qsizetype readChunk = qsizetype(256) * 1024;
constexpr qsizetype maxDeliveryPerTurn = qsizetype(256) * 1024;

} // namespace

PipeTransport::PipeTransport(int readFd, int writeFd, QObject *parent)
    : Transport(parent), m_readFd(readFd), m_writeFd(writeFd)
{
    setNonBlocking(m_readFd);
    setNonBlocking(m_writeFd);
    m_readNotifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PipeTransport::onReadable);
    m_writeNotifier = new QSocketNotifier(m_writeFd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PipeTransport::onWritable);
}

PipeTransport::~PipeTransport()
{
    // No signal from a destructor: the owner is going away too.
    blockSignals(true);
    close();
}

void PipeTransport::send(const QByteArray &message)
{
    if (!isOpen())
        return;
    if (m_writeOffset > 0 && m_writeOffset == m_writeBuffer.size()) {
        m_writeBuffer.clear();
        m_writeOffset = 0;
    }
    m_writeBuffer.append(message);
    m_writeBuffer.append('\0');
    if (!m_writeNotifier->isEnabled())
        flush();
}

void PipeTransport::flush()
{
    while (m_writeOffset < m_writeBuffer.size()) {
        const ssize_t n =
            ::write(m_writeFd, m_writeBuffer.constData() + m_writeOffset, size_t(m_writeBuffer.size() - m_writeOffset));
        if (n > 0) {
            m_writeOffset += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        fail(QStringLiteral("write: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    m_writeBuffer.clear();
    m_writeOffset = 0;
    m_writeNotifier->setEnabled(false);
}

void PipeTransport::onWritable()
{
    flush();
}

void PipeTransport::onReadable()
{
    qsizetype readThisTime = 0;
    while (readThisTime < maxReadPerWakeup) {
        char *room = m_incoming.reserve(readChunk);
        const ssize_t n = ::read(m_readFd, room, size_t(readChunk));
        m_incoming.commit(qMax<ssize_t>(n, 0));
        if (n > 0) {
            readThisTime += n;
            continue;
        }
        if (n == 0) {
            m_eof = true;
            // A closed pipe stays readable: stop listening or it spins.
            m_readNotifier->setEnabled(false);
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        fail(QStringLiteral("read: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    if (!m_deliveryQueued)
        deliver();
}

void PipeTransport::deliver()
{
    m_deliveryQueued = false;
    if (!isOpen())
        return;
    QPointer<PipeTransport> self(this);
    qsizetype delivered = 0;
    for (;;) {
        // Whoever handles a big message parses it on this thread: after a
        // budget's worth, let the event loop run before the next one.
        if (delivered >= maxDeliveryPerTurn) {
            m_deliveryQueued = true;
            QMetaObject::invokeMethod(this, &PipeTransport::deliver, Qt::QueuedConnection);
            break;
        }
        std::optional<QByteArray> message = m_incoming.next();
        if (!message)
            break;
        delivered += message->size();
        emit messageReceived(*message);
        if (!self || !isOpen())
            return;
    }
    if (m_eof && !m_deliveryQueued)
        fail(QStringLiteral("end of file"));
}

void PipeTransport::fail(const QString &reason)
{
    if (!isOpen())
        return;
    close();
    emit closed(reason);
}

void PipeTransport::close()
{
    if (m_readFd < 0)
        return;
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    ::close(m_readFd);
    if (m_writeFd != m_readFd)
        ::close(m_writeFd);
    m_readFd = -1;
    m_writeFd = -1;
    m_writeBuffer.clear();
    m_writeOffset = 0;
    m_incoming.clear();
}

} // namespace engine
