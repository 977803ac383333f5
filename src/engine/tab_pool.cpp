#include "engine/tab_pool.h"

#include "engine/renderer_watch.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcTabs, "velmora.tabs", QtWarningMsg)

namespace engine {

TabPool::TabPool(DevToolsConnection *connection, const TabPoolSettings &settings, QObject *parent)
    : QObject(parent), m_connection(connection), m_settings(settings)
{
    connect(connection->browserSession(), &DevToolsSession::eventReceived, this, &TabPool::onBrowserEvent);
}

int TabPool::timeout() const
{
    const int calls = m_settings.tab.callTimeoutMs;
    return m_ready ? calls : std::max(calls, m_settings.launchTimeoutMs);
}

bool TabPool::engineFailed(const CallError &error)
{
    if (error.kind == CallError::Timeout)
        emit hung(error);
    else if (error.kind == CallError::Protocol)
        emit broken(error.message);
    // Closed: the lost connection is reported on its own.
    return error.isError();
}

void TabPool::adopt(const QString &targetId)
{
    prepareTab(targetId, 0, {});
}

void TabPool::open()
{
    openSpare();
}

void TabPool::setRendererWatch(RendererWatch *watch)
{
    m_watch = watch;
    connect(watch, &RendererWatch::exceeded, this, [this](const QObject *owner) {
        if (owner == this)
            stopRunawayPage(m_current);
    });
}

void TabPool::stopRunawayPage(ChromiumTab *tab)
{
    if (!tab || tab != m_current || tab->hasFailed() || tab->isSettled())
        return;
    m_watch->release(this);
    // Closing the tab frees its renderers within a second, even one busy
    // parsing; leaving for about:blank would wait on that renderer.
    tab->abandon();
    tab->setIdle();
    m_current = nullptr;
    closeTarget(tab->targetId());
    ensureSpare();
    qCInfo(lcTabs) << "stopped a page past the memory bound:" << tab->url();
    emit navigateError(tab->url(),
                       QCoreApplication::translate("engine",
                                                   "网页 %1 占用的内存超过了上限（%2 GB），已停止并关闭该网页，"
                                                   "以免拖慢整台电脑；未能读取其中的链接。")
                           .arg(tab->url(), QString::number(double(m_watch->limit()) / (1 << 30), 'f', 1)));
}

void TabPool::navigate(const QString &url)
{
    const int generation = ++m_generation;
    if (m_watch)
        m_watch->release(this);
    QPointer<ChromiumTab> previous = std::exchange(m_current, nullptr);
    if (previous)
        previous->setIdle();
    if (m_settings.reuseReadTabs && previous && previous->isSettled() && !previous->hasFailed()) {
        m_urlForSpare.clear();
        return startOn(previous, url);
    }

    if (!m_spare && m_preparingSpare) {
        // Waiting for the tab already on its way beats opening a second one.
        if (previous)
            leave(previous);
        m_urlForSpare = url;
        return;
    }
    m_urlForSpare.clear();
    if (m_spare) {
        if (previous)
            leave(previous);
        return startOn(std::exchange(m_spare, nullptr), url);
    }

    // The old tab goes once the new one exists, so Chromium is never left
    // without a tab.
    QPointer<TabPool> self(this);
    m_connection->browserSession()->call(
        QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), QStringLiteral("about:blank")}},
        [self, generation, previous, url](const QJsonObject &result, const CallError &error) {
            if (!self || error.kind == CallError::Closed)
                return;
            if (previous)
                self->leave(previous);
            if (self->engineFailed(error))
                return;
            const QString targetId = result.value(QLatin1String("targetId")).toString();
            if (generation != self->m_generation)
                return self->closeTarget(targetId);
            self->prepareTab(targetId, generation, url);
        },
        timeout());
}

void TabPool::prepareTab(const QString &targetId, int generation, const QString &url)
{
    auto *tab = new ChromiumTab(m_connection, targetId, m_settings.tab, this);
    connect(tab, &ChromiumTab::harvested, this, [this, tab](const QString &page, const QStringList &links) {
        if (m_watch && tab == m_current)
            m_watch->release(this);
        emit documentComplete(true, page, links);
        afterRead();
    });
    connect(tab, &ChromiumTab::linksRead, this, [this, tab](const QString &page, const Links &links) {
        if (m_watch && tab == m_current)
            m_watch->stop();
        emit linksRead(page, links);
        afterRead();
    });
    connect(tab, &ChromiumTab::pageNotice, this, &TabPool::pageNotice);
    connect(tab, &ChromiumTab::frameComplete, this,
            [this](const QString &frame) { emit documentComplete(false, frame, {}); });
    connect(tab, &ChromiumTab::failed, this, [this, tab](const QString &reason) {
        if (m_watch && tab == m_current)
            m_watch->release(this);
        emit navigateError(tab->url(), reason);
        ensureSpare();
    });
    connect(tab, &ChromiumTab::crashed, this, [this, tab] {
        // The watch killed a renderer of this page for its memory.
        if (m_watch && m_watch->killedLately())
            stopRunawayPage(tab);
    });
    connect(tab, &ChromiumTab::movedOn, this, [this, tab] {
        if (tab == m_parked)
            retire(std::exchange(m_parked, nullptr));
    });
    connect(tab, &ChromiumTab::leftPage, this, [this, tab] { closeTarget(tab->targetId()); });
    connect(tab, &ChromiumTab::setUpFinished, this, [this, tab, generation, url](const CallError &error) {
        if (engineFailed(error))
            return;
        if (generation == 0) {
            m_preparingSpare = false;
            // Prepared for a scope no longer wanted.
            if (tab->scope() != m_settings.tab.scope) {
                tab->setIdle();
                closeTarget(tab->targetId());
                if (!m_urlForSpare.isEmpty())
                    return navigate(std::exchange(m_urlForSpare, QString()));
                return ensureSpare();
            }
            // A navigate came while this tab was being set up.
            if (!m_urlForSpare.isEmpty())
                return startOn(tab, std::exchange(m_urlForSpare, QString()));
            m_spare = tab;
            if (!std::exchange(m_ready, true))
                emit ready();
            return;
        }
        if (generation != m_generation)
            return closeTarget(tab->targetId());
        startOn(tab, url);
    });
    tab->setUp(timeout(), m_settings.wantBinding);
}

