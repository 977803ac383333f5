#pragma once

#include "measure.h"
#include "page_server.h"

#include <QString>
#include <QStringList>

namespace bench {

struct Options
{
    int runs = 5;
    QStringList only; // row names; empty runs them all
    QString self;     // this program, re-run for the rows measured in a child process
};

// Every row, in the order they print.
QStringList rowNames();

// The Chromium the window runs (as the engine finds it), and the two Debian
// builds the baselines run, whatever VELMORA_CHROMIUM says; empty when absent.
enum class Engine {
    Ours,
    FullBrowser,
    Shell
};
QString engineExecutable(Engine engine);

// Runs the selected rows and prints one line for each.
class Bench
{
public:
    explicit Bench(const Options &options);
    // 0 when every selected row was measured and met the bounds it must meet.
    int runRows();

private:
    bool wanted(const QString &row) const;
    void print(const RowResult &row);

    int harvestRuns() const;
    void harvestRows();
    void extractAllRows();
    void settleRows();
    void engineReadyRow();
    void cliOneshotRows();
    void cliBatchRows();
    void uiStallRow();
    void listRows();
    void startupRow();
    void memoryRows();
    void chromiumIdleRow();
    void chromiumMemoryRows();

    // A page of count anchors, under a folder per consumer so the page's own
    // report of its visibility can be told apart.
    QString anchorsPage(const QString &consumer, int count);
    // pages distinct pages of count anchors each, under consumer; page p links
    // to /batch/<p>/item/<i>, whichever consumer serves it.
    QStringList batchPages(const QString &consumer, int pages, int count);
    // A page whose script makes count anchors in a hidden box: a million
    // anchors laid out as text take Chromium many minutes, this seconds.
    QString scriptedAnchorsPage(const QString &consumer, int count);
    // A page of one anchor, /item/0, whose script asks for the other count
    // (/item/1 on) as a JSON array that the server answers 300 ms later, and
    // then adds them: its links are complete well after its load event.
    QString lateAnchorsPage(const QString &consumer, int count);
    // How the pages under consumer said they were shown: "visible x6".
    QString visibilitySeen(const QString &consumer) const;

    Options m_options;
    PageServer m_server;
    QStringList m_routed;
    bool m_failed = false;
};

// The modes the benchmark re-runs itself in; return the process's exit code.
int childMain(int argc, char *argv[]);

} // namespace bench
