#pragma once

#include "cli/options.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace cli {

// Where a link came from, as --json tells it.
struct LinkDetails
{
    QString text;  // made safe, as the link
    QString frame; // the frame's document, made safe; empty for the page's own
    bool area = false;
    bool inShadowTree = false;
};

// What became of one address.
struct PageOutcome
{
    QString page;               // the address as given
    QString url;                // the address of the document read, after redirects
    QStringList links;          // the links kept, in document order
    QList<qsizetype> positions; // where each stood among the page's links
    QList<LinkDetails> details; // one per link for --json, else empty
    QString error;              // why the address failed; empty when it was read whole
    QString cut;                // why links past the harvest bound were left out; empty when none were

    bool failed() const { return !error.isEmpty(); }
};

// The bytes an outcome adds to the output: its links, even those of a page
// that failed after they were read. Only --json writes failures, after the
// links: {"page":…,"error":…}; a link is {"page":…,"url":…,"href":…,"index":…},
// and with its details "text" and "element", "frame" when it is a frame's
// and "shadow":true when it lies in a shadow tree. A page cut at the
// harvest bound ends with {"page":…,"error":…,"cut":true} after its links.
QByteArray formatted(const PageOutcome &outcome, Format format);

// text as a JSON string, quotes included. Half a surrogate pair, U+FEFF,
// U+2028 and U+2029 are written as their \u escapes, so nothing is lost
// or made invalid.
QByteArray jsonString(QStringView text);

} // namespace cli
