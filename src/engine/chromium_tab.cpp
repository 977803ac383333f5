#include "engine/chromium_tab.h"

#include "core/address.h"
#include "engine/navigation_error.h"
#include "engine/page_scripts.h"
#include "engine/scoped_harvest.h"
#include "engine/settle_watch.h"

#include <QCoreApplication>
#include <QTimer>

#include <memory>

namespace engine {

ChromiumTab::ChromiumTab(DevToolsConnection *connection, const QString &targetId, const TabSettings &settings,
                         QObject *parent)
    : QObject(parent), m_connection(connection), m_targetId(targetId), m_settings(settings),
      m_binding(settings.maxHarvestUnits), m_settleWatch(new SettleWatch(settings.settleMs, this))
{
    connect(m_settleWatch, &SettleWatch::readDue, this, [this](bool final) {
        if (m_page.failed)
            return;
        if (m_scoped)
            m_scoped->read(final ? 0 : SettleWatch::quietMs);
        else if (m_evaluate)
            m_evaluate->readSettled(final ? 0 : SettleWatch::quietMs);
    });
    m_loadBound.setSingleShot(true);
    connect(&m_loadBound, &QTimer::timeout, this, [this] {
        if (m_role != Role::Current || m_page.failed || !m_scoped->holdsFrames()
            || std::exchange(m_page.loadEnded, true))
            return;
        m_settleWatch->stop();
        m_scoped->read(0);
    });
    m_loadDeadline.setSingleShot(true);
    connect(&m_loadDeadline, &QTimer::timeout, this, &ChromiumTab::onLoadDeadline);
    m_deadlineRead.setSingleShot(true);
    connect(&m_deadlineRead, &QTimer::timeout, this, [this] {
        if (m_role == Role::Current && !m_page.failed && !m_page.documentRead)
            fail(deadlineReason());
    });
}

void ChromiumTab::setUp(int timeoutMs, bool wantBinding)
{
    QPointer<ChromiumTab> self(this);
    m_connection->browserSession()->call(
        QStringLiteral("Target.attachToTarget"),
        {{QStringLiteral("targetId"), m_targetId}, {QStringLiteral("flatten"), true}},
        [self, timeoutMs, wantBinding](const QJsonObject &result, const CallError &error) {
            if (!self)
                return;
            if (error.isError())
                return emit self->setUpFinished(error);
            DevToolsSession *session =
                self->m_connection->adoptSession(result.value(QLatin1String("sessionId")).toString());
            self->m_session = session;
            self->watch(session);
            connect(session, &DevToolsSession::detached, self, &QObject::deleteLater);

            // Without the binding the evaluate path still works.
            auto bindingOk = std::make_shared<bool>(true);
            CallBatch batch(session, timeoutMs, [self, bindingOk, wantBinding](const CallError &error) {
                if (!self)
                    return;
                self->m_page.useBinding = wantBinding && *bindingOk;
                self->readByEvaluate();
                emit self->setUpFinished(error);
            });
            const auto noBinding = [bindingOk] { *bindingOk = false; };

            // Sent together, answered in order; navigation waits for all, so
            // every script is in place before the page's first byte runs.
            batch.call(QStringLiteral("Page.enable"));
            batch.call(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
                       {{QStringLiteral("source"), scripts::dialogScript()}});
            if (self->m_settleWatch->isOn())
                batch.call(QStringLiteral("Network.enable"), scripts::networkParams());
            if (wantBinding) {
                // Bindings only appear while Runtime is enabled.
                batch.tryCall(QStringLiteral("Runtime.enable"), {}, noBinding);
                batch.tryCall(QStringLiteral("Runtime.addBinding"),
                              {{QStringLiteral("name"), scripts::bindingName},
                               {QStringLiteral("executionContextName"), scripts::harvestWorld}},
                              noBinding);
                const LinkScope &scope = self->m_settings.scope;
                batch.tryCall(
                    QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
                    {{QStringLiteral("source"),
                      scope.isPlain() ? scripts::harvestScript(self->m_settings.maxHarvestUnits)
                                      : scripts::scopedHarvestScript(scope, self->m_settings.maxHarvestUnits)},
                     {QStringLiteral("worldName"), scripts::harvestWorld}},
                    noBinding);
            }
            batch.call(QStringLiteral("Target.setAutoAttach"), scripts::autoAttachParams());
        },
        timeoutMs);
}

void ChromiumTab::readByEvaluate()
{
    m_evaluate = new EvaluateHarvest(m_session, m_settings.callTimeoutMs, m_settings.maxHarvestUnits, this);
    connect(m_evaluate, &EvaluateHarvest::harvested, this, &ChromiumTab::reportHarvest);
    connect(m_evaluate, &EvaluateHarvest::tooEarly, m_settleWatch, &SettleWatch::readTooEarly);
    connect(m_evaluate, &EvaluateHarvest::unresponsive, this, &ChromiumTab::onUnresponsive);
    if (!m_settings.scope.isPlain())
        readWithScope();
}

void ChromiumTab::readWithScope()
{
    ScopedHarvestSettings settings;
    settings.scope = m_settings.scope;
    settings.callTimeoutMs = m_settings.callTimeoutMs;
    settings.extrasMs = m_settings.scopeExtrasMs;
    settings.maxUnits = m_settings.maxHarvestUnits;
    m_scoped = new ScopedHarvest(m_session, settings, this);
    connect(m_scoped, &ScopedHarvest::harvested, this, &ChromiumTab::reportLinks);
    connect(m_scoped, &ScopedHarvest::tooEarly, m_settleWatch, &SettleWatch::readTooEarly);
    connect(m_scoped, &ScopedHarvest::unresponsive, this, &ChromiumTab::onUnresponsive);
}

void ChromiumTab::onUnresponsive()
{
    // A page that keeps its renderer busy answers nothing: give up on
    // this harvest with a message, the engine itself is fine.
    if (m_role != Role::Current || m_page.failed)
        return;
    if (auto read = std::exchange(m_loadTimeRead, std::nullopt))
        return reportHarvest(read->url, read->links, read->cut);
    if (m_scoped && m_scoped->walked())
        return reportLinks(m_scoped->walked()->url, m_scoped->walked()->links, m_scoped->walked()->cut);
    fail(QCoreApplication::translate("engine", "网页 %1 长时间没有响应，未能读取其中的链接。")
             .arg(address::elided(m_url)));
}

QString ChromiumTab::deadlineSeconds() const
{
    return QString::number(m_settings.loadDeadlineMs / 1000.0);
}

QString ChromiumTab::deadlineReason() const
{
    return QCoreApplication::translate("engine", "网页 %1 在 %2 秒内没有加载完成，未能读取其中的链接。")
        .arg(address::elided(m_url), deadlineSeconds());
}

void ChromiumTab::onLoadDeadline()
{
    if (m_role != Role::Current || m_page.failed || m_page.documentRead)
        return;
    // Nothing of the page has come: there is nothing to read.
    if (!m_page.committed || !m_page.documentShown)
        return fail(deadlineReason());
    m_page.atDeadline = !std::exchange(m_page.loadEnded, true);
    m_settleWatch->stop();
    m_loadBound.stop();
    // A scoped read may wait that long for its frames first.
    m_deadlineRead.start(m_settings.deadlineReadMs + (m_scoped ? m_settings.scopeExtrasMs : 0));
    readNow();
}

void ChromiumTab::onLoadEnded()
{
    if (m_evaluate && !m_page.failed && readsAtLoad())
        readNow();
}

void ChromiumTab::readNow()
{
    if (m_scoped)
        m_scoped->read(0);
    else
        m_evaluate->loaded();
}

bool ChromiumTab::readsAtLoad()
{
    if (m_settleWatch->loaded())
        return true;
    // Its own requests are still coming: read it once they have been
    // answered and its anchors are still.
    if (m_evaluate)
        m_evaluate->watchAnchors(m_settleWatch->boundMs());
    return false;
}

void ChromiumTab::watch(DevToolsSession *session)
{
    connect(session, &DevToolsSession::eventReceived, this,
            [this, session](const QString &method, const QJsonObject &params) { onEvent(session, method, params); });
}

void ChromiumTab::navigate(const QString &url)
{
    m_role = Role::Current;
    m_url = url;
    // A tab that showed a page goes on to the next: until Page.navigate has
    // answered, what happens in it concerns the page it leaves.
    m_page = PageState{m_page.useBinding};
    m_loadTimeRead.reset();
    m_settleWatch->stop();
    m_deadlineRead.stop();
    if (m_settings.loadDeadlineMs > 0)
        m_loadDeadline.start(m_settings.loadDeadlineMs);
    if (!m_session)
        return;
    QPointer<ChromiumTab> self(this);
    m_session->call(
        QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}},
        [self, url](const QJsonObject &result, const CallError &error) {
            if (!self || self->m_role != Role::Current)
                return;
            if (error.kind == CallError::Protocol)
                return self->fail(
                    QCoreApplication::translate("engine", "无法打开网页 %1：Chromium 不接受这个地址（%2）。")
                        .arg(address::elided(url), error.message));
            if (error.isError())
                return; // the engine is gone; that is reported on its own
            const QString errorText = result.value(QLatin1String("errorText")).toString();
            if (errorText.isEmpty()) {
                self->m_page.committed = true;
                return;
            }
            // Whatever loads now is Chromium's error page: never harvest it.
            self->fail(result.value(QLatin1String("isDownload")).toBool() ? downloadReason(url)
                                                                          : navigationErrorReason(url, errorText));
        },
        DevToolsConnection::noTimeout);
}

