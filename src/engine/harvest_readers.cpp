#include "engine/harvest_readers.h"

#include "engine/devtools_connection.h"
#include "engine/page_scripts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcHarvest, "velmora.harvest", QtWarningMsg)

namespace engine {

namespace {

QStringList toStrings(const QJsonArray &array, QStringList into = {})
{
    into.reserve(into.size() + array.size());
    for (const auto &value : array)
        into.append(value.toString());
    return into;
}

} // namespace

std::optional<PageLinks> BindingHarvest::add(const QString &payload)
{
    QJsonParseError parseError;
    const QJsonObject report = QJsonDocument::fromJson(payload.toUtf8(), &parseError).object();
    const int part = report.value(QLatin1String("part")).toInt(-1);
    const int parts = report.value(QLatin1String("parts")).toInt(0);
    const QString url = report.value(QLatin1String("url")).toString();
    if (part == 0) {
        *this = {};
        m_parts = parts;
        m_url = url;
    }
    // Parts come in order, all of one document; anything else is not ours.
    if (part < 0 || part != m_next || parts != m_parts || url != m_url) {
        qCWarning(lcHarvest) << "unreadable harvest report:" << parseError.errorString() << part << parts;
        *this = {};
        return std::nullopt;
    }
    m_links = toStrings(report.value(QLatin1String("links")).toArray(), std::move(m_links));
    if (++m_next < m_parts)
        return std::nullopt;
    PageLinks done{std::move(m_url), std::move(m_links)};
    *this = {};
    return done;
}

EvaluateHarvest::EvaluateHarvest(DevToolsSession *page, int timeoutMs, QObject *parent)
    : QObject(parent), m_page(page), m_timeoutMs(timeoutMs)
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
    run({scripts::harvestExpression(), true});
}

void EvaluateHarvest::watchAnchors(int boundMs)
{
    run({scripts::anchorsWatchScript(boundMs), false});
}

void EvaluateHarvest::readSettled(int quietMs)
{
    run({scripts::settledHarvestExpression(quietMs), true});
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
        [self, read](const QJsonObject &result, const CallError &error) {
            if (!self || !read)
                return;
            if (error.kind == CallError::Timeout)
                return emit self->unresponsive();
            if (error.isError() || result.contains(QLatin1String("exceptionDetails")))
                return; // the document went away; its successor reports
            const QJsonObject value =
                result.value(QLatin1String("result")).toObject().value(QLatin1String("value")).toObject();
            if (value.contains(QLatin1String("wait")))
                return emit self->tooEarly(value.value(QLatin1String("wait")).toInt());
            emit self->harvested(value.value(QLatin1String("url")).toString(),
                                 toStrings(value.value(QLatin1String("links")).toArray()));
        },
        m_timeoutMs);
}

} // namespace engine
