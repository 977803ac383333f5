#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace bench {

// The spread of repeated measurements of one row.
struct Summary
{
    double median = 0;
    double min = 0;
    double max = 0;
};

// Median (mean of the middle two for an even count), min and max; nothing
// for no samples.
std::optional<Summary> summarize(std::vector<double> samples);

// What a row's median is held to.
struct Target
{
    enum Kind {
        None,
        MedianAtMost
    };
    Kind kind = None;
    double limit = 0;
};

// A bound on the row's median divided by a baseline row's median.
struct RatioBound
{
    QString baseline; // the row the ratio is taken against
    double limit = 0;
    std::optional<double> value; // unset until both medians exist
};

// One printed line of the benchmark.
struct RowResult
{
    RowResult(QString rowName, QString rowUnit) : name(std::move(rowName)), unit(std::move(rowUnit)) {}

    QString name;
    QString unit; // "ms", "MB", "x"
    std::vector<double> samples;
    Target target;
    std::vector<RatioBound> ratios; // every one must hold
    QString note;                   // what was measured, and checks seen on the way
    QString error;                  // set when the row could not be measured

    // "PASS", "MISS", or empty when the row has no target and no ratio bound.
    QString verdict() const;
};

// The column headings, aligned with formatRow.
QString headerLine();
QString formatRow(const RowResult &row);

} // namespace bench
