// The rows on the list alone: appending, duplicate removal (and the pairwise
// loop it replaced), saving. The window is real; its engine is the fake one.
#include "bench.h"
#include "data.h"
#include "engine_window.h"
#include "settle.h"

#include "app/link_list.h"
#include "app/main_window.h"
#include "core/save_file.h"
#include "fake_browser.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

namespace bench {

namespace {

double millis(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

void Bench::listRows()
{
    const bool append = wanted(QStringLiteral("append-100k"));
    const bool dedupe = wanted(QStringLiteral("dedupe-100k"));
    const bool reference = wanted(QStringLiteral("dedupe-reference-32767"));
    const bool save = wanted(QStringLiteral("save-100k"));
    if (!append && !dedupe && !reference && !save)
        return;

    QString error;
    EngineWindow app(new FakeBrowser);
    app.show(&error); // a failure lands in error, which every row reports
    LinkListModel *links = app.list()->links();
    constexpr int count = 100000;

    if (append) {
        RowResult row{QStringLiteral("append-100k"), QStringLiteral("ms")};
        row.target = {Target::MedianAtMost, 50};
        row.error = error;
        const QStringList items = distinctLinks(count);
        for (int run = 0; run <= m_options.runs && row.error.isEmpty(); ++run) {
            app.clearList();
            QElapsedTimer clock;
            clock.start();
            links->append(items);
            const bool painted = app.waitForListPaint();
            const double ms = millis(clock);
            if (!painted || links->count() != count)
                row.error = QStringLiteral("the list was not painted with %1 items").arg(count);
            else if (run > 0)
                row.samples.push_back(ms);
        }
        row.note = QStringLiteral("%1 links appended to the shown List1 in one batch, until its first paint is done")
                       .arg(count);
        print(row);
    }

    if (dedupe) {
        RowResult row{QStringLiteral("dedupe-100k"), QStringLiteral("ms")};
        row.target = {Target::MedianAtMost, 50};
        row.error = error;
        const QStringList items = linksWithCaseRepeats(count);
        std::vector<double> painted;
        for (int run = 0; run <= m_options.runs && row.error.isEmpty(); ++run) {
            app.clearList();
            links->append(items);
            app.waitForListPaint();
            QElapsedTimer clock;
            clock.start();
            app.form().removeRepeatsFrom(*links, remove_dups::Compare::IgnoreCase);
            const double ms = millis(clock);
            app.waitForListPaint();
            const double paintMs = millis(clock);
            if (links->count() != count / 2)
                row.error = QStringLiteral("%1 items survived, not %2").arg(links->count()).arg(count / 2);
            else if (run > 0) {
                row.samples.push_back(ms);
                painted.push_back(paintMs);
            }
        }
        const auto summary = summarize(painted);
        row.note = QStringLiteral(
                       "removeRepeatsFrom(List1, IgnoreCase) on %1 links, half of them repeats in other letter case; "
                       "with the repaint after it: %2 ms")
                       .arg(count)
                       .arg(summary ? summary->median : 0, 0, 'f', 1);
        print(row);
    }

    if (reference) {
        constexpr int small = 32767;
        RowResult row{QStringLiteral("dedupe-reference-32767"), QStringLiteral("ms")};
        const QStringList items = linksWithCaseRepeats(small);
        LinkListModel model; // a bare list: the loop's own cost, without a view to notify
        for (int run = 0; run < m_options.runs && row.error.isEmpty(); ++run) {
            model.clear();
            model.append(items);
            QElapsedTimer clock;
            clock.start();
            pairwiseRemoveDups(model, 0);
            const double ms = millis(clock);
            if (model.count() != (small + 1) / 2)
                row.error = QStringLiteral("%1 items survived, not %2").arg(model.count()).arg((small + 1) / 2);
            else
                row.samples.push_back(ms);
        }
        // The same items through the real removal, for the comparison.
        model.clear();
        model.append(items);
        QElapsedTimer clock;
        clock.start();
        app.form().removeRepeatsFrom(model, remove_dups::Compare::IgnoreCase);
        row.note = QStringLiteral("the pairwise loop on %1 such links in a list model with no view, for comparison; "
                                  "removeRepeatsFrom on the same: %2 ms")
                       .arg(small)
                       .arg(millis(clock), 0, 'f', 1);
        print(row);
    }

    if (save) {
        RowResult row{QStringLiteral("save-100k"), QStringLiteral("ms")};
        row.target = {Target::MedianAtMost, 50};
        row.error = error;
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("links.txt"));
        app.clearList();
        links->append(distinctLinks(count));
        const QByteArray expected = save_file::encodeLines(links->items());
        QAction *bc = app.form().findChild<QAction *>(QStringLiteral("bc"));
        auto *text2 = app.form().findChild<QLineEdit *>(QStringLiteral("Text2"));
        for (int run = 0; run <= m_options.runs && row.error.isEmpty(); ++run) {
            QFile::remove(path);
            app.platform().saveAnswers = {path};
            app.platform().messages.clear();
            QElapsedTimer clock;
            clock.start();
            bc->trigger();
            const double ms = millis(clock);
            QFile written(path);
            if (!app.platform().messages.isEmpty())
                row.error = app.platform().messages.first().text;
            else if (!written.open(QIODevice::ReadOnly) || written.readAll() != expected || !text2->text().isEmpty())
                row.error = QStringLiteral("the saved file does not hold the list");
            else if (run > 0)
                row.samples.push_back(ms);
        }
        row.note = QStringLiteral("the save command (bc) writing %1 links, %2 bytes, the file dialog answered at once")
                       .arg(count)
                       .arg(expected.size());
        print(row);
    }
}

} // namespace bench