void TabPool::afterRead()
{
    if (m_parked)
        retire(std::exchange(m_parked, nullptr));
    ensureSpare();
}

void TabPool::setLinkScope(const LinkScope &scope)
{
    m_settings.tab.scope = scope;
    if (m_spare && m_spare->scope() != scope) {
        ChromiumTab *stale = std::exchange(m_spare, nullptr);
        stale->setIdle();
        closeTarget(stale->targetId());
        ensureSpare();
    }
}

void TabPool::startOn(ChromiumTab *tab, const QString &url)
{
    m_current = tab;
    if (m_watch)
        m_watch->watch(this);
    tab->navigate(url);
}

void TabPool::ensureSpare()
{
    // Opening and setting up a tab costs a few hundred milliseconds; do it
    // while the user looks at the list, not after the next Enter.
    if (!m_ready || m_spare || m_preparingSpare)
        return;
    openSpare();
}

void TabPool::openSpare()
{
    m_preparingSpare = true;
    QPointer<TabPool> self(this);
    m_connection->browserSession()->call(
        QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), QStringLiteral("about:blank")}},
        [self](const QJsonObject &result, const CallError &error) {
            if (!self || error.kind == CallError::Closed)
                return;
            if (error.isError()) {
                self->m_preparingSpare = false;
                if (!self->m_ready) {
                    self->engineFailed(error); // a pool without its first tab loads nothing
                    return;
                }
                // The next navigate opens its own tab; one already waiting does so now.
                if (!self->m_urlForSpare.isEmpty())
                    self->navigate(std::exchange(self->m_urlForSpare, QString()));
                return;
            }
            self->prepareTab(result.value(QLatin1String("targetId")).toString(), 0, {});
        },
        timeout());
}

void TabPool::leave(ChromiumTab *tab)
{
    // Unloading a big page costs its renderer about as much as building it.
    // A page that has been read and sits still waits until the next one has
    // been read (or a while), so the two do not fight over the processor; one
    // still loading or busy goes at once.
    if (m_parked)
        retire(std::exchange(m_parked, nullptr));
    if (!tab->isSettled())
        return retire(tab);
    m_parked = tab;
    tab->park();
    QTimer::singleShot(m_settings.parkMs, tab, [this, tab] {
        if (tab == m_parked)
            retire(std::exchange(m_parked, nullptr));
    });
}

void TabPool::retire(ChromiumTab *tab)
{
    tab->retire();
}

void TabPool::closeTarget(const QString &targetId)
{
    const int attempts = ++m_closing[targetId];
    m_connection->browserSession()->call(QStringLiteral("Target.closeTarget"),
                                         {{QStringLiteral("targetId"), targetId}});
    QTimer::singleShot(m_settings.closeCheckMs, this, [this, targetId, attempts] {
        if (m_closing.value(targetId) != attempts)
            return;
        if (attempts >= m_settings.closeAttempts) {
            qCWarning(lcTabs) << "tab" << targetId << "would not close";
            m_closing.remove(targetId);
            return;
        }
        closeTarget(targetId);
    });
}

void TabPool::onBrowserEvent(const QString &method, const QJsonObject &params)
{
    if (method == QLatin1String("Target.targetDestroyed")) {
        m_closing.remove(params.value(QLatin1String("targetId")).toString());
    } else if (method == QLatin1String("Target.targetCreated")) {
        const QJsonObject info = params.value(QLatin1String("targetInfo")).toObject();
        // Popups opened by a page: nobody will ever look at them.
        if (m_settings.closesPopups && info.value(QLatin1String("type")).toString() == QLatin1String("page")
            && !info.value(QLatin1String("openerId")).toString().isEmpty())
            closeTarget(info.value(QLatin1String("targetId")).toString());
    }
}

} // namespace engine