void ChromiumTab::onEvent(DevToolsSession *from, const QString &method, const QJsonObject &params)
{
    if (method == QLatin1String("Page.javascriptDialogOpening")) {
        // An unanswered dialog freezes the renderer and every later call on
        // it. Leaving a page is allowed, so a beforeunload never holds a tab.
        const bool accept = params.value(QLatin1String("type")).toString() == QLatin1String("beforeunload");
        from->call(QStringLiteral("Page.handleJavaScriptDialog"), {{QStringLiteral("accept"), accept}}, {},
                   m_settings.callTimeoutMs);
        return;
    }
    if (method == QLatin1String("Target.attachedToTarget"))
        return onAttached(params);
    if (m_scoped && (method == QLatin1String("Page.frameAttached") || method == QLatin1String("Page.frameDetached")))
        m_scoped->frameEvent(from, method, params);
    if (method.startsWith(QLatin1String("Network.")))
        return m_settleWatch->networkEvent(from, method, params);
    const bool onPage = from == m_session;
    switch (m_role) {
    case Role::Current:
        return onCurrentEvent(onPage, method, params);
    case Role::Parked:
        if (onPage && method == QLatin1String("Page.frameStartedLoading"))
            emit movedOn();
        return;
    case Role::Retiring:
        // Load events from now on are about:blank's, not the old page's.
        if (onPage && m_page.leaving && method == QLatin1String("Page.loadEventFired"))
            finishLeaving();
        return;
    case Role::Spare:
    case Role::Idle:
        return;
    }
}

