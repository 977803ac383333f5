#pragma once

#include "cli/options.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace cli {

// What became of one address.
struct PageOutcome
{
    QString page;               // the address as given
    QString url;                // the address of the document read, after redirects
    QStringList links;          // the links kept, in document order
    QList<qsizetype> positions; // where each stood among the page's anchors
    QString error;              // why the address failed; empty when it was read

    bool failed() const { return !error.isEmpty(); }
};

// The bytes an outcome adds to the output. Only --json writes failures:
// {"page":…,"error":…}; a link is {"page":…,"url":…,"href":…,"index":…}.
QByteArray formatted(const PageOutcome &outcome, Format format);

// text as a JSON string, quotes included. Half a surrogate pair, U+FEFF,
// U+2028 and U+2029 are written as their \u escapes, so nothing is lost
// or made invalid.
QByteArray jsonString(QStringView text);

} // namespace cli
