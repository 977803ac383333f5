#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// The longest gap between two ticks of a fast timer: how long the event loop
// was kept from running. Measures from construction until stop().
class StallMeter final : public QObject
{
public:
    explicit StallMeter(int intervalMs = 1)
    {
        m_timer.setInterval(intervalMs);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &StallMeter::tick);
        m_sinceTick.start();
        m_timer.start();
    }
    // Counts the gap up to now as well, then stops measuring.
    void stop()
    {
        if (!m_timer.isActive())
            return;
        tick();
        m_timer.stop();
    }
    double longestMs() const { return m_longestMs; }

private:
    void tick()
    {
        m_longestMs = std::max(m_longestMs, double(m_sinceTick.nsecsElapsed()) / 1e6);
        m_sinceTick.start();
    }

    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    double m_longestMs = 0;
};
