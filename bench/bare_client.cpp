#include "bare_client.h"

#include "engine/chromium_process.h"
#include "engine/devtools_connection.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QSet>
#include <QTimer>

using namespace engine;

namespace bench {

namespace {

constexpr int callTimeoutMs = 30000;
constexpr int loadTimeoutMs = 180000;
// Puppeteer's networkidle0: no request in flight for this long.
constexpr int networkIdleMs = 500;

const QString hrefsExpression = QStringLiteral("Array.from(document.getElementsByTagName('A'), a => String(a.href))");

} // namespace

BareChromium::BareChromium(QString executable) : m_executable(std::move(executable)) {}

BareChromium::~BareChromium()
{
    if (m_connection && m_connection->isOpen())
        m_connection->call(QStringLiteral("Browser.close"));
    delete m_connection;
    if (m_process)
        m_process->stop(1000);
}

qint64 BareChromium::processId() const
{
    return m_process ? m_process->processId() : 0;
}

bool BareChromium::start(QString *error)
{
    if (m_executable.isEmpty()) {
        *error = QStringLiteral("no such Chromium on this machine");
        return false;
    }
    m_process = std::make_unique<ChromiumProcess>();
    // No proxy switches: the bench's pages are on 127.0.0.1.
    if (!m_process->start(m_executable, QProcessEnvironment::systemEnvironment(), {}, error))
        return false;
    m_connection = new DevToolsConnection(m_process->transport(), this);
    const auto targets = callAndWait(QStringLiteral("Target.getTargets"), {}, {}, error);
    if (!targets)
        return false;
    // The tab Chromium starts with is the first one closed by openTab.
    for (const auto &target : targets->value(QLatin1String("targetInfos")).toArray()) {
        const QJsonObject info = target.toObject();
        if (info.value(QLatin1String("type")).toString() == QLatin1String("page"))
            m_targetId = info.value(QLatin1String("targetId")).toString();
    }
    return true;
}

std::optional<QJsonObject> BareChromium::callAndWait(const QString &method, const QJsonObject &params,
                                                     const QString &sessionId, QString *error)
{
    if (!m_connection)
        return std::nullopt;
    QEventLoop loop;
    std::optional<QJsonObject> answer;
    m_connection->call(
        method, params, sessionId,
        [&](const QJsonObject &result, const CallError &callError) {
            if (callError.isError())
                *error = method + QStringLiteral(": ") + callError.message;
            else
                answer = result;
            loop.quit();
        },
        callTimeoutMs);
    loop.exec();
    return answer;
}

bool BareChromium::openTab(QString *visibility, QString *error)
{
    const auto created = callAndWait(QStringLiteral("Target.createTarget"),
                                     {{QStringLiteral("url"), QStringLiteral("about:blank")}}, {}, error);
    if (!created)
        return false;
    const QString previous = std::exchange(m_targetId, created->value(QLatin1String("targetId")).toString());
    if (!previous.isEmpty()
        && !callAndWait(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), previous}}, {}, error))
        return false;
    const auto attached =
        callAndWait(QStringLiteral("Target.attachToTarget"),
                    {{QStringLiteral("targetId"), m_targetId}, {QStringLiteral("flatten"), true}}, {}, error);
    if (!attached)
        return false;
    m_sessionId = attached->value(QLatin1String("sessionId")).toString();
    if (!callAndWait(QStringLiteral("Page.enable"), {}, m_sessionId, error))
        return false;
    const auto state = callAndWait(QStringLiteral("Runtime.evaluate"),
                                   {{QStringLiteral("expression"), QStringLiteral("document.visibilityState")},
                                    {QStringLiteral("returnByValue"), true}},
                                   m_sessionId, error);
    if (!state)
        return false;
    *visibility = state->value(QLatin1String("result")).toObject().value(QLatin1String("value")).toString();
    return true;
}

