#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace engine {
class ChromiumProcess;
class DevToolsConnection;
} // namespace engine

namespace bench {

// A baseline: a bare DevTools client on its own Chromium (the given
// executable), launched by the engine's process and connection classes but
// with none of its logic. One
// tab at a time; each measurement is Page.navigate -> Page.loadEventFired ->
// one Runtime.evaluate of every href in the page's own world.
class BareChromium final : public QObject
{
    Q_OBJECT
public:
    // When the hrefs are read: at the load event, or as Puppeteer's
    // networkidle0 waits, once after it no request has been in flight for 500 ms.
    enum class ReadAt {
        Load,
        NetworkIdle
    };

    explicit BareChromium(QString executable);
    ~BareChromium() override;

    bool start(QString *error);
    qint64 processId() const;

    // Opens a fresh foreground tab and closes the one before. *visibility is
    // what the new tab's document reports (it must say "visible").
    bool openTab(QString *visibility, QString *error);

    // Loads url in the open tab; milliseconds from the navigate command to the
    // evaluate's answer, after checking it holds expected links. With links,
    // the hrefs read are appended to it.
    std::optional<double> harvest(const QString &url, int expected, QString *error, ReadAt readAt = ReadAt::Load,
                                  QStringList *links = nullptr);

private:
    std::optional<QJsonObject> callAndWait(const QString &method, const QJsonObject &params, const QString &sessionId,
                                           QString *error);

    QString m_executable;
    std::unique_ptr<engine::ChromiumProcess> m_process;
    engine::DevToolsConnection *m_connection = nullptr;
    QString m_targetId;
    QString m_sessionId;
};

} // namespace bench
