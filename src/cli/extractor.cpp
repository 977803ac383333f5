#include "cli/extractor.h"

#include "cli/input.h"
#include "core/address.h"
#include "core/harvest.h"
#include "core/remove_dups.h"
#include "engine/browser.h"

#include <QCoreApplication>
#include <QTimer>

#include <limits>

namespace cli {

namespace {

// Pages read ahead of the one next in order, per lane: a page that takes
// long holds back at most this many finished ones in memory.
constexpr qsizetype aheadPerLane = 4;
// The engine reads or fails a page at --timeout by itself; past it by this
// much (a fresh tab's set-up, the read's own bound) the page is given up here.
constexpr qint64 backstopMs = 30000;

} // namespace

Extractor::Extractor(const QList<engine::Browser *> &lanes, const Options &options, const QStringList &addresses,
                     Sink &sink, QObject *parent)
    : QObject(parent), m_options(options), m_addresses(addresses), m_sink(sink)
{
    if (m_options.dedupe != Dedupe::None)
        m_seen = std::make_unique<remove_dups::Seen>(
            m_options.dedupe == Dedupe::Exact ? remove_dups::Compare::Exact : remove_dups::Compare::IgnoreCase);
    // Text is read only when it is written.
    engine::LinkScope scope;
    scope.frames = m_options.frames;
    scope.shadowTrees = m_options.shadowTrees;
    scope.areas = m_options.areas;
    scope.text = m_options.format == Format::Json;
    m_lanes.resize(size_t(lanes.size()));
    for (size_t i = 0; i < m_lanes.size(); ++i) {
        Lane &lane = m_lanes[i];
        lane.browser = lanes.at(qsizetype(i));
        lane.deadline = new QTimer(this);
        lane.deadline->setSingleShot(true);
        connect(lane.deadline, &QTimer::timeout, this,
                [this, i] { settle(m_lanes[i], failure(m_lanes[i].index, timedOut())); });
        connect(lane.browser, &engine::Browser::documentComplete, this,
                [this, i](bool topLevel, const QString &url, const QStringList &anchors) {
                    onDocumentComplete(m_lanes[i], topLevel, url, anchors);
                });
        if (!scope.isPlain()) {
            lane.browser->setLinkScope(scope);
            connect(lane.browser, &engine::Browser::linksRead, this,
                    [this, i](const QString &url, const engine::Links &links) { onLinksRead(m_lanes[i], url, links); });
        }
        connect(lane.browser, &engine::Browser::navigateError, this,
                [this, i](const QString &, const QString &reason) { onNavigateError(m_lanes[i], reason); });
        connect(lane.browser, &engine::Browser::engineError, this,
                [this, i](const QString &reason) { onEngineError(m_lanes[i], reason); });
        connect(lane.browser, &engine::Browser::pageNotice, this,
                [this, i](const QString &url, engine::PageNotice kind, const QString &message) {
                    onPageNotice(m_lanes[i], url, kind, message);
                });
    }
}

Extractor::~Extractor() = default;

void Extractor::start()
{
    QMetaObject::invokeMethod(this, &Extractor::fill, Qt::QueuedConnection);
}

// Every new page is started through the event loop: the engine may report
// from inside navigate() (Chromium not found), and the sink may be slow;
// neither must nest one address inside another.
void Extractor::fill()
{
    m_filling = false;
    if (m_finished)
        return;
    const qsizetype ahead = aheadPerLane * qsizetype(m_lanes.size());
    for (Lane &lane : m_lanes) {
        while (lane.index < 0 && m_nextToLoad < m_addresses.size() && m_nextToLoad < m_nextToDeliver + ahead) {
            const qsizetype index = m_nextToLoad++;
            const QString trimmed = address::trimBlanks(m_addresses.at(index));
            const QString refused = refusal(trimmed);
            if (!refused.isEmpty()) {
                m_waiting.emplace(index, failure(index, refused));
                continue;
            }
            lane.index = index;
            lane.cut.clear();
            if (m_engineReady)
                startDeadline(lane);
            lane.browser->navigate(trimmed);
        }
    }
    deliver();
}

void Extractor::engineReady()
{
    m_engineReady = true;
    // A page's time starts once the engine can load it: Chromium starting
    // on a busy machine is not the page's fault, and has limits of its own.
    for (Lane &lane : m_lanes) {
        if (lane.index >= 0 && !lane.deadline->isActive())
            startDeadline(lane);
    }
}

void Extractor::startDeadline(Lane &lane)
{
    if (m_options.timeoutSeconds > 0)
        lane.deadline->start(int(
            std::min<qint64>(qint64(m_options.timeoutSeconds) * 1000 + backstopMs, std::numeric_limits<int>::max())));
}

QString Extractor::timedOut() const
{
    return QCoreApplication::translate("cli", "gave up: the page had not loaded after %1 s")
        .arg(m_options.timeoutSeconds);
}

PageOutcome Extractor::failure(qsizetype index, const QString &cause) const
{
    PageOutcome outcome;
    outcome.page = m_addresses.at(index);
    outcome.error = cause;
    return outcome;
}

void Extractor::settle(Lane &lane, PageOutcome outcome)
{
    const qsizetype index = std::exchange(lane.index, -1);
    lane.deadline->stop();
    lane.readAtDeadline = false;
    if (index < 0 || m_finished)
        return;
    m_waiting.emplace(index, std::move(outcome));
    deliver();
    if (!m_filling && !m_finished) {
        m_filling = true;
        QMetaObject::invokeMethod(this, &Extractor::fill, Qt::QueuedConnection);
    }
}

void Extractor::deliver()
{
    while (!m_finished && !m_waiting.empty() && m_waiting.begin()->first == m_nextToDeliver) {
        PageOutcome outcome = std::move(m_waiting.begin()->second);
        m_waiting.erase(m_waiting.begin());
        ++m_nextToDeliver;
        // Output cut short counts as a failure, after its links.
        if (outcome.failed() || !outcome.cut.isEmpty())
            ++m_failures;
        if (m_seen) {
            // In the order of the addresses, so the first kept is the same
            // whichever page was read first.
            QStringList fresh;
            QList<qsizetype> positions;
            QList<LinkDetails> details;
            for (qsizetype i = 0; i < outcome.links.size(); ++i) {
                if (!m_seen->add(outcome.links.at(i)))
                    continue;
                fresh.append(outcome.links.at(i));
                positions.append(outcome.positions.at(i));
                if (i < outcome.details.size())
                    details.append(outcome.details.at(i));
            }
            outcome.links = std::move(fresh);
            outcome.positions = std::move(positions);
            outcome.details = std::move(details);
        }
        if (!m_sink.deliver(outcome))
            return finish(Outcome::OutputLost);
    }
    if (m_nextToDeliver == m_addresses.size())
        finish(m_failures == 0 ? Outcome::AllRead : Outcome::SomeFailed);
}

void Extractor::finish(Outcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    for (Lane &lane : m_lanes) {
        lane.index = -1;
        lane.deadline->stop();
    }
    emit finished(outcome);
}

PageOutcome Extractor::read(const Lane &lane, const QString &url, const QStringList &hrefs) const
{
    PageOutcome outcome;
    outcome.page = m_addresses.at(lane.index);
    outcome.url = url;
    outcome.links =
        harvest::keptAnchors(hrefs, m_options.filter,
                             m_options.filterIgnoresCase ? Qt::CaseInsensitive : Qt::CaseSensitive, &outcome.positions);
    // Read as it stood at --timeout: its links, and the timeout all the same.
    if (lane.readAtDeadline)
        outcome.error = timedOut();
    return outcome;
}

void Extractor::onDocumentComplete(Lane &lane, bool topLevel, const QString &url, const QStringList &anchors)
{
    // The first top-level load is the page's; frames and anything the page
    // loads later belong to no address of ours.
    if (!topLevel || lane.index < 0 || m_finished)
        return;
    PageOutcome outcome = read(lane, url, anchors);
    outcome.cut = std::exchange(lane.cut, {});
    settle(lane, std::move(outcome));
}

void Extractor::onLinksRead(Lane &lane, const QString &url, const engine::Links &links)
{
    if (lane.index < 0 || m_finished)
        return;
    QStringList hrefs;
    hrefs.reserve(links.size());
    for (const engine::Link &link : links)
        hrefs.append(link.href);
    PageOutcome outcome = read(lane, url, hrefs);
    outcome.cut = std::exchange(lane.cut, {});
    if (m_options.format == Format::Json) {
        outcome.details.reserve(outcome.positions.size());
        for (const qsizetype position : std::as_const(outcome.positions)) {
            const engine::Link &link = links.at(position);
            outcome.details.append({harvest::safeItem(link.text), harvest::safeItem(link.frame),
                                    link.element == engine::Link::Element::Area, link.inShadowTree});
        }
    }
    settle(lane, std::move(outcome));
}

void Extractor::onPageNotice(Lane &lane, const QString &url, engine::PageNotice kind, const QString &message)
{
    if (m_finished)
        return;
    switch (kind) {
    case engine::PageNotice::LinksCut:
        // Comes just before the read it concerns, which says it.
        if (lane.index >= 0)
            lane.cut = message;
        return;
    case engine::PageNotice::ClosedForMemory:
        // The page was read whole before: only the user is told.
        return m_sink.warn(url, message);
    case engine::PageNotice::ReadAtDeadline:
        // Just before the read, which then reports the timeout too.
        if (lane.index >= 0)
            lane.readAtDeadline = true;
        return;
    }
}

void Extractor::onNavigateError(Lane &lane, const QString &reason)
{
    if (lane.index < 0 || m_finished)
        return;
    settle(lane, failure(lane.index, reason));
}

void Extractor::onEngineError(Lane &lane, const QString &reason)
{
    // Every lane hears of the same failure: the first one decides whether
    // the engine ever came up.
    const bool unusable = !m_engineReady && !m_engineFailing;
    if (m_engineReady) {
        m_engineReady = false; // the engine restarts on the next navigate
        m_engineFailing = true;
        QMetaObject::invokeMethod(
            this, [this] { m_engineFailing = false; }, Qt::QueuedConnection);
    }
    if (lane.index < 0 || m_finished)
        return;
    if (!unusable)
        return settle(lane, failure(lane.index, reason));
    // Nothing was read before: said once, for the address that met it.
    m_sink.deliver(failure(lane.index, reason));
    finish(Outcome::EngineUnusable);
}

} // namespace cli
