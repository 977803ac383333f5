#pragma once

#include <QStringList>

class LinkListModel;

namespace bench {

// count distinct link addresses, all different even ignoring letter case.
QStringList distinctLinks(qsizetype count);

// count links of which half are repeats, in other letter case, of links that
// appear elsewhere in the list; shuffled by a fixed seed. Ignoring case,
// (count + 1) / 2 of them are distinct.
QStringList linksWithCaseRepeats(qsizetype count);

// The pairwise loop the duplicate removal replaced, transcribed as it was:
// for every item, compare it with every later item (the count and the item
// text read afresh for each comparison) and remove each equal one in place.
// comptype 0 ignores letter case. Kept only to show what it costs.
void pairwiseRemoveDups(LinkListModel &lst, int comptype);

} // namespace bench