void ChromiumTab::onCurrentEvent(bool onPage, const QString &method, const QJsonObject &params)
{
    if (method == QLatin1String("Page.frameNavigated")) {
        const QJsonObject frame = params.value(QLatin1String("frame")).toObject();
        const QString id = frame.value(QLatin1String("id")).toString();
        if (onPage && !frame.contains(QLatin1String("parentId"))) {
            m_topFrameId = id;
            m_page.documentShown = true;
            m_page.loadEnded = false;
            m_page.opened = false;
            m_settleWatch->newDocument(id);
            m_loadTimeRead.reset();
            m_page.documentRead = false;
            m_loadBound.stop();
            if (m_evaluate)
                m_evaluate->committed(id, !m_page.useBinding);
            if (m_scoped)
                m_scoped->committed(id);
        } else {
            m_childFrames.insert(id, frame.value(QLatin1String("url")).toString());
        }
    } else if (method == QLatin1String("Page.frameStartedLoading")) {
        if (onPage && params.value(QLatin1String("frameId")).toString() == m_topFrameId)
            m_page.settled = false; // moving on by itself
    } else if (method == QLatin1String("Page.frameStoppedLoading")) {
        if (onPage && params.value(QLatin1String("frameId")).toString() == m_topFrameId) {
            // A page that stops itself (window.stop()) never fires its load
            // event: what it holds is read as if it had. A harvest that comes
            // before Page.navigate has answered is dropped by reportHarvest.
            m_loadBound.stop();
            if (!std::exchange(m_page.loadEnded, true))
                onLoadEnded();
            return;
        }
        const auto frame = m_childFrames.constFind(params.value(QLatin1String("frameId")).toString());
        if (frame != m_childFrames.cend() && m_page.committed && !m_page.failed)
            emit frameComplete(*frame);
    } else if (method == QLatin1String("Page.domContentEventFired")) {
        // Frames hold the load event until every one of them has loaded.
        if (onPage && m_scoped && m_scoped->scope().frames)
            m_loadBound.start(m_settings.settleMs > 0 ? m_settings.settleMs : TabSettings{}.settleMs);
    } else if (method == QLatin1String("Page.documentOpened")) {
        // Same document, same worlds, but none of our listeners: no
        // pageshow report will come. Chromium sends this before the load
        // event it may be called in.
        if (onPage
            && params.value(QLatin1String("frame")).toObject().value(QLatin1String("id")).toString() == m_topFrameId)
            m_page.opened = true;
    } else if (method == QLatin1String("Page.loadEventFired")) {
        if (onPage) {
            m_page.loadEnded = true;
            m_loadBound.stop();
            if (!m_page.useBinding || m_page.opened)
                onLoadEnded();
        }
    } else if (method == QLatin1String("Runtime.executionContextCreated")) {
        const QJsonObject context = params.value(QLatin1String("context")).toObject();
        if (onPage && m_scoped && context.value(QLatin1String("name")).toString() == scripts::harvestWorld)
            m_scoped->harvestWorldCreated(
                context.value(QLatin1String("id")).toInt(),
                context.value(QLatin1String("auxData")).toObject().value(QLatin1String("frameId")).toString());
    } else if (method == QLatin1String("Runtime.bindingCalled")) {
        if (onPage && m_page.useBinding && params.value(QLatin1String("name")).toString() == scripts::bindingName) {
            if (m_scoped) {
                // Kept as it is for a renderer too busy to be read again.
                if (m_scoped->bindingReport(params.value(QLatin1String("payload")).toString()) && readsAtLoad())
                    m_scoped->readWalked();
                return;
            }
            if (auto links = m_binding.add(params.value(QLatin1String("payload")).toString())) {
                if (readsAtLoad())
                    return reportHarvest(links->url, links->links, links->cut);
                // Kept for a renderer too busy to be read again.
                m_loadTimeRead = std::move(links);
            }
        }
    } else if (method == QLatin1String("Inspector.targetCrashed")) {
        if (m_page.failed)
            return;
        // The pool may know why (a renderer killed for its memory) and stop
        // the page itself; else a frame's crash leaves the page going.
        QPointer<ChromiumTab> self(this);
        emit crashed();
        if (self && onPage && !m_page.failed)
            fail(QCoreApplication::translate("engine", "网页 %1 的渲染进程崩溃了，未能读取其中的链接。")
                     .arg(address::elided(m_url)));
    }
}

