#pragma once

#include "update/updateaction.h"

#include <QString>

// The window asks the update server once when it starts. Tests and benchmarks send that
// question to a closed port on loopback: it fails at once, silently, and never leaves the machine.
inline void pointUpdateCheckAtClosedPort()
{
    UpdateAction::setHostForTesting(QStringLiteral("127.0.0.1"));
    UpdateAction::setPortForTesting(1);
}
