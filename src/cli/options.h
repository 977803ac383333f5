#pragma once

#include <QString>
#include <QStringList>

namespace cli {

// How the links are written.
enum class Format {
    Lines,   // UTF-8, a newline after each
    Null,    // UTF-8, a NUL after each
    Json,    // JSON Lines: an object per link, and one per failed address
    Gb18030, // the window's file: GB18030, CR LF after each
};

enum class Dedupe {
    None,
    Exact,      // a link is a repeat only if it is the same text
    IgnoreCase, // the window's rule: letter case does not count
};

// What velmora-extract was asked to do.
struct Options
{
    QStringList addresses; // as given: trimmed and checked one by one
    QString input;         // a file of further addresses; "-" is standard input
    QString filter;        // empty keeps every link
    bool filterIgnoresCase = false;
    Dedupe dedupe = Dedupe::None;
    Format format = Format::Lines;
    QString output;           // empty or "-": standard output
    bool quiet = false;       // no line on standard error for a failed address
    int jobs = 1;             // pages read at once
    int timeoutSeconds = 60;  // per address; 0 waits for ever
    int settleMs = 2000;      // the longest a loaded page is waited for; 0 reads it at its load event
    bool frames = false;      // the links of every frame too
    bool shadowTrees = false; // and of shadow trees, open and closed
    bool areas = false;       // and image maps' area elements

    bool toStandardOutput() const { return output.isEmpty() || output == QLatin1String("-"); }
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

// Reads the command line (the program's name first). Without an address or
// --input, standard input is read unless it is a terminal. Never exits the
// process: the caller decides what each kind means.
ParsedArguments parseArguments(const QStringList &arguments, bool standardInputIsTerminal);

inline constexpr int maxTimeoutSeconds = 2'000'000; // still fits a timer's milliseconds
inline constexpr int maxSettleMs = 600'000;
inline constexpr int maxJobs = 64;

} // namespace cli
