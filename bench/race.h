#pragma once

#include "measure.h"

#include <QList>
#include <QString>

#include <functional>
#include <initializer_list>
#include <optional>
#include <vector>

namespace bench {

// The median of samples; 0 for none.
double median(const std::vector<double> &samples);

// Sets each ratio bound of row from the baseline row it names.
void takeRatios(RowResult &row, std::initializer_list<const RowResult *> baselines);

// A row in a race and one measurement of it; counted is false for the
// warm-up run.
struct Contender
{
    RowResult *row;
    std::function<std::optional<double>(bool counted, QString *error)> measure;
};

// Run 0 warms the Chromiums up and is not counted; the contenders take turns
// going first so none always meets another's leftovers, and the Chromium
// trees under pids are left to settle before each turn. The first failure
// ends the race, on its contender's row.
void race(const std::vector<Contender> &contenders, int runs, const QList<qint64> &pids);

} // namespace bench
