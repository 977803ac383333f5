#pragma once

#include "engine/chromium_browser.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// Records what a Browser reports, in order, for the engine tests.
class EngineRecorder final : public QObject
{
    Q_OBJECT
public:
    enum Kind {
        Complete,
        NavigateError,
        EngineError,
        Notice, // reason holds its message
    };
    struct Event
    {
        Kind kind;
        bool topLevel = false;
        QString url;
        QStringList anchors; // the hrefs, of links too
        QString reason;
        engine::Links links; // a read with a scope
        engine::PageNotice notice{};
    };

    explicit EngineRecorder(engine::Browser *browser, QObject *parent = nullptr);

    QList<Event> events;

    void clear() { events.clear(); }
    int count(Kind kind) const;
    // Top-level completions only, in order; a read with a scope is one.
    QList<Event> topLevel() const;
    QList<Event> frames() const;
    // Of the last failure; notices are none.
    QString lastReason() const;
};

// The harvest path the engine tests run on: VELMORA_TEST_HARVEST=evaluate
// selects the fallback, anything else the binding.
engine::HarvestPath harvestPathUnderTest();

// Whether the engine tests run on the headless shell (the default where it is
// installed) rather than the full browser; the few behaviours that differ
// are checked per engine.
bool engineIsHeadlessShell();