std::optional<double> BareChromium::harvest(const QString &url, int expected, QString *error, ReadAt readAt,
                                            QStringList *links)
{
    // Shared with the callbacks: a late answer may arrive after a timeout
    // has already ended this measurement.
    struct State
    {
        QEventLoop *loop = nullptr;
        QElapsedTimer clock;
        std::optional<double> elapsed;
        bool navigated = false;
        bool loaded = false;
        bool evaluating = false;
        QSet<QString> inFlight; // request ids
        qsizetype count = -1;
        bool keepLinks = false;
        QStringList links;
        QString error;
        void finish(const QString &why = {})
        {
            if (!loop)
                return;
            error = why;
            loop->quit();
            loop = nullptr;
        }
    };
    const QString session = m_sessionId;
    if (readAt == ReadAt::NetworkIdle && !callAndWait(QStringLiteral("Network.enable"), {}, session, error))
        return std::nullopt;
    QEventLoop loop;
    auto state = std::make_shared<State>();
    state->loop = &loop;
    state->keepLinks = links != nullptr;

    auto evaluate = [this, state, session] {
        if (std::exchange(state->evaluating, true))
            return;
        m_connection->call(
            QStringLiteral("Runtime.evaluate"),
            {{QStringLiteral("expression"), hrefsExpression}, {QStringLiteral("returnByValue"), true}}, session,
            [state](const QJsonObject &result, const CallError &callError) {
                state->elapsed = double(state->clock.nsecsElapsed()) / 1e6;
                if (callError.isError())
                    return state->finish(QStringLiteral("Runtime.evaluate: ") + callError.message);
                const QJsonArray hrefs =
                    result.value(QLatin1String("result")).toObject().value(QLatin1String("value")).toArray();
                state->count = hrefs.size();
                if (state->keepLinks)
                    for (const auto &href : hrefs)
                        state->links.append(href.toString());
                state->finish();
            },
            callTimeoutMs);
    };
    // Runs while nothing is in flight; the network is idle once it fires.
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(networkIdleMs);
    connect(&idle, &QTimer::timeout, this, [state, evaluate] {
        if (state->loaded)
            evaluate();
    });

    const auto onEvent = connect(m_connection, &DevToolsConnection::eventReceived, this,
                                 [state, session, readAt, evaluate,
                                  &idle](const QString &sessionId, const QString &method, const QJsonObject &params) {
                                     if (sessionId != session)
                                         return;
                                     // The document's own request is sent before the navigate's answer.
                                     const QString request = params.value(QLatin1String("requestId")).toString();
                                     if (method == QLatin1String("Network.requestWillBeSent")) {
                                         state->inFlight.insert(request);
                                         idle.stop();
                                     } else if (method == QLatin1String("Network.loadingFinished")
                                                || method == QLatin1String("Network.loadingFailed")) {
                                         if (state->inFlight.remove(request) && state->inFlight.isEmpty())
                                             idle.start();
                                     } else if (method == QLatin1String("Page.loadEventFired") && state->navigated) {
                                         // A load event before the navigate's answer belongs to about:blank.
                                         state->loaded = true;
                                         if (readAt == ReadAt::Load || (state->inFlight.isEmpty() && !idle.isActive()))
                                             evaluate();
                                     }
                                 });
    QTimer::singleShot(loadTimeoutMs, &loop, [state] {
        state->finish(QStringLiteral("the links were not read within %1 s").arg(loadTimeoutMs / 1000));
    });

    state->clock.start();
    m_connection->call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}, session,
                       [state](const QJsonObject &result, const CallError &callError) {
                           const QString failure = callError.isError()
                               ? callError.message
                               : result.value(QLatin1String("errorText")).toString();
                           if (!failure.isEmpty())
                               return state->finish(QStringLiteral("Page.navigate: ") + failure);
                           state->navigated = true;
                       });
    loop.exec();
    state->loop = nullptr;
    disconnect(onEvent);
    if (!state->error.isEmpty()) {
        *error = state->error;
        return std::nullopt;
    }
    if (state->count != expected) {
        *error = QStringLiteral("the evaluate returned %1 links, not %2").arg(state->count).arg(expected);
        return std::nullopt;
    }
    if (links)
        links->append(state->links);
    return state->elapsed;
}

} // namespace bench
