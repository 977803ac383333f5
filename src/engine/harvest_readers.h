#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <optional>

namespace engine {

class DevToolsSession;

// A page's links as read, with the address of the document they came from.
struct PageLinks
{
    QString url;
    QStringList links;
    bool cut = false; // the links past the harvest bound were left out
};

// The plain read reports a document's links in parts, in order (through the
// binding, or one evaluate each); this puts them back together, up to the
// link that would take their text past maxUnits.
class PlainParts
{
public:
    explicit PlainParts(qint64 maxUnits) : m_maxUnits(maxUnits) {}

    qint64 maxUnits() const { return m_maxUnits; }
    // One report as the page sent it. Returns the links once the last part
    // of a document has come, or the bound was reached; a part out of turn
    // drops what was gathered.
    std::optional<PageLinks> add(const QString &payload);
    // The part expected next: 0 after a whole read or a part out of turn.
    int next() const { return m_next; }
    void clear();

private:
    qint64 m_maxUnits;
    qint64 m_units = 0;
    int m_parts = 0;
    int m_next = 0;
    PageLinks m_read;
};

// The evaluate path: the document is read by one Runtime.evaluate in an
// isolated world after its load event. The world is made when the document
// commits, so a load costs one round trip, not two. Both paths read this way
// a document that stops itself (window.stop()), which fires neither the load
// event nor pageshow, and a document read once it has settled.
class EvaluateHarvest final : public QObject
{
    Q_OBJECT
public:
    EvaluateHarvest(DevToolsSession *page, int timeoutMs, qint64 maxUnits, QObject *parent = nullptr);

    // A new top-level document committed in frameId. Its world is made now
    // when prepare (the evaluate path reads every document); otherwise the
    // last document's world is forgotten, to be made only if it is needed.
    void committed(const QString &frameId, bool prepare);
    // Reads the current document now: it fired its load event, or stopped
    // without one.
    void loaded();
    // Starts noting when the current document's anchors change, for boundMs.
    void watchAnchors(int boundMs);
    // Reads the current document if its anchors have been still for quietMs
    // (0: whatever they do); otherwise tooEarly follows.
    void readSettled(int quietMs);
    // Whatever is under way is no longer wanted.
    void abandon()
    {
        m_queued.clear();
        m_parts.clear();
        ++m_read;
    }

signals:
    void harvested(const QString &url, const QStringList &links, bool cut);
    // The anchors changed less than the quiet interval ago: ask again in waitMs.
    void tooEarly(int waitMs);
    // The renderer left a call unanswered: the page keeps it busy.
    void unresponsive();

private:
    struct Evaluation
    {
        QString expression;
        bool read; // a harvest, whose failures count
    };

    void run(const Evaluation &evaluation);
    void makeWorld();
    void evaluate(int contextId, const Evaluation &evaluation);
    // The part of the read after part - 1, one call at a time.
    void fetchPart(int contextId, int part);
    void onPart(const QJsonValue &value, int contextId);

    QPointer<DevToolsSession> m_page;
    int m_timeoutMs;
    PlainParts m_parts; // the read under way
    int m_read = 0;     // bumps per read; tags its parts' replies
    QString m_frameId;
    int m_document = 0; // bumps per document; tags world replies
    int m_context = 0;  // 0 until the current document's world exists
    bool m_worldPending = false;
    QList<Evaluation> m_queued; // asked for before the world was ready
};

} // namespace engine
