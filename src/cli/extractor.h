#pragma once

#include "cli/options.h"
#include "cli/output.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

class QTimer;

namespace engine {
class Browser;
enum class PageNotice : quint8;
struct Link;
using Links = QList<Link>;
} // namespace engine

namespace remove_dups {
class Seen;
}

namespace cli {

// Where the results of a run go.
class Sink
{
public:
    virtual ~Sink() = default;
    // One address's outcome, in the order of the addresses, filtered and
    // without repeats if asked. False when it could not be delivered: the
    // run stops.
    virtual bool deliver(const PageOutcome &outcome) = 0;
    // Something about a page read before that the user should know; the run
    // and its outcome go on as they were. Ignored unless someone reads it.
    virtual void warn(const QString &page, const QString &message)
    {
        Q_UNUSED(page)
        Q_UNUSED(message)
    }
};

// Reads addresses on one engine, a page at a time on each of its lanes, and
// delivers them in their own order.
class Extractor final : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        AllRead,
        SomeFailed,
        EngineUnusable, // Chromium could not be started
        OutputLost,     // the links could not be delivered
    };
    Q_ENUM(Outcome)

    // lanes: Browsers of one engine that load at the same time (at least one).
    Extractor(const QList<engine::Browser *> &lanes, const Options &options, const QStringList &addresses, Sink &sink,
              QObject *parent = nullptr);
    ~Extractor() override;

    // Begins with the first addresses; finished() follows, never from inside
    // this call.
    void start();
    // The engine has (re)started: from now on an engine error is the page's
    // failure, not a sign that the engine cannot run at all.
    void engineReady();
    // Ends the run now, for a reason found outside (nobody reads any more).
    void stop(Outcome outcome) { finish(outcome); }

signals:
    void finished(cli::Extractor::Outcome outcome);

private:
    struct Lane
    {
        engine::Browser *browser = nullptr;
        QTimer *deadline = nullptr;
        qsizetype index = -1; // the address it loads, or -1
        QString cut;          // the engine's LinksCut notice for the read to come
        bool readAtDeadline = false;
    };

    void fill();
    void startDeadline(Lane &lane);
    void settle(Lane &lane, PageOutcome outcome);
    void deliver();
    void finish(Outcome outcome);
    PageOutcome failure(qsizetype index, const QString &cause) const;
    QString timedOut() const;
    // The page a lane has read, its hrefs filtered.
    PageOutcome read(const Lane &lane, const QString &url, const QStringList &hrefs) const;

    void onDocumentComplete(Lane &lane, bool topLevel, const QString &url, const QStringList &anchors);
    void onLinksRead(Lane &lane, const QString &url, const engine::Links &links);
    void onNavigateError(Lane &lane, const QString &reason);
    void onEngineError(Lane &lane, const QString &reason);
    void onPageNotice(Lane &lane, const QString &url, engine::PageNotice kind, const QString &message);

    const Options m_options;
    const QStringList m_addresses;
    Sink &m_sink;
    std::vector<Lane> m_lanes;
    qsizetype m_nextToLoad = 0;
    qsizetype m_nextToDeliver = 0;
    std::map<qsizetype, PageOutcome> m_waiting; // read out of turn
    std::unique_ptr<remove_dups::Seen> m_seen;
    int m_failures = 0;
    bool m_engineReady = false;
    bool m_engineFailing = false; // every lane is being told of one failure
    bool m_filling = false;
    bool m_finished = false;
};

} // namespace cli
