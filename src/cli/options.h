#pragma once

#include <QString>
#include <QStringList>

namespace cli {

// What velmora-extract was asked to do.
struct Options
{
    QStringList addresses; // as given: trimmed and checked one by one
    QString filter;        // empty keeps every link
    bool dedupe = false;
    QString output;          // empty: standard output
    int timeoutSeconds = 60; // per address; 0 waits for ever
    int settleMs = 2000;     // the longest a loaded page is waited for; 0 reads it at its load event
};

struct ParsedArguments
{
    enum class Kind {
        Run,
        Help,
        Version,
        Error
    };
    Kind kind = Kind::Error;
    Options options;
    QString text; // the help or version text, or what is wrong
};

// Reads the command line (the program's name first). Never exits the
// process: the caller decides what each kind means.
ParsedArguments parseArguments(const QStringList &arguments);

inline constexpr int maxTimeoutSeconds = 2'000'000; // still fits a timer's milliseconds
inline constexpr int maxSettleMs = 600'000;

} // namespace cli
