#pragma once

#include <QByteArray>
#include <QObject>

namespace engine {

// A message channel to Chromium. Linux uses a pair of pipes; a Windows build
// needs only another implementation of this interface.
class Transport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~Transport() override = default;

    // Queues one message; never blocks. Ignored once closed.
    virtual void send(const QByteArray &message) = 0;
    // Closes both directions. closed() is emitted only when the channel ends
    // by itself, never for this call.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

signals:
    void messageReceived(const QByteArray &message);
    // The other end went away or the channel failed; reason is for diagnostics.
    void closed(const QString &reason);
};

} // namespace engine
