#include "race.h"

#include "settle.h"

namespace bench {

double median(const std::vector<double> &samples)
{
    const auto summary = summarize(samples);
    return summary ? summary->median : 0;
}

void takeRatios(RowResult &row, std::initializer_list<const RowResult *> baselines)
{
    for (RatioBound &bound : row.ratios)
        for (const RowResult *base : baselines)
            if (base->name == bound.baseline && !row.samples.empty() && !base->samples.empty())
                bound.value = median(row.samples) / median(base->samples);
}

void race(const std::vector<Contender> &contenders, int runs, const QList<qint64> &pids)
{
    const int sides = int(contenders.size());
    for (int run = 0; run <= runs; ++run) {
        for (int turn = 0; turn < sides; ++turn) {
            settle(pids);
            const Contender &side = contenders[size_t((turn + run) % sides)];
            QString error;
            const auto ms = side.measure(run > 0, &error);
            if (!ms) {
                side.row->error = error;
                return;
            }
            if (run > 0)
                side.row->samples.push_back(*ms);
        }
    }
}

} // namespace bench
