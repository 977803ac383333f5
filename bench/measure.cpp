#include "measure.h"

#include <QStringList>

#include <algorithm>
#include <iterator>

namespace bench {

std::optional<Summary> summarize(std::vector<double> samples)
{
    if (samples.empty())
        return std::nullopt;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    return Summary{median, samples.front(), samples.back()};
}

QString RowResult::verdict() const
{
    if (target.kind == Target::None && ratios.empty())
        return {};
    bool met = error.isEmpty();
    if (target.kind == Target::MedianAtMost) {
        const auto summary = summarize(samples);
        met = met && summary && summary->median <= target.limit;
    }
    for (const RatioBound &bound : ratios)
        met = met && bound.value && *bound.value <= bound.limit;
    return met ? QStringLiteral("PASS") : QStringLiteral("MISS");
}

namespace {

QString number(double value, const QString &unit)
{
    // Ratios and small times need their decimals; big numbers do not.
    const int decimals = unit == QLatin1String("x") ? 3 : value >= 1000 ? 0 : 1;
    return QString::number(value, 'f', decimals);
}

QString targetText(const RowResult &row)
{
    QStringList bounds;
    if (row.target.kind == Target::MedianAtMost)
        bounds.append(QStringLiteral("<=") + QString::number(row.target.limit) + QLatin1Char(' ') + row.unit);
    for (const RatioBound &bound : row.ratios)
        bounds.append(QStringLiteral("<=") + QString::number(bound.limit, 'f', 2) + QLatin1Char('x'));
    return bounds.isEmpty() ? QStringLiteral("-") : bounds.join(QLatin1Char(','));
}

} // namespace

namespace {

// Fixed-width columns; negative widths pad on the right.
QString columns(const QStringList &cells)
{
    static const int widths[] = {-28, 9, 9, 9, -4, -66, -16, -6};
    QString line;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(' ');
        if (i < qsizetype(std::size(widths))) {
            const int width = widths[i];
            line += width < 0 ? cells[i].leftJustified(-width) : cells[i].rightJustified(width);
        } else {
            line += QLatin1Char(' ') + cells[i];
        }
    }
    return line;
}

} // namespace

QString headerLine()
{
    return columns({QStringLiteral("row"), QStringLiteral("median"), QStringLiteral("min"), QStringLiteral("max"),
                    QStringLiteral("unit"), QStringLiteral("ratio"), QStringLiteral("must"), QStringLiteral("result"),
                    QStringLiteral("runs; what was measured")});
}

QString formatRow(const RowResult &row)
{
    const auto summary = summarize(row.samples);
    QStringList ratioCells;
    for (const RatioBound &bound : row.ratios)
        ratioCells.append((bound.value ? QString::number(*bound.value, 'f', 3) + QLatin1Char('x') : QStringLiteral("-"))
                          + QLatin1Char(' ') + bound.baseline);
    const QString ratio = ratioCells.isEmpty() ? QStringLiteral("-") : ratioCells.join(QStringLiteral(", "));
    const QString tail = QString::number(row.samples.size()) + QStringLiteral("; ")
        + (row.error.isEmpty() ? row.note : QStringLiteral("FAILED: ") + row.error);
    auto cell = [&](double value) { return summary ? number(value, row.unit) : QStringLiteral("-"); };
    return columns({row.name, cell(summary ? summary->median : 0), cell(summary ? summary->min : 0),
                    cell(summary ? summary->max : 0), row.unit, ratio, targetText(row), row.verdict(), tail});
}

} // namespace bench
