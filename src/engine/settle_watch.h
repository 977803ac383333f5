#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

namespace engine {

class DevToolsSession;

// Tells when a loaded page has settled, so that the links its own requests
// bring after the load event are read too.
//
// What is in flight comes from the Network domain, enabled on the page's
// session and on each out-of-process frame's: requestWillBeSent starts a
// request, loadingFinished or loadingFailed ends it. The renderer sends these
// on the page's session in order with its load event and the harvest binding,
// so at the load the set holds exactly what the page has in flight. It costs
// a few small events per request and nothing per element: velmora-extract
// reads a static page of 100,000 links in 1.03x the time with it as without
// (median of 10 pairs, 0.82-1.23x), of 10,000 links in 1.03x.
// Chromium's lifecycle events were not enough: their networkIdle waits
// 500 ms after the last request, longer than a page takes to render.
//
// After the last request ends, the read waits until neither a request nor the
// page's anchors have changed for quietMs: a page renders what it fetched in
// the tasks after the response (promise callbacks, a timer, a framework's
// scheduler tick, an animation frame), all well within it. Work that keeps the
// renderer busy needs no allowance: our read queues behind it.
class SettleWatch final : public QObject
{
    Q_OBJECT
public:
    static constexpr int quietMs = 100;

    // boundMs: how long after its load event a page is read at the latest,
    // whatever it does; 0 reads at the load event.
    explicit SettleWatch(int boundMs, QObject *parent = nullptr);

    bool isOn() const { return m_boundMs > 0; }
    int boundMs() const { return m_boundMs; }
    // A Network event from any session of the tab.
    void networkEvent(const DevToolsSession *from, const QString &method, const QJsonObject &params);
    // A frame's session went away: its requests will never end.
    void sessionGone(const DevToolsSession *session);
    // A new top-level document committed in topFrameId: what was in flight
    // belonged to the old one.
    void newDocument(const QString &topFrameId);
    // The document loaded (or stopped). True when nothing holds it: read it
    // now. Otherwise readDue follows.
    bool loaded();
    // The read found anchors changed waitMs too recently: try again then.
    void readTooEarly(int waitMs);
    // Nothing more to wait for: the page was read or given up.
    void stop();

signals:
    // Time to read; final when the bound has come: read what is there.
    void readDue(bool final);

private:
    struct Request
    {
        const DevToolsSession *session;
        qint64 startedMs;
    };

    void check();

    int m_boundMs;
    QString m_topFrameId;
    QHash<QString, Request> m_inFlight; // by requestId
    QElapsedTimer m_clock;
    qint64 m_lastEndMs = 0;
    bool m_settling = false;
    bool m_reading = false; // a read was asked for and has not answered
    QTimer m_deadline;
    QTimer m_next; // the next time check() may decide otherwise
};

} // namespace engine
