#include "cli/extractor.h"

#include "core/address.h"
#include "core/harvest.h"
#include "core/remove_dups.h"
#include "engine/browser.h"

namespace cli {

Extractor::Extractor(engine::Browser &browser, const Options &options, Sink &sink, QObject *parent)
    : QObject(parent), m_browser(browser), m_options(options), m_sink(sink)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("网页在 %1 秒内没有加载完成，已放弃").arg(m_options.timeoutSeconds));
        advance();
    });
    connect(&m_browser, &engine::Browser::documentComplete, this, &Extractor::onDocumentComplete);
    connect(&m_browser, &engine::Browser::navigateError, this, &Extractor::onNavigateError);
    connect(&m_browser, &engine::Browser::engineError, this, &Extractor::onEngineError);
}

void Extractor::start()
{
    advance();
}

// Every step to the next address goes through the event loop: the engine may
// report from inside navigate() (Chromium not found), and the sink may be
// slow; neither must nest one address inside another.
void Extractor::advance()
{
    m_loading.clear();
    m_deadline.stop();
    QMetaObject::invokeMethod(this, &Extractor::next, Qt::QueuedConnection);
}

void Extractor::next()
{
    if (m_finished)
        return;
    while (++m_index < m_options.addresses.size()) {
        const QString trimmed = address::trimBlanks(m_options.addresses.at(m_index));
        const address::Verdict verdict = address::check(trimmed);
        if (verdict != address::Verdict::Ok) {
            // The window's message box pads its text with blanks.
            fail(address::message(verdict).trimmed());
            continue;
        }
        m_loading = trimmed;
        if (m_engineReady)
            startDeadline();
        m_browser.navigate(trimmed);
        return;
    }
    finish(m_failures == 0 ? Outcome::AllRead : Outcome::SomeFailed);
}

void Extractor::engineReady()
{
    m_engineReady = true;
    // A page's time starts once the engine can load it: Chromium starting
    // on a busy machine is not the page's fault, and has limits of its own.
    if (!m_loading.isEmpty() && !m_deadline.isActive())
        startDeadline();
}

void Extractor::startDeadline()
{
    if (m_options.timeoutSeconds > 0)
        m_deadline.start(m_options.timeoutSeconds * 1000);
}

void Extractor::finish(Outcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_loading.clear();
    m_deadline.stop();
    emit finished(outcome);
}

void Extractor::fail(const QString &cause)
{
    ++m_failures;
    m_sink.failure(m_options.addresses.at(m_index), cause);
}

void Extractor::onDocumentComplete(bool topLevel, const QString &url, const QStringList &anchors)
{
    Q_UNUSED(url); // after redirects it may differ from what was asked
    // The first top-level load is the page's; frames and anything the page
    // loads later belong to no address of ours.
    if (!topLevel || m_loading.isEmpty() || m_finished)
        return;
    QStringList kept = harvest::keptAnchors(anchors, m_options.filter);
    if (m_options.dedupe) {
        // m_seen holds no repeats, so every index found lies in the new part.
        const qsizetype before = m_seen.size();
        m_seen.append(kept);
        const QList<qsizetype> repeats = remove_dups::duplicateIndexes(m_seen, remove_dups::Compare::IgnoreCase);
        QStringList fresh;
        fresh.reserve(kept.size() - repeats.size());
        auto repeat = repeats.cbegin();
        for (qsizetype i = before; i < m_seen.size(); ++i) {
            if (repeat != repeats.cend() && *repeat == i)
                ++repeat;
            else
                fresh.append(m_seen.at(i));
        }
        m_seen.resize(before);
        m_seen.append(fresh);
        kept = std::move(fresh);
    }
    if (!m_sink.links(kept))
        return finish(Outcome::OutputLost);
    advance();
}

void Extractor::onNavigateError(const QString &url, const QString &reason)
{
    Q_UNUSED(url);
    if (m_loading.isEmpty() || m_finished)
        return;
    fail(reason);
    advance();
}

void Extractor::onEngineError(const QString &reason)
{
    const bool wasReady = m_engineReady;
    m_engineReady = false; // the engine restarts on the next navigate
    if (m_loading.isEmpty() || m_finished)
        return;
    fail(reason);
    if (!wasReady)
        return finish(Outcome::EngineUnusable);
    advance();
}

} // namespace cli
