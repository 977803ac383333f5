#pragma once

#include "engine/browser.h"
#include "engine/page_scripts.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

namespace engine {

class DevToolsSession;
struct CallError;

// One document's links as the reader walked it.
struct DocumentLinks
{
    QString url;
    Links links;
    int frames = 0;   // the child frames it holds, when frames are in scope
    qint64 units = 0; // what its links count towards the harvest bound
    bool cut = false; // it ended at the bound: its later links were left out
};

// The parts of one walk put back together, in order. Whatever a part holds,
// the links and their details stay consistent: a text or flag without its
// link is dropped, and no text is longer than the reader keeps.
class LinkParts
{
public:
    // Returns the document once its last part has come, or once its links
    // would count more than room; a part out of turn drops what was gathered.
    std::optional<DocumentLinks> add(const QString &payload, qint64 room = scripts::defaultHarvestUnits);
    // What the parts gathered so far count.
    qint64 units() const { return m_document.units; }
    // The part expected next: 0 after a whole walk or a part out of turn.
    int next() const { return m_next; }
    void clear() { *this = {}; }

private:
    int m_parts = 0;
    int m_next = 0;
    DocumentLinks m_document;
};

struct ScopedHarvestSettings
{
    LinkScope scope;
    int callTimeoutMs = 15000;
    // Once the page's own document is read, how long its frames and closed
    // shadow trees may take; what has not come by then is left out.
    int extrasMs = 5000;
    int maxFrames = 1000;      // frames read per page
    int maxClosedRoots = 5000; // closed shadow roots opened per page
    // The harvest bound, shared by the page's documents: the read keeps the
    // links before it in document order.
    qint64 maxUnits = scripts::defaultHarvestUnits;
};

// Reads a top-level document with a scope: its own links, those of its
// shadow trees, and each frame's document where the frame's element stands.
// Every document is walked in an isolated world of its own frame by the
// page scripts' reader; a frame in another process is read on its target's
// session. Closed shadow roots, which no world can see, are found through
// deep serialization of the elements that may hold one, resolved into the
// reader's world by the DOM domain (DOM.resolveNode) and walked there.
class ScopedHarvest final : public QObject
{
    Q_OBJECT
public:
    ScopedHarvest(DevToolsSession *page, const ScopedHarvestSettings &settings, QObject *parent = nullptr);

    const LinkScope &scope() const { return m_settings.scope; }

    // A new top-level document committed in frameId: what was under way is
    // dropped.
    void committed(const QString &frameId);
    // Page events of any session of the tab: frames come and go.
    void frameEvent(DevToolsSession *from, const QString &method, const QJsonObject &params);
    // Whether the current document has had frames.
    bool holdsFrames() const { return !m_frames.isEmpty(); }
    // A frame target of the tab (another process): its frames are read on it.
    void addFrameSession(DevToolsSession *session);
    // The binding path's world came up in a frame. In the top frame, with
    // shadow trees in scope, the elements to ask about are awaited from now:
    // they come in the load task, before the first layout.
    void harvestWorldCreated(int contextId, const QString &frameId);
    // A report of the binding path; true once the document's walk is whole.
    bool bindingReport(const QString &payload);
    // The binding's walk, whole; empty if none.
    const std::optional<DocumentLinks> &walked() const { return m_walked; }
    // Reads on from the binding's walk: the document loaded with nothing
    // holding it.
    void readWalked();
    // Reads the current top document through the evaluate world, if its
    // anchors have been still for quietMs (0: whatever they do); otherwise
    // tooEarly follows.
    void read(int quietMs);
    // Nothing under way is wanted any more.
    void abandon();

signals:
    // cut: links past the harvest bound were left out.
    void harvested(const QString &url, const engine::Links &links, bool cut);
    void tooEarly(int waitMs);
    // The renderer left a call about the page's own document unanswered.
    void unresponsive();

private:
    struct Doc
    {
        QPointer<DevToolsSession> session;
        QString frameId;
        int parent = -1;
        int context = 0;
        LinkParts parts;
        std::optional<DocumentLinks> walk;
        bool asked = false;    // its elements have been asked about closed roots
        bool rewalked = false; // walked again with the closed roots it holds
        int adopted = 0;
        bool done = false;
        // Where each child document's frame element stands: (link position,
        // element's rank), by child index.
        QHash<int, std::pair<int, int>> placed;
    };
    struct Frame
    {
        QString parentId;
        QPointer<DevToolsSession> announcedOn; // where Page.frameAttached came
        QPointer<DevToolsSession> own;         // its target's, when out of process
    };
    struct Asks
    {
        bool more = false;
        int hosts = 0;
        QList<int> closedRoots; // backendNodeIds
    };

    void begin();
    bool current(int generation) const { return generation == m_generation; }
    void startDoc(int doc, int quietMs);
    void walk(int doc, int quietMs);
    void fetchParts(int doc, int parts, int generation);
    void walked(int doc);
    void askNext(int doc);
    void onAsks(int doc, const Asks &asks);
    void asksDone(int doc);
    // A node of doc in the reader's world: done gets its object id, empty
    // when it is gone. Nothing is called once the read has moved on.
    void resolveInReader(int doc, int backendNodeId, const std::function<void(const QString &)> &done);
    // function run in doc's reader world on arguments; done gets its value,
    // undefined when the call failed.
    void callInReader(int doc, const QString &function, const QJsonArray &arguments,
                      const std::function<void(const QJsonValue &)> &done);
    void placeFrames(int doc);
    void startFrames();
    void docFailed(int doc, const CallError &error);
    void docDone(int doc);
    void finish();
    struct Assembly
    {
        Links links;
        qint64 units = 0;
        bool ended = false; // at the bound, or where a document's read was cut
    };
    void appendDoc(int doc, Assembly &out, int depth) const;
    // What doc's links may still count: the bound less every other document's.
    qint64 roomFor(int doc) const;
    DevToolsSession *sessionFor(const QString &frameId) const;
    static Asks readAsks(const QJsonObject &result);

    QPointer<DevToolsSession> m_page;
    ScopedHarvestSettings m_settings;
    QString m_topFrameId;
    QHash<QString, Frame> m_frames; // frame id -> where it is
    LinkParts m_bindingParts;
    std::optional<DocumentLinks> m_walked;
    int m_harvestContext = 0;
    std::optional<Asks> m_earlyAsks;
    bool m_awaitingEarlyAsks = false; // the read waits for them

    int m_generation = 0; // bumps per read and per document; tags replies
    bool m_reading = false;
    std::vector<Doc> m_docs; // [0] is the top document
    bool m_framesStarted = false;
    int m_closedRoots = 0;
    QTimer m_extras;
};

} // namespace engine
