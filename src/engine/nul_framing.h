#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace engine {

// Cuts a byte stream into the NUL-ended messages of the DevTools pipe,
// however the stream was split into reads. Holds the unfinished rest.
class NulFraming final
{
public:
    // Room for up to size more bytes, to be filled by the caller (a read);
    // commit() then keeps the first filled of them.
    char *reserve(qsizetype size);
    void commit(qsizetype filled);
    void append(QByteArrayView bytes);

    // The next complete message without its NUL; nothing while the rest is
    // unfinished.
    std::optional<QByteArray> next();

    qsizetype bufferedBytes() const { return m_buffer.size() - m_start; }
    void clear();

private:
    void compact();

    QByteArray m_buffer;
    qsizetype m_start = 0;     // bytes before this were handed on
    qsizetype m_scanFrom = 0;  // no NUL from m_start up to here
    qsizetype m_reserved = -1; // where reserve() put the room, until commit()
};

} // namespace engine
