#include "bench.h"

#include "engine/chromium_locator.h"

#include <QMap>
#include <QTextStream>

#include <cstdio>

namespace bench {

namespace {

// The page tells the server whether it is shown: a hidden tab skips layout
// and paint, which would flatter the times. Synchronous, so it is answered
// before the load event: a request still in flight then would hold the
// window's read back.
const QByteArray visibilityReport = "<script>var seen = new XMLHttpRequest();"
                                    "seen.open('GET', 'seen?' + document.visibilityState, false);"
                                    "seen.send();</script>";

} // namespace

QStringList rowNames()
{
    return {QStringLiteral("harvest-100k"),
            QStringLiteral("harvest-baseline-100k"),
            QStringLiteral("harvest-shell-baseline-100k"),
            QStringLiteral("harvest-10k"),
            QStringLiteral("harvest-baseline-10k"),
            QStringLiteral("harvest-shell-baseline-10k"),
            QStringLiteral("harvest-100k-all"),
            QStringLiteral("harvest-100k-plain"),
            QStringLiteral("settle-xhr"),
            QStringLiteral("settle-xhr-networkidle-baseline"),
            QStringLiteral("engine-ready"),
            QStringLiteral("engine-ready-shell-baseline"),
            QStringLiteral("cli-oneshot"),
            QStringLiteral("cli-oneshot-dump-dom-baseline"),
            QStringLiteral("cli-batch-50"),
            QStringLiteral("cli-batch-50-j1"),
            QStringLiteral("cli-batch-50-bare-baseline"),
            QStringLiteral("append-100k"),
            QStringLiteral("dedupe-100k"),
            QStringLiteral("dedupe-reference-32767"),
            QStringLiteral("save-100k"),
            QStringLiteral("startup"),
            QStringLiteral("memory-1m"),
            QStringLiteral("memory-1m-list"),
            QStringLiteral("chromium-pss-idle"),
            QStringLiteral("chromium-pss-100k"),
            QStringLiteral("chromium-memory"),
            QStringLiteral("ui-stall-100k")};
}

QString engineExecutable(Engine engine)
{
    engine::LocatorInput input = engine::LocatorInput::systemInputs();
    if (engine != Engine::Ours) {
        input.override.clear();
        const bool shell = engine == Engine::Shell;
        input.candidates.removeIf(
            [shell](const QString &candidate) { return candidate.contains(QLatin1String("headless-shell")) != shell; });
    }
    return engine::locateChromium(input).executable;
}

Bench::Bench(const Options &options) : m_options(options) {}

bool Bench::wanted(const QString &row) const
{
    return m_options.only.isEmpty() || m_options.only.contains(row);
}

void Bench::print(const RowResult &row)
{
    if (!row.error.isEmpty() || row.verdict() == QLatin1String("MISS"))
        m_failed = true;
    std::fputs(qPrintable(formatRow(row) + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

int Bench::runRows()
{
    if (!m_server.listen()) {
        std::fputs("velmora-bench: the page server cannot listen on 127.0.0.1\n", stderr);
        return 2;
    }
    std::fputs(qPrintable(headerLine() + QLatin1Char('\n')), stdout);
    harvestRows();
    extractAllRows();
    settleRows();
    engineReadyRow();
    cliOneshotRows();
    cliBatchRows();
    listRows();
    startupRow();
    memoryRows();
    chromiumIdleRow();
    chromiumMemoryRows();
    uiStallRow();
    return m_failed ? 1 : 0;
}

QString Bench::anchorsPage(const QString &consumer, int count)
{
    const QString path = QStringLiteral("/%1/a%2.html").arg(consumer).arg(count);
    if (!m_routed.contains(path)) {
        QByteArray html = PageServer::anchorsPage(count);
        html.replace("</body>", visibilityReport + "</body>");
        m_server.route(path, html);
        m_routed.append(path);
    }
    return m_server.url(path);
}

QStringList Bench::batchPages(const QString &consumer, int pages, int count)
{
    QStringList urls;
    for (int page = 0; page < pages; ++page) {
        const QString path = QStringLiteral("/%1/b%2.html").arg(consumer).arg(page);
        if (!m_routed.contains(path)) {
            QByteArray html = PageServer::anchorsPage(count, QStringLiteral("/batch/%1/item/").arg(page));
            html.replace("</body>", visibilityReport + "</body>");
            m_server.route(path, html);
            m_routed.append(path);
        }
        urls.append(m_server.url(path));
    }
    return urls;
}

QString Bench::scriptedAnchorsPage(const QString &consumer, int count)
{
    const QString path = QStringLiteral("/%1/s%2.html").arg(consumer).arg(count);
    if (!m_routed.contains(path)) {
        m_server.route(path,
                       "<!DOCTYPE html><html><head><title>anchors</title></head><body><script>"
                       "var box = document.createElement('div'); box.style.display = 'none';"
                       "for (var i = 0; i < "
                           + QByteArray::number(count)
                           + "; ++i) {"
                             "var a = document.createElement('a'); a.href = '/item/' + i; box.appendChild(a); }"
                             "document.body.appendChild(box);"
                             "</script></body></html>");
        m_routed.append(path);
    }
    return m_server.url(path);
}

QString Bench::lateAnchorsPage(const QString &consumer, int count)
{
    const QString path = QStringLiteral("/%1/late.html").arg(consumer);
    if (!m_routed.contains(path)) {
        PageServer::Response data;
        data.contentType = "application/json";
        for (int i = 1; i <= count; ++i)
            data.body += (i == 1 ? "[\"/item/" : ",\"/item/") + QByteArray::number(i) + '"';
        data.body += ']';
        data.delayMs = 300;
        m_server.route(QStringLiteral("/%1/late.json").arg(consumer), data);
        m_server.route(path,
                       "<!DOCTYPE html><html><head><title>late anchors</title></head><body>\n"
                       "<a href=\"/item/0\">0</a>\n<script>"
                       "var xhr = new XMLHttpRequest(); xhr.open('GET', 'late.json');"
                       "xhr.onload = function () { var box = document.createDocumentFragment();"
                       "JSON.parse(xhr.responseText).forEach(function (href, i) {"
                       "var a = document.createElement('a'); a.href = href; a.textContent = i + 1;"
                       "box.append(a, '\\n'); });"
                       "document.body.appendChild(box); };"
                       "xhr.send();</script>"
                           + visibilityReport + "</body></html>");
        m_routed.append(path);
    }
    return m_server.url(path);
}

QString Bench::visibilitySeen(const QString &consumer) const
{
    const QString prefix = QStringLiteral("/%1/seen?").arg(consumer);
    QMap<QString, int> states;
    for (const QString &request : m_server.requests())
        if (request.startsWith(prefix))
            ++states[request.mid(prefix.size())];
    QStringList parts;
    for (auto it = states.cbegin(); it != states.cend(); ++it)
        parts.append(QStringLiteral("%1 x%2").arg(it.key()).arg(it.value()));
    return parts.isEmpty() ? QStringLiteral("no report") : parts.join(QStringLiteral(", "));
}

} // namespace bench
