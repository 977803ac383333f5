#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace engine {

// The engine seam: the window only ever talks to this, whichever engine is
// behind it (window tests drive a fake one).
class Browser : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~Browser() override = default;

    // Prepares the engine in the background so the first navigate is quick.
    // Failures are reported through engineError. Calling it twice is harmless.
    virtual void start() {}

    // Starts loading url; returns at once. The page arrives later through
    // documentComplete, or fails through navigateError or engineError.
    virtual void navigate(const QString &url) = 0;

    // Another page loaded at the same time on the same engine: a Browser of its
    // own (navigate and the page signals are its own), owned by this one. The
    // engine's failure (engineError) reaches every lane. Null where the engine
    // loads one page at a time.
    virtual Browser *addLane() { return nullptr; }

signals:
    // A document has completed. topLevel tells the page's own document from a
    // frame's; anchors holds the href of every A element of the top-level
    // document in document order (empty for frames).
    void documentComplete(bool topLevel, const QString &url, const QStringList &anchors);
    // The navigation to url failed; reason is a readable Chinese text.
    void navigateError(const QString &url, const QString &reason);
    // The engine itself cannot work (not installed, crashed, hung).
    void engineError(const QString &reason);
};

} // namespace engine
