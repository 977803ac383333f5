#include "engine/nul_framing.h"

#include <QtGlobal>

namespace engine {

char *NulFraming::reserve(qsizetype size)
{
    compact();
    m_reserved = m_buffer.size();
    m_buffer.resize(m_reserved + size);
    return m_buffer.data() + m_reserved;
}

void NulFraming::commit(qsizetype filled)
{
    Q_ASSERT(m_reserved >= 0 && filled >= 0 && m_reserved + filled <= m_buffer.size());
    m_buffer.resize(m_reserved + qBound<qsizetype>(0, filled, m_buffer.size() - m_reserved));
    m_reserved = -1;
}

void NulFraming::append(QByteArrayView bytes)
{
    compact();
    m_buffer.append(bytes);
}

std::optional<QByteArray> NulFraming::next()
{
    const qsizetype nul = m_buffer.indexOf('\0', qMax(m_start, m_scanFrom));
    if (nul < 0) {
        // Scanned to the end: the next search starts where this one stopped,
        // so a message arriving in many reads is scanned once.
        m_scanFrom = m_buffer.size();
        compact();
        return std::nullopt;
    }
    QByteArray message = m_buffer.mid(m_start, nul - m_start);
    m_start = nul + 1;
    m_scanFrom = m_start;
    return message;
}

void NulFraming::clear()
{
    m_buffer.clear();
    m_start = 0;
    m_scanFrom = 0;
    m_reserved = -1;
}

// Drops what was handed on; the unfinished rest moves to the front.
void NulFraming::compact()
{
    if (m_start == 0)
        return;
    m_buffer.remove(0, m_start);
    m_scanFrom -= m_start;
    m_start = 0;
}

} // namespace engine
