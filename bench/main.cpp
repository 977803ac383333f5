// velmora-bench: times the real window and engine against the targets of the
// performance issue. Not a test: it prints one line per measurement.
#include "bench.h"
#include "procfs.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The window needs no display: offscreen unless the caller chose a platform.
void prepareEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray runtime =
            QDir::tempPath().toLocal8Bit() + "/velmora-bench-runtime-" + QByteArray::number(::getuid());
        ::mkdir(runtime.constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", runtime);
    }
}

// "AMD EPYC, 2 cores"
QString machineDescription()
{
    const QString model = procfs::cpuModel();
    return QStringLiteral("%1, %2 cores")
        .arg(model.isEmpty() ? QStringLiteral("unknown CPU") : model)
        .arg(QThread::idealThreadCount());
}

// "Chromium 156.0... (/usr/lib/chromium/...)", or why there is none.
QString chromiumVersion(const QString &executable)
{
    if (executable.isEmpty())
        return QStringLiteral("not found");
    QProcess process;
    process.start(executable, {QStringLiteral("--version")});
    if (!process.waitForFinished(20000))
        return executable;
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed() + QStringLiteral(" (") + executable
        + QLatin1Char(')');
}

void usage(FILE *to)
{
    std::fputs("usage: velmora-bench [--runs N] [row...]\n"
               "Runs every row, or only the rows named. Exits with 1 when a row could not be measured\n"
               "or missed a bound it must meet (MISS), with 2 on a bad command line. Rows:\n",
               to);
    for (const QString &row : bench::rowNames())
        std::fprintf(to, "  %s\n", qPrintable(row));
}

} // namespace

int main(int argc, char *argv[])
{
    prepareEnvironment();
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return bench::childMain(argc, argv);

    bench::Options options;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--runs") && i + 1 < argc) {
            options.runs = QByteArray(argv[++i]).toInt();
            if (options.runs < 1) {
                std::fputs("velmora-bench: --runs needs a positive number\n", stderr);
                return 2;
            }
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            usage(stdout);
            return 0;
        } else if (bench::rowNames().contains(arg)) {
            options.only.append(arg);
        } else {
            std::fprintf(stderr, "velmora-bench: no row named %s\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }

    QApplication app(argc, argv);
    options.self = QCoreApplication::applicationFilePath();
    std::printf(
        "velmora-bench on %s; engine %s; full browser %s; Qt %s; %s build; median of %d runs, more where "
        "a row says so%s\n",
        qPrintable(machineDescription()), qPrintable(chromiumVersion(bench::engineExecutable(bench::Engine::Ours))),
        qPrintable(chromiumVersion(bench::engineExecutable(bench::Engine::FullBrowser))), qVersion(),
        VELMORA_BENCH_BUILD_TYPE, options.runs, options.runs < 5 ? " (fewer than the 5 the targets ask for)" : "");
    std::fflush(stdout);
    return bench::Bench(options).runRows();
}