void ChromiumTab::onAttached(const QJsonObject &params)
{
    QPointer<DevToolsSession> child = m_connection->session(params.value(QLatin1String("sessionId")).toString());
    if (!child)
        return;
    // Events of nested frames count for this tab too.
    watch(child);
    connect(child, &DevToolsSession::detached, m_settleWatch,
            [watch = m_settleWatch, gone = child.data()] { watch->sessionGone(gone); });
    const int timeout = m_settings.callTimeoutMs;
    auto release = [child, timeout] {
        // A target left waiting never runs, and a waiting cross-site frame
        // holds its parent's load event for ever.
        if (child && child->isWaiting())
            child->call(QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, {}, timeout);
    };
    if (child->type() != QLatin1String("iframe"))
        return release();
    if (m_scoped)
        m_scoped->addFrameSession(child);

    // A cross-site frame runs in its own process: it needs its own dialog
    // script and its own auto-attach for frames nested in it.
    CallBatch batch(child, timeout, [release](const CallError &) { release(); });
    batch.call(QStringLiteral("Page.enable"));
    batch.call(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
               {{QStringLiteral("source"), scripts::dialogScript()}});
    // Its requests hold the page's read like the page's own.
    if (m_settleWatch->isOn())
        batch.call(QStringLiteral("Network.enable"), scripts::networkParams());
    batch.call(QStringLiteral("Target.setAutoAttach"), scripts::autoAttachParams());
}

void ChromiumTab::fail(const QString &reason)
{
    // A page given up at its deadline may still answer Page.navigate with an
    // error later: one failure is all it reports.
    if (m_page.failed)
        return;
    abandon();
    emit failed(reason);
}

void ChromiumTab::abandon()
{
    m_page.failed = true;
    m_settleWatch->stop();
    m_loadBound.stop();
    m_loadDeadline.stop();
    m_deadlineRead.stop();
    if (m_evaluate)
        m_evaluate->abandon();
    if (m_scoped)
        m_scoped->abandon();
}

