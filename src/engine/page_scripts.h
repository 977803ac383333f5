#pragma once

#include <QJsonObject>
#include <QString>

namespace engine {
struct LinkScope;
}

// What the engine runs inside pages, and the names it runs it under. The
// benchmark's bare client reads pages with the same expression.
namespace engine::scripts {

// The binding the harvest script reports through, and the isolated worlds
// the two harvest paths read in.
extern const QString bindingName;
extern const QString harvestWorld;
extern const QString evaluateWorld;

// What one harvest may hold: the text of its links in UTF-16 units, each
// link counted as linkUnits. 128 Mi units (256 MiB of text) hold a million
// links of up to 118 units each, far beyond any real page; a page past it
// keeps the links before the bound (a million ordinary links cost our
// process a few hundred MB, which the bound keeps for the worst page too).
inline constexpr qint64 defaultHarvestUnits = qint64(128) << 20;
inline constexpr int linkOverheadUnits = 16; // the link's own keep, whatever its text
inline qint64 linkUnits(qsizetype hrefUnits, qsizetype textUnits)
{
    return qint64(hrefUnits) + textUnits + linkOverheadUnits;
}

// Replaces alert, confirm, prompt and showModalDialog with harmless stand-ins.
const QString &dialogScript();
// Installed for every new document on the binding path: reports the links
// through the binding in parts when the document has loaded, up to the
// first whose text takes the read past maxUnits.
QString harvestScript(qint64 maxUnits);
// Reads the current document as harvestScript does, keeping the parts in
// the world it runs in: evaluates to part 0, as a JSON string;
// plainPartExpression(p) to part p.
QString harvestExpression(qint64 maxUnits);
QString plainPartExpression(int part);
// Notes, in the world it runs in, when the document's anchors last changed,
// for boundMs; to be evaluated once per document.
QString anchorsWatchScript(int boundMs);
// In the world of anchorsWatchScript: {wait: ms} while the anchors changed
// less than quietMs ago, else what harvestExpression gives.
QString settledHarvestExpression(int quietMs, qint64 maxUnits);

// Reads with a scope (frames, shadow trees, areas, text). Each document is
// walked in its own isolated world by a reader defined there, and its links
// come back in parts of the same JSON form by either path:
//   {"url", "part", "parts", "links": [href...], "texts": [text...] (with
//    text), "flags": [index, bits...] (1 area, 2 in a shadow tree),
//    "frames": n (part 0: the document's child frames, when in scope)}
namespace reader {
// At most this many units of a link's text are kept.
inline constexpr int maxTextUnits = 300;
// Elements of one document asked about closed shadow roots, at most.
inline constexpr int maxHostsAsked = 20000;
} // namespace reader

// The binding path's harvest script for a scope: the reader, and at
// pageshow the walk reported through the binding in parts. With shadow
// trees in scope, asksExpression() then gives the elements that may hold a
// closed shadow root; awaited from before the load, it answers inside the
// load task, before the first layout.
QString scopedHarvestScript(const LinkScope &scope, qint64 maxUnits);
QString asksExpression();
// For the evaluate path and every frame: defines the reader in the world it
// runs in, then walks the document. Evaluates to {wait: ms} while the
// anchors changed less than quietMs ago (the anchors' watch of
// anchorsWatchScript), else {parts: n, first: part 0}. Each walk stops
// after the link that takes it past maxUnits.
QString scopedReadExpression(const LinkScope &scope, int quietMs, qint64 maxUnits);
// Part p of the last walk, as a JSON string.
QString scopedPartExpression(int part);
// The next elements to ask about, {more, hosts}, for deep serialization.
const QString &nextAsksExpression();
// Functions called on the reader with nodes as arguments: registering
// closed shadow roots (returns how many were new), and where the last walk
// met each frame element: [position among its links, rank among the frame
// elements], or -1 when it did not reach it.
const QString &adoptRootsFunction();
const QString &frameElementsFunction();
// Runtime.evaluate's serializationOptions that give each node's shadow
// root, closed ones included, with its backendNodeId.
QJsonObject nodeSerialization();

// Network.enable parameters: events only, no response bodies kept.
QJsonObject networkParams();

// Target.setAutoAttach parameters that hold every new frame and worker until
// it is set up.
QJsonObject autoAttachParams();

} // namespace engine::scripts
