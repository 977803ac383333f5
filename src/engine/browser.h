#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace engine {

// What a read of a page covers beyond the href of each anchor of its
// top-level document, the window's harvest. velmora-extract asks for more.
struct LinkScope
{
    bool frames = false;      // the documents of every frame, where each frame's element stands
    bool shadowTrees = false; // shadow trees, open and closed, in tree order
    bool areas = false;       // area elements with an href
    bool text = false;        // each link's text

    bool isPlain() const { return !frames && !shadowTrees && !areas && !text; }
    friend bool operator==(const LinkScope &, const LinkScope &) = default;
};

// One link of a read, with where it came from.
struct Link
{
    enum class Element : quint8 {
        A,
        Area
    };
    QString href;  // as the page resolved it, not yet made safe
    QString text;  // whitespace collapsed, at most 300 units; only when the scope asks
    QString frame; // the address of the frame's document; empty for the page's own
    Element element = Element::A;
    bool inShadowTree = false;
};
using Links = QList<Link>;

// What a page's read (or its life after it) did not fail of, yet the user
// should know.
enum class PageNotice : quint8 {
    LinksCut,        // the read stopped at the harvest bound; the links before it came
    ReadAtDeadline,  // the page had not finished loading at the deadline; read as it stood
    ClosedForMemory, // a page already read outgrew the memory bound and was closed
};

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

    // What the reads of pages navigated from now on cover. With any scope
    // but the plain one, a top-level document is reported by linksRead
    // instead of documentComplete; frames still complete as before. Best set
    // before start(): a tab already prepared for another scope is replaced.
    virtual void setLinkScope(const LinkScope &scope) { Q_UNUSED(scope) }

signals:
    // A document has completed. topLevel tells the page's own document from a
    // frame's; anchors holds the href of every A element of the top-level
    // document in document order (empty for frames).
    void documentComplete(bool topLevel, const QString &url, const QStringList &anchors);
    // A top-level document has been read with a scope set: url is its
    // address, links in document order with each frame's where its element
    // stands.
    void linksRead(const QString &url, const engine::Links &links);
    // Something about url's page that is not a failure; message is a readable
    // Chinese text. LinksCut and ReadAtDeadline come just before the page's
    // documentComplete or linksRead; ClosedForMemory whenever it happens.
    void pageNotice(const QString &url, engine::PageNotice kind, const QString &message);
    // The navigation to url failed; reason is a readable Chinese text.
    void navigateError(const QString &url, const QString &reason);
    // The engine itself cannot work (not installed, crashed, hung).
    void engineError(const QString &reason);
};

} // namespace engine
