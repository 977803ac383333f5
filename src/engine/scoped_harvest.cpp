#include "engine/scoped_harvest.h"

#include "engine/devtools_connection.h"
#include "engine/page_scripts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>
#include <climits>
#include <memory>
#include <tuple>

namespace engine {

namespace {

// Everything a read holds in a world, released once it is over.
const QString objectGroup = QStringLiteral("velmora-read");

// No walk of ours has more parts than this: 32 GB of links.
constexpr int maxParts = 1 << 16;

// The value of a returnByValue evaluate; undefined when it threw.
QJsonValue valueOf(const QJsonObject &result)
{
    if (result.contains(QLatin1String("exceptionDetails")))
        return QJsonValue(QJsonValue::Undefined);
    return result.value(QLatin1String("result")).toObject().value(QLatin1String("value"));
}

} // namespace

std::optional<DocumentLinks> LinkParts::add(const QString &payload, qint64 room)
{
    const QJsonObject report = QJsonDocument::fromJson(payload.toUtf8()).object();
    const int part = report.value(QLatin1String("part")).toInt(-1);
    const int parts = report.value(QLatin1String("parts")).toInt(0);
    const QString url = report.value(QLatin1String("url")).toString();
    if (part == 0) {
        clear();
        m_parts = parts;
        m_document.url = url;
        m_document.frames = std::max(0, report.value(QLatin1String("frames")).toInt());
    }
    if (part < 0 || part != m_next || parts != m_parts || parts < 1 || parts > maxParts || url != m_document.url) {
        clear();
        return std::nullopt;
    }
    const QJsonArray links = report.value(QLatin1String("links")).toArray();
    const QJsonArray texts = report.value(QLatin1String("texts")).toArray();
    const QJsonArray flags = report.value(QLatin1String("flags")).toArray();
    const qsizetype first = m_document.links.size();
    m_document.links.reserve(first + links.size());
    for (qsizetype i = 0; i < links.size(); ++i) {
        Link link;
        link.href = links.at(i).toString();
        if (i < texts.size())
            link.text = texts.at(i).toString().left(scripts::reader::maxTextUnits);
        m_document.units += scripts::linkUnits(link.href.size(), link.text.size());
        if (m_document.units > room) {
            m_document.cut = true;
            break;
        }
        m_document.links.append(std::move(link));
    }
    // Index and bits in pairs; an index outside this part is no link of it.
    for (qsizetype i = 0; i + 1 < flags.size(); i += 2) {
        const qint64 at = flags.at(i).toInteger(-1);
        if (at < first || at >= m_document.links.size())
            continue;
        const qint64 bits = flags.at(i + 1).toInteger(0);
        Link &link = m_document.links[at];
        link.element = (bits & 1) != 0 ? Link::Element::Area : Link::Element::A;
        link.inShadowTree = (bits & 2) != 0;
    }
    if (!m_document.cut && ++m_next < m_parts)
        return std::nullopt;
    DocumentLinks done = std::move(m_document);
    clear();
    return done;
}

ScopedHarvest::ScopedHarvest(DevToolsSession *page, const ScopedHarvestSettings &settings, QObject *parent)
    : QObject(parent), m_page(page), m_settings(settings)
{
    if (page)
        m_topFrameId = page->targetId(); // a page target's id is its top frame's
    m_extras.setSingleShot(true);
    connect(&m_extras, &QTimer::timeout, this, &ScopedHarvest::finish);
}

void ScopedHarvest::committed(const QString &frameId)
{
    abandon();
    m_topFrameId = frameId;
    m_frames.clear();
    m_bindingParts.clear();
    m_walked.reset();
}

void ScopedHarvest::frameEvent(DevToolsSession *from, const QString &method, const QJsonObject &params)
{
    const QString id = params.value(QLatin1String("frameId")).toString();
    if (method == QLatin1String("Page.frameAttached")) {
        Frame &frame = m_frames[id];
        frame.parentId = params.value(QLatin1String("parentFrameId")).toString();
        frame.announcedOn = from;
    } else if (method == QLatin1String("Page.frameDetached")) {
        // A frame moving to another process detaches with "swap" and lives on.
        if (params.value(QLatin1String("reason")).toString() != QLatin1String("swap"))
            m_frames.remove(id);
    }
}

void ScopedHarvest::addFrameSession(DevToolsSession *session)
{
    // An out-of-process frame's target bears the frame's id.
    m_frames[session->targetId()].own = session;
}

DevToolsSession *ScopedHarvest::sessionFor(const QString &frameId) const
{
    const auto frame = m_frames.constFind(frameId);
    if (frame == m_frames.cend())
        return nullptr;
    return frame->own ? frame->own.data() : frame->announcedOn.data();
}

void ScopedHarvest::harvestWorldCreated(int contextId, const QString &frameId)
{
    if (frameId != m_topFrameId || !m_page)
        return;
    m_harvestContext = contextId;
    m_earlyAsks.reset();
    if (!m_settings.scope.shadowTrees)
        return;
    // Answered at the pageshow, or with an error when the document goes.
    QPointer<ScopedHarvest> self(this);
    m_page->call(
        QStringLiteral("Runtime.evaluate"),
        {{QStringLiteral("expression"), scripts::asksExpression()},
         {QStringLiteral("contextId"), contextId},
         {QStringLiteral("awaitPromise"), true},
         {QStringLiteral("objectGroup"), objectGroup},
         {QStringLiteral("serializationOptions"), scripts::nodeSerialization()}},
        [self, contextId](const QJsonObject &result, const CallError &error) {
            if (!self || self->m_harvestContext != contextId)
                return;
            self->m_earlyAsks = error.isError() ? Asks{} : readAsks(result);
            if (std::exchange(self->m_awaitingEarlyAsks, false) && self->m_reading)
                self->onAsks(0, *self->m_earlyAsks);
        },
        DevToolsConnection::noTimeout);
}

bool ScopedHarvest::bindingReport(const QString &payload)
{
    auto document = m_bindingParts.add(payload, m_settings.maxUnits);
    if (!document)
        return false;
    m_walked = std::move(document);
    return true;
}

void ScopedHarvest::begin()
{
    ++m_generation;
    m_reading = true;
    m_docs.clear();
    m_framesStarted = false;
    m_closedRoots = 0;
    m_awaitingEarlyAsks = false;
    m_extras.stop();
}

void ScopedHarvest::abandon()
{
    ++m_generation;
    m_reading = false;
    m_docs.clear();
    m_awaitingEarlyAsks = false;
    m_extras.stop();
}

void ScopedHarvest::readWalked()
{
    if (!m_walked)
        return;
    begin();
    Doc top;
    top.session = m_page;
    top.frameId = m_topFrameId;
    top.context = m_harvestContext;
    top.walk = m_walked;
    m_docs.push_back(std::move(top));
    // Closed roots are opened, and frames placed, in the world that walked:
    // without it the document is walked again in the evaluate world.
    const bool needsWorld = m_settings.scope.shadowTrees || (m_settings.scope.frames && m_walked->frames > 0);
    if (needsWorld && m_harvestContext == 0)
        return startDoc(0, 0);
    if (!m_settings.scope.shadowTrees)
        return walked(0);
    m_extras.start(m_settings.extrasMs);
    m_docs[0].asked = true;
    if (m_earlyAsks)
        return onAsks(0, *m_earlyAsks);
    m_awaitingEarlyAsks = true;
}

void ScopedHarvest::read(int quietMs)
{
    begin();
    Doc top;
    top.session = m_page;
    top.frameId = m_topFrameId;
    m_docs.push_back(std::move(top));
    startDoc(0, quietMs);
}

void ScopedHarvest::startDoc(int doc, int quietMs)
{
    Doc &d = m_docs[size_t(doc)];
    if (!d.session)
        return docFailed(doc, {CallError::Closed, {}});
    QPointer<ScopedHarvest> self(this);
    const int generation = m_generation;
    d.session->call(
        QStringLiteral("Page.createIsolatedWorld"),
        {{QStringLiteral("frameId"), d.frameId}, {QStringLiteral("worldName"), scripts::evaluateWorld}},
        [self, doc, generation, quietMs](const QJsonObject &result, const CallError &error) {
            if (!self || !self->current(generation))
                return;
            const int context = result.value(QLatin1String("executionContextId")).toInt();
            if (error.isError() || context == 0)
                return self->docFailed(doc, error);
            self->m_docs[size_t(doc)].context = context;
            self->walk(doc, quietMs);
        },
        m_settings.callTimeoutMs);
}

void ScopedHarvest::walk(int doc, int quietMs)
{
    Doc &d = m_docs[size_t(doc)];
    if (!d.session)
        return docFailed(doc, {CallError::Closed, {}});
    QPointer<ScopedHarvest> self(this);
    const int generation = m_generation;
    d.session->call(
        QStringLiteral("Runtime.evaluate"),
        {{QStringLiteral("expression"), scripts::scopedReadExpression(m_settings.scope, quietMs, m_settings.maxUnits)},
         {QStringLiteral("contextId"), d.context},
         {QStringLiteral("returnByValue"), true}},
        [self, doc, generation](const QJsonObject &result, const CallError &error) {
            if (!self || !self->current(generation))
                return;
            const QJsonObject value = valueOf(result).toObject();
            if (error.isError() || value.isEmpty())
                return self->docFailed(doc, error);
            // Only the page's own first walk waits for its anchors to be still.
            if (value.contains(QLatin1String("wait"))) {
                if (doc != 0 || self->m_docs.front().walk)
                    return self->docFailed(doc, {CallError::Protocol, QStringLiteral("unasked wait")});
                self->m_reading = false;
                return emit self->tooEarly(value.value(QLatin1String("wait")).toInt());
            }
            Doc &d = self->m_docs[size_t(doc)];
            d.parts.clear();
            if (auto walked = d.parts.add(value.value(QLatin1String("first")).toString(), self->roomFor(doc))) {
                d.walk = std::move(walked);
                return self->walked(doc);
            }
            const int parts = value.value(QLatin1String("parts")).toInt();
            if (d.parts.next() != 1 || parts < 2 || parts > maxParts)
                return self->docFailed(doc, {CallError::Protocol, QStringLiteral("unreadable walk")});
            self->fetchParts(doc, 1, generation);
        },
        m_settings.callTimeoutMs);
}

// One at a time: each is parsed in its own turn, and no more is asked for
// than is used.
void ScopedHarvest::fetchParts(int doc, int part, int generation)
{
    Doc &d = m_docs[size_t(doc)];
    if (!d.session)
        return docFailed(doc, {CallError::Closed, {}});
    QPointer<ScopedHarvest> self(this);
    d.session->call(
        QStringLiteral("Runtime.evaluate"),
        {{QStringLiteral("expression"), scripts::scopedPartExpression(part)},
         {QStringLiteral("contextId"), d.context},
         {QStringLiteral("returnByValue"), true}},
        [self, doc, part, generation](const QJsonObject &result, const CallError &error) {
            if (!self || !self->current(generation))
                return;
            if (error.isError())
                return self->docFailed(doc, error);
            Doc &d = self->m_docs[size_t(doc)];
            if (auto walked = d.parts.add(valueOf(result).toString(), self->roomFor(doc))) {
                d.walk = std::move(walked);
                return self->walked(doc);
            }
            if (d.parts.next() != part + 1)
                return self->docFailed(doc, {CallError::Protocol, QStringLiteral("unreadable part")});
            self->fetchParts(doc, part + 1, generation);
        },
        m_settings.callTimeoutMs);
}

void ScopedHarvest::walked(int doc)
{
    // The extras' time runs from the page's own walk.
    if (doc == 0 && !m_extras.isActive())
        m_extras.start(m_settings.extrasMs);
    Doc &d = m_docs[size_t(doc)];
    if (m_settings.scope.shadowTrees && !d.asked) {
        d.asked = true;
        return askNext(doc);
    }
    placeFrames(doc);
}

void ScopedHarvest::askNext(int doc)
{
    Doc &d = m_docs[size_t(doc)];
    if (!d.session)
        return asksDone(doc);
    QPointer<ScopedHarvest> self(this);
    const int generation = m_generation;
    d.session->call(
        QStringLiteral("Runtime.evaluate"),
        {{QStringLiteral("expression"), scripts::nextAsksExpression()},
         {QStringLiteral("contextId"), d.context},
         {QStringLiteral("objectGroup"), objectGroup},
         {QStringLiteral("serializationOptions"), scripts::nodeSerialization()}},
        [self, doc, generation](const QJsonObject &result, const CallError &error) {
            if (!self || !self->current(generation))
                return;
            if (error.isError())
                return self->asksDone(doc);
            self->onAsks(doc, readAsks(result));
        },
        m_settings.callTimeoutMs);
}

ScopedHarvest::Asks ScopedHarvest::readAsks(const QJsonObject &result)
{
    Asks asks;
    const QJsonObject value =
        result.value(QLatin1String("result")).toObject().value(QLatin1String("deepSerializedValue")).toObject();
    for (const auto &entry : value.value(QLatin1String("value")).toArray()) {
        const QJsonArray pair = entry.toArray();
        const QString key = pair.at(0).toString();
        const QJsonValue member = pair.at(1).toObject().value(QLatin1String("value"));
        if (key == QLatin1String("more")) {
            asks.more = member.toBool();
        } else if (key == QLatin1String("hosts")) {
            for (const auto &node : member.toArray()) {
                ++asks.hosts;
                const QJsonObject root = node.toObject()
                                             .value(QLatin1String("value"))
                                             .toObject()
                                             .value(QLatin1String("shadowRoot"))
                                             .toObject()
                                             .value(QLatin1String("value"))
                                             .toObject();
                const int id = root.value(QLatin1String("backendNodeId")).toInt();
                if (root.value(QLatin1String("mode")).toString() == QLatin1String("closed") && id > 0)
                    asks.closedRoots.append(id);
            }
        }
    }
    return asks;
}

void ScopedHarvest::onAsks(int doc, const Asks &asks)
{
    if (asks.hosts == 0)
        return asksDone(doc);
    const qsizetype room = std::max(0, m_settings.maxClosedRoots - m_closedRoots);
    const QList<int> roots = asks.closedRoots.mid(0, std::min(room, asks.closedRoots.size()));
    if (roots.isEmpty())
        return asks.more ? askNext(doc) : asksDone(doc);
    m_closedRoots += int(roots.size());

    // Each root into the reader's world, then all of them handed over at once.
    Doc &d = m_docs[size_t(doc)];
    if (!d.session)
        return asksDone(doc);
    struct Resolving
    {
        qsizetype remaining;
        QJsonArray arguments;
    };
    auto state = std::make_shared<Resolving>(Resolving{roots.size(), {}});
    QPointer<ScopedHarvest> self(this);
    for (int backendNodeId : roots) {
        resolveInReader(doc, backendNodeId, [self, doc, state](const QString &object) {
            if (!object.isEmpty())
                state->arguments.append(QJsonObject{{QStringLiteral("objectId"), object}});
            if (--state->remaining > 0)
                return;
            if (state->arguments.isEmpty())
                return self->askNext(doc);
            self->callInReader(doc, scripts::adoptRootsFunction(), state->arguments,
                               [self, doc](const QJsonValue &adopted) {
                                   self->m_docs[size_t(doc)].adopted += std::max(0, adopted.toInt());
                                   // The roots' own elements may hold more.
                                   self->askNext(doc);
                               });
        });
    }
}

void ScopedHarvest::resolveInReader(int doc, int backendNodeId, const std::function<void(const QString &)> &done)
{
    const Doc &d = m_docs[size_t(doc)];
    if (!d.session)
        return done({});
    QPointer<ScopedHarvest> self(this);
    const int generation = m_generation;
    d.session->call(
        QStringLiteral("DOM.resolveNode"),
        {{QStringLiteral("backendNodeId"), backendNodeId},
         {QStringLiteral("executionContextId"), d.context},
         {QStringLiteral("objectGroup"), objectGroup}},
        [self, generation, done](const QJsonObject &result, const CallError &error) {
            if (!self || !self->current(generation))
                return;
            done(error.isError()
                     ? QString()
                     : result.value(QLatin1String("object")).toObject().value(QLatin1String("objectId")).toString());
        },
        m_settings.callTimeoutMs);
}

void ScopedHarvest::callInReader(int doc, const QString &function, const QJsonArray &arguments,
                                 const std::function<void(const QJsonValue &)> &done)
{
    const Doc &d = m_docs[size_t(doc)];
    if (!d.session)
        return done({});
    QPointer<ScopedHarvest> self(this);
    const int generation = m_generation;
    d.session->call(
        QStringLiteral("Runtime.callFunctionOn"),
        {{QStringLiteral("functionDeclaration"), function},
         {QStringLiteral("executionContextId"), d.context},
         {QStringLiteral("arguments"), arguments},
         {QStringLiteral("returnByValue"), true}},
        [self, generation, done](const QJsonObject &result, const CallError &error) {
            if (!self || !self->current(generation))
                return;
            done(error.isError() ? QJsonValue() : valueOf(result));
        },
        m_settings.callTimeoutMs);
}

void ScopedHarvest::asksDone(int doc)
{
    Doc &d = m_docs[size_t(doc)];
    if (d.adopted > 0 && !d.rewalked) {
        d.rewalked = true;
        return walk(doc, 0);
    }
    placeFrames(doc);
}

void ScopedHarvest::placeFrames(int doc)
{
    if (!m_settings.scope.frames || !m_docs[size_t(doc)].walk || m_docs[size_t(doc)].walk->frames <= 0)
        return docDone(doc);
    if (!m_framesStarted)
        startFrames();
    const Doc &d = m_docs[size_t(doc)];
    QList<int> children;
    for (size_t j = 0; j < m_docs.size(); ++j) {
        if (m_docs[j].parent == doc)
            children.append(int(j));
    }
    if (children.isEmpty() || !d.session)
        return docDone(doc);

    // Frame -> its element's node in the parent document -> that element in
    // the reader's world, then where the walk met each one.
    struct Placing
    {
        qsizetype remaining;
        QJsonArray arguments;
        QList<int> children; // in the order of arguments
    };
    auto state = std::make_shared<Placing>(Placing{children.size(), {}, {}});
    QPointer<ScopedHarvest> self(this);
    const int generation = m_generation;
    const auto settled = [self, doc, state]() {
        if (--state->remaining > 0)
            return;
        if (state->arguments.isEmpty())
            return self->docDone(doc);
        self->callInReader(doc, scripts::frameElementsFunction(), state->arguments,
                           [self, doc, state](const QJsonValue &value) {
                               const QJsonArray places = value.toArray();
                               Doc &d = self->m_docs[size_t(doc)];
                               for (qsizetype i = 0; i < places.size() && i < state->children.size(); ++i) {
                                   const QJsonArray place = places.at(i).toArray();
                                   if (place.size() == 2 && place.at(0).toInteger(-1) >= 0)
                                       d.placed.insert(state->children.at(i),
                                                       {int(std::min<qint64>(place.at(0).toInteger(), INT_MAX)),
                                                        int(std::min<qint64>(place.at(1).toInteger(), INT_MAX))});
                               }
                               self->docDone(doc);
                           });
    };
    for (int child : std::as_const(children)) {
        d.session->call(
            QStringLiteral("DOM.getFrameOwner"), {{QStringLiteral("frameId"), m_docs[size_t(child)].frameId}},
            [self, doc, child, generation, state, settled](const QJsonObject &result, const CallError &error) {
                if (!self || !self->current(generation))
                    return;
                const int owner = result.value(QLatin1String("backendNodeId")).toInt();
                if (error.isError() || owner <= 0)
                    return settled();
                self->resolveInReader(doc, owner, [state, child, settled](const QString &object) {
                    if (!object.isEmpty()) {
                        state->arguments.append(QJsonObject{{QStringLiteral("objectId"), object}});
                        state->children.append(child);
                    }
                    settled();
                });
            },
            m_settings.callTimeoutMs);
    }
}

// Every frame known below the page, nearest first, up to the limit: all are
// read at once, and each document places its own children.
void ScopedHarvest::startFrames()
{
    m_framesStarted = true;
    QHash<QString, QStringList> children;
    for (auto it = m_frames.cbegin(); it != m_frames.cend(); ++it)
        children[it->parentId].append(it.key());
    QSet<QString> seen{m_topFrameId};
    const size_t first = m_docs.size();
    for (size_t parent = 0; parent < m_docs.size(); ++parent) {
        for (const QString &id : children.value(m_docs[parent].frameId)) {
            if (m_docs.size() > size_t(m_settings.maxFrames) || seen.contains(id))
                continue;
            seen.insert(id);
            Doc frame;
            frame.session = sessionFor(id);
            frame.frameId = id;
            frame.parent = int(parent);
            if (frame.session)
                m_docs.push_back(std::move(frame));
        }
    }
    for (size_t doc = first; doc < m_docs.size(); ++doc)
        startDoc(int(doc), 0);
}

void ScopedHarvest::docFailed(int doc, const CallError &error)
{
    Doc &d = m_docs[size_t(doc)];
    if (doc == 0 && !d.walk) {
        // The page's own document: a renderer too busy to answer is said; a
        // document that went away has a successor, which reports.
        m_reading = false;
        ++m_generation;
        m_extras.stop();
        if (error.kind == CallError::Timeout)
            emit unresponsive();
        return;
    }
    docDone(doc);
}

void ScopedHarvest::docDone(int doc)
{
    m_docs[size_t(doc)].done = true;
    if (std::all_of(m_docs.cbegin(), m_docs.cend(), [](const Doc &d) { return d.done; }))
        finish();
}

void ScopedHarvest::finish()
{
    if (!m_reading || m_docs.empty() || !m_docs.front().walk)
        return;
    m_reading = false;
    ++m_generation;
    m_extras.stop();
    Assembly assembly;
    appendDoc(0, assembly, 0);
    QSet<DevToolsSession *> sessions;
    for (const Doc &d : m_docs) {
        if (d.session)
            sessions.insert(d.session);
    }
    for (DevToolsSession *session : std::as_const(sessions))
        session->call(QStringLiteral("Runtime.releaseObjectGroup"), {{QStringLiteral("objectGroup"), objectGroup}}, {},
                      m_settings.callTimeoutMs);
    const QString url = m_docs.front().walk->url;
    m_docs.clear();
    emit harvested(url, assembly.links, assembly.ended);
}

qint64 ScopedHarvest::roomFor(int doc) const
{
    qint64 room = m_settings.maxUnits;
    for (size_t j = 0; j < m_docs.size(); ++j) {
        if (int(j) != doc)
            room -= (m_docs[j].walk ? m_docs[j].walk->units : 0) + m_docs[j].parts.units();
    }
    return room;
}

// In document order, up to the bound: documents read at once may each have
// kept some, so the bound holds again here, and nothing after the end of a
// document cut short is kept, or the result would not be the links before it.
void ScopedHarvest::appendDoc(int doc, Assembly &out, int depth) const
{
    const Doc &d = m_docs[size_t(doc)];
    if (!d.walk || depth > m_settings.maxFrames || out.ended)
        return;
    const Links &links = d.walk->links;
    std::vector<std::tuple<qsizetype, int, int>> frames; // position, rank, child
    for (auto it = d.placed.cbegin(); it != d.placed.cend(); ++it)
        frames.emplace_back(std::min<qsizetype>(it->first, links.size()), it->second, it.key());
    std::sort(frames.begin(), frames.end());
    const QString frameUrl = doc == 0 ? QString() : d.walk->url;
    auto frame = frames.cbegin();
    for (qsizetype i = 0; i <= links.size() && !out.ended; ++i) {
        if (i == links.size() && d.walk->cut) {
            out.ended = true; // its frames from here on may stand after the cut
            break;
        }
        for (; frame != frames.cend() && std::get<0>(*frame) == i; ++frame)
            appendDoc(std::get<2>(*frame), out, depth + 1);
        if (i == links.size() || out.ended)
            break;
        const Link &link = links.at(i);
        out.units += scripts::linkUnits(link.href.size(), link.text.size());
        if (out.units > m_settings.maxUnits) {
            out.ended = true;
            break;
        }
        out.links.append(link);
        if (doc != 0)
            out.links.last().frame = frameUrl;
    }
}

} // namespace engine