bool ChromiumTab::acceptsRead(const QString &url)
{
    // Chromium's own error page is never a harvest.
    if (m_role != Role::Current || !m_page.committed || m_page.failed || url.startsWith(QLatin1String("chrome-error:")))
        return false;
    // A settled read still under way when the bound came answers too.
    if (std::exchange(m_page.documentRead, true))
        return false;
    m_settleWatch->stop();
    m_loadBound.stop();
    m_loadDeadline.stop();
    m_deadlineRead.stop();
    m_loadTimeRead.reset();
    // Still loading: it is left at once, and the next page gets a fresh tab.
    m_page.settled = !m_page.atDeadline;
    if (m_page.atDeadline) {
        QPointer<ChromiumTab> self(this);
        emit pageNotice(url, PageNotice::ReadAtDeadline,
                        QCoreApplication::translate("engine", "网页 %1 在 %2 秒内没有加载完成，已读取当时已有的链接。")
                            .arg(address::elided(m_url), deadlineSeconds()));
        return self && m_role == Role::Current;
    }
    return true;
}

void ChromiumTab::reportHarvest(const QString &url, const QStringList &links, bool cut)
{
    if (mayReport(url, links.size(), cut))
        emit harvested(url, links);
}

void ChromiumTab::reportLinks(const QString &url, const Links &links, bool cut)
{
    if (mayReport(url, links.size(), cut))
        emit linksRead(url, links);
}

bool ChromiumTab::mayReport(const QString &url, qsizetype kept, bool cut)
{
    if (!acceptsRead(url))
        return false;
    QPointer<ChromiumTab> self(this);
    if (cut)
        noticeCut(url, kept);
    return !self.isNull();
}

void ChromiumTab::noticeCut(const QString &url, qsizetype kept)
{
    emit pageNotice(url, PageNotice::LinksCut,
                    QCoreApplication::translate(
                        "engine", "网页 %1 的链接文字超过了上限（%2 个字符）：只读取了前 %3 个链接，其余的已略去。")
                        .arg(address::elided(url))
                        .arg(m_settings.maxHarvestUnits)
                        .arg(kept));
}

void ChromiumTab::park()
{
    m_role = Role::Parked;
    m_settleWatch->stop();
    m_loadBound.stop();
    m_loadDeadline.stop();
    stopScripts();
}

void ChromiumTab::stopScripts()
{
    if (m_session)
        m_session->call(QStringLiteral("Emulation.setScriptExecutionDisabled"), {{QStringLiteral("value"), true}}, {},
                        m_settings.leaveStartMs);
}

void ChromiumTab::retire()
{
    if (m_role == Role::Retiring)
        return;
    m_role = Role::Retiring;
    m_settleWatch->stop();
    m_loadBound.stop();
    m_loadDeadline.stop();
    m_deadlineRead.stop();
    if (m_scoped)
        m_scoped->abandon();
    if (!m_session)
        return finishLeaving();
    // A page that reloads itself on load would otherwise start again over
    // about:blank, and a page navigating while it is closed stays open.
    // A renderer that cannot answer this is spinning in a script: the
    // headless shell never takes such a page to about:blank, so it is
    // closed as it is.
    QPointer<ChromiumTab> self(this);
    m_session->call(
        QStringLiteral("Emulation.setScriptExecutionDisabled"), {{QStringLiteral("value"), true}},
        [self](const QJsonObject &, const CallError &error) {
            if (self && error.kind == CallError::Timeout)
                self->finishLeaving();
        },
        m_settings.leaveStartMs);
    m_session->call(
        QStringLiteral("Page.navigate"), {{QStringLiteral("url"), QStringLiteral("about:blank")}},
        [self](const QJsonObject &, const CallError &error) {
            if (!self)
                return;
            // A page that cannot even start leaving is closed as it is.
            if (error.isError())
                return self->finishLeaving();
            self->m_page.leaving = true;
            QTimer::singleShot(self->m_settings.leaveLoadMs, self, &ChromiumTab::finishLeaving);
            // The browser accepts the navigation even while the page's
            // renderer spins in a script, which then never lets it commit: a
            // renderer that cannot answer this either is not waited for.
            if (self->m_session)
                self->m_session->call(
                    QStringLiteral("Runtime.evaluate"), {{QStringLiteral("expression"), QStringLiteral("0")}},
                    [self](const QJsonObject &, const CallError &probeError) {
                        if (self && probeError.kind == CallError::Timeout)
                            self->finishLeaving();
                    },
                    self->m_settings.leaveStartMs);
        },
        m_settings.leaveStartMs);
}

void ChromiumTab::finishLeaving()
{
    if (std::exchange(m_page.left, true))
        return;
    emit leftPage();
}

} // namespace engine
