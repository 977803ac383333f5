#include "engine/settle_watch.h"

#include <algorithm>
#include <limits>

namespace engine {

namespace {

// Requests that may stay open as long as the page lives, and reports the
// page sends and never reads (beacons, CSP reports), never hold it.
bool neverHolds(const QString &type)
{
    return type == QLatin1String("EventSource") || type == QLatin1String("WebSocket") || type == QLatin1String("Ping")
        || type == QLatin1String("CSPViolationReport");
}

} // namespace

SettleWatch::SettleWatch(int boundMs, QObject *parent) : QObject(parent), m_boundMs(std::max(0, boundMs))
{
    m_clock.start();
    // A coarse timer may fire 5 % early: the bound is a promise.
    m_deadline.setTimerType(Qt::PreciseTimer);
    m_deadline.setSingleShot(true);
    m_next.setTimerType(Qt::PreciseTimer);
    m_next.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        stop();
        emit readDue(true);
    });
    connect(&m_next, &QTimer::timeout, this, &SettleWatch::check);
}

void SettleWatch::networkEvent(const DevToolsSession *from, const QString &method, const QJsonObject &params)
{
    // Most events of a big page are its data arriving: decided on the name alone.
    const bool starts = method == QLatin1String("Network.requestWillBeSent");
    if (!starts && method != QLatin1String("Network.loadingFinished")
        && method != QLatin1String("Network.loadingFailed"))
        return;
    const QString id = params.value(QLatin1String("requestId")).toString();
    if (starts) {
        // The top document's own navigation is the next document, read in
        // its turn: it does not hold this one (a page that reloads on load
        // is read at every load).
        const QString type = params.value(QLatin1String("type")).toString();
        if (neverHolds(type)
            || (type == QLatin1String("Document") && params.value(QLatin1String("frameId")).toString() == m_topFrameId))
            return;
        // A redirect is the same request going on.
        if (!m_inFlight.contains(id))
            m_inFlight.insert(id, {from, m_clock.elapsed()});
    } else {
        if (m_inFlight.remove(id) == 0)
            return;
        m_lastEndMs = m_clock.elapsed();
    }
    if (m_settling && !m_reading)
        check();
}

void SettleWatch::sessionGone(const DevToolsSession *session)
{
    const auto before = m_inFlight.size();
    m_inFlight.removeIf([session](const auto &entry) { return entry.value().session == session; });
    if (m_inFlight.size() != before && m_settling && !m_reading)
        check();
}

void SettleWatch::newDocument(const QString &topFrameId)
{
    stop();
    m_topFrameId = topFrameId;
    m_inFlight.clear();
}

bool SettleWatch::loaded()
{
    stop();
    if (m_boundMs == 0)
        return true;
    const qint64 now = m_clock.elapsed();
    const bool holding = std::any_of(m_inFlight.cbegin(), m_inFlight.cend(),
                                     [this, now](const Request &r) { return now - r.startedMs < m_boundMs; });
    if (!holding)
        return true;
    m_settling = true;
    m_deadline.start(m_boundMs);
    check();
    return false;
}

void SettleWatch::readTooEarly(int waitMs)
{
    if (!m_settling)
        return;
    m_reading = false;
    m_next.start(std::clamp(waitMs, 1, quietMs));
}

void SettleWatch::stop()
{
    m_settling = false;
    m_reading = false;
    m_deadline.stop();
    m_next.stop();
}

void SettleWatch::check()
{
    m_next.stop();
    const qint64 now = m_clock.elapsed();
    // A request pending for longer than the bound never holds the page: the
    // earliest moment one of those still holding stops doing so.
    qint64 ageOut = std::numeric_limits<qint64>::max();
    for (const Request &request : std::as_const(m_inFlight)) {
        const qint64 age = now - request.startedMs;
        if (age < m_boundMs)
            ageOut = std::min(ageOut, m_boundMs - age);
    }
    if (ageOut != std::numeric_limits<qint64>::max())
        return m_next.start(int(ageOut));
    const qint64 quietLeft = m_lastEndMs + quietMs - now;
    if (quietLeft > 0)
        return m_next.start(int(quietLeft));
    m_reading = true;
    emit readDue(false);
}

} // namespace engine
