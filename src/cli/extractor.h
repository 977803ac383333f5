#pragma once

#include "cli/options.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace engine {
class Browser;
}

namespace cli {

// Where the results of a run go.
class Sink
{
public:
    virtual ~Sink() = default;
    // An address's links, filtered and without repeats if asked. False when
    // they could not be delivered: the run stops.
    virtual bool links(const QStringList &links) = 0;
    virtual void failure(const QString &address, const QString &cause) = 0;
};

// Reads the addresses one after another on one engine, with the window's
// rules: the same address checks, filter and duplicate rule.
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

    Extractor(engine::Browser &browser, const Options &options, Sink &sink, QObject *parent = nullptr);

    // Begins with the first address; finished() follows, never from inside
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
    void next();
    void advance();
    void finish(Outcome outcome);
    void fail(const QString &cause);
    void startDeadline();

    void onDocumentComplete(bool topLevel, const QString &url, const QStringList &anchors);
    void onNavigateError(const QString &url, const QString &reason);
    void onEngineError(const QString &reason);

    engine::Browser &m_browser;
    const Options m_options;
    Sink &m_sink;
    QTimer m_deadline;
    qsizetype m_index = -1; // the address being read
    QString m_loading;      // its trimmed form while the engine loads it
    QStringList m_seen;     // every link passed on so far, when deduplicating
    int m_failures = 0;
    bool m_engineReady = false;
    bool m_finished = false;
};

} // namespace cli
