#pragma once

#include <QJsonObject>
#include <QString>

// What the engine runs inside pages, and the names it runs it under. The
// benchmark's bare client reads pages with the same expression.
namespace engine::scripts {

// The binding the harvest script reports through, and the isolated worlds
// the two harvest paths read in.
extern const QString bindingName;
extern const QString harvestWorld;
extern const QString evaluateWorld;

// Replaces alert, confirm, prompt and showModalDialog with harmless stand-ins.
const QString &dialogScript();
// Installed for every new document on the binding path: reports the links
// through the binding in parts when the document has loaded.
const QString &harvestScript();
// Evaluates to {url, links} for the current document.
const QString &harvestExpression();
// Notes, in the world it runs in, when the document's anchors last changed,
// for boundMs; to be evaluated once per document.
QString anchorsWatchScript(int boundMs);
// In the world of anchorsWatchScript: {wait: ms} while the anchors changed
// less than quietMs ago, else what harvestExpression gives.
QString settledHarvestExpression(int quietMs);

// Network.enable parameters: events only, no response bodies kept.
QJsonObject networkParams();

// Target.setAutoAttach parameters that hold every new frame and worker until
// it is set up.
QJsonObject autoAttachParams();

} // namespace engine::scripts
