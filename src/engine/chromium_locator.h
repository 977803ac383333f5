#pragma once

#include <QString>
#include <QStringList>

namespace engine {

// Where to look for Chromium. Built from the real environment by
// systemInputs(); tests fill it in by hand.
struct LocatorInput
{
    QString override; // $VELMORA_CHROMIUM; used alone when set
    // Tried in order: an absolute path as it is, a bare name along
    // pathVariable.
    QStringList candidates;
    QString pathVariable; // $PATH

    static LocatorInput systemInputs();
};

struct LocatorResult
{
    QString executable; // empty when not found
    QString problem;    // a Chinese sentence naming the cause when not found
};

LocatorResult locateChromium(const LocatorInput &input);

} // namespace engine
