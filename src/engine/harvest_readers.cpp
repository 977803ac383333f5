#include "engine/harvest_readers.h"

#include "engine/devtools_connection.h"
#include "engine/page_scripts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcHarvest, "velmora.harvest", QtWarningMsg)

namespace engine {

std::optional<PageLinks> PlainParts::add(const QString &payload)
{
    QJsonParseError parseError;
    const QJsonObject report = QJsonDocument::fromJson(payload.toUtf8(), &parseError).object();
    const int part = report.value(QLatin1String("part")).toInt(-1);
    const int parts = report.value(QLatin1String("parts")).toInt(0);
    const QString url = report.value(QLatin1String("url")).toString();
    if (part == 0) {
        clear();
        m_parts = parts;
        m_read.url = url;
    }
    // Parts come in order, all of one document; anything else is not ours.
    if (part < 0 || part != m_next || parts != m_parts || url != m_read.url) {
        qCWarning(lcHarvest) << "unreadable harvest report:" << parseError.errorString() << part << parts;
        clear();
        return std::nullopt;
    }
    const QJsonArray links = report.value(QLatin1String("links")).toArray();
    m_read.links.reserve(m_read.links.size() + links.size());
    for (const auto &value : links) {
        QString href = value.toString();
        m_units += scripts::linkUnits(href.size(), 0);
        if (m_units > m_maxUnits) {
            m_read.cut = true;
            break;
        }
        m_read.links.append(std::move(href));
    }
    if (!m_read.cut && ++m_next < m_parts)
        return std::nullopt;
    PageLinks done = std::move(m_read);
    clear();
    return done;
}

void PlainParts::clear()
{
    m_units = 0;
    m_parts = 0;
    m_next = 0;
    m_read = {};
}

EvaluateHarvest::EvaluateHarvest(DevToolsSession *page, int timeoutMs, qint64 maxUnits, QObject *parent)
    : QObject(parent), m_page(page), m_timeoutMs(timeoutMs), m_parts(maxUnits)
{}

void EvaluateHarvest::committed(const QString &frameId, bool prepare)
{
    m_frameId = frameId;
    if (prepare)
        return makeWorld();
    ++m_document;
    m_context = 0;
    m_worldPending = false;
    m_queued.clear();
}

void EvaluateHarvest::loaded()
{
    run({scripts::harvestExpression(m_parts.maxUnits()), true});
}

void EvaluateHarvest::watchAnchors(int boundMs)
{
    run({scripts::anchorsWatchScript(boundMs), false});
}

void EvaluateHarvest::readSettled(int quietMs)
{
    run({scripts::settledHarvestExpression(quietMs, m_parts.maxUnits()), true});
}

void EvaluateHarvest::run(const Evaluation &evaluation)
{
    if (m_context != 0)
        return evaluate(m_context, evaluation);
    // The document's commit went unseen, or its world was not needed yet:
    // make it now.
    if (!m_worldPending)
        makeWorld();
    m_queued.append(evaluation);
}

void EvaluateHarvest::makeWorld()
{
    if (!m_page)
        return;
    const int document = ++m_document;
    m_context = 0;
    m_worldPending = true;
    m_queued.clear();
    QPointer<EvaluateHarvest> self(this);
    m_page->call(
        QStringLiteral("Page.createIsolatedWorld"),
        {{QStringLiteral("frameId"), m_frameId}, {QStringLiteral("worldName"), scripts::evaluateWorld}},
        [self, document](const QJsonObject &result, const CallError &error) {
            if (!self || document != self->m_document)
                return;
            self->m_worldPending = false;
            if (!error.isError())
                self->m_context = result.value(QLatin1String("executionContextId")).toInt();
            const QList<Evaluation> queued = std::exchange(self->m_queued, {});
            if (queued.isEmpty())
                return;
            // Only a read's failure counts: the anchors' watch is a help.
            if (error.kind == CallError::Timeout) {
                if (std::any_of(queued.cbegin(), queued.cend(), [](const Evaluation &e) { return e.read; }))
                    emit self->unresponsive();
                return;
            }
            // Without a world the document went away; its successor reports.
            for (const Evaluation &evaluation : queued) {
                if (self && self->m_context != 0)
                    self->evaluate(self->m_context, evaluation);
            }
        },
        m_timeoutMs);
}

void EvaluateHarvest::evaluate(int contextId, const Evaluation &evaluation)
{
    if (!m_page)
        return;
    const QJsonObject params{
        {QStringLiteral("expression"), evaluation.expression},
        {QStringLiteral("contextId"), contextId},
        {QStringLiteral("returnByValue"), true},
    };
    QPointer<EvaluateHarvest> self(this);
    const bool read = evaluation.read;
    m_page->call(
        QStringLiteral("Runtime.evaluate"), params,
        [self, read, contextId](const QJsonObject &result, const CallError &error) {
            if (!self || !read)
                return;
            if (error.kind == CallError::Timeout)
                return emit self->unresponsive();
            if (error.isError() || result.contains(QLatin1String("exceptionDetails")))
                return; // the document went away; its successor reports
            const QJsonValue value = result.value(QLatin1String("result")).toObject().value(QLatin1String("value"));
            if (value.toObject().contains(QLatin1String("wait")))
                return emit self->tooEarly(value.toObject().value(QLatin1String("wait")).toInt());
            ++self->m_read; // a read's parts come from its own walk
            self->m_parts.clear();
            self->onPart(value, contextId);
        },
        m_timeoutMs);
}

void EvaluateHarvest::fetchPart(int contextId, int part)
{
    if (!m_page)
        return;
    QPointer<EvaluateHarvest> self(this);
    const int read = m_read;
    m_page->call(
        QStringLiteral("Runtime.evaluate"),
        {{QStringLiteral("expression"), scripts::plainPartExpression(part)},
         {QStringLiteral("contextId"), contextId},
         {QStringLiteral("returnByValue"), true}},
        [self, contextId, read](const QJsonObject &result, const CallError &error) {
            if (!self || read != self->m_read)
                return;
            if (error.kind == CallError::Timeout)
                return emit self->unresponsive();
            if (error.isError() || result.contains(QLatin1String("exceptionDetails")))
                return; // the document went away; its successor reports
            self->onPart(result.value(QLatin1String("result")).toObject().value(QLatin1String("value")), contextId);
        },
        m_timeoutMs);
}

// Each part is parsed in its own turn, and no more is asked for than is kept.
void EvaluateHarvest::onPart(const QJsonValue &value, int contextId)
{
    if (auto read = m_parts.add(value.toString()))
        return emit harvested(read->url, read->links, read->cut);
    if (m_parts.next() > 0)
        fetchPart(contextId, m_parts.next());
}

} // namespace engine
