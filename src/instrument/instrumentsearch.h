// Finding the switch main frame: a VISA resource search over USB, TCP/IP sockets and serial
// ports, and the identification probe that recognises a supported model.
#pragma once

#include <QString>
#include <QStringList>

#include "visa.h"

// True when the resource opens and answers "*IDN?" with a supported main frame model.
bool probeResource(ViSession resourceManager, const QString &resourceName);

// Supported resources in discovery order: USB first, then TCP/IP sockets, then serial ports.
QStringList findSupportedInstruments();

// True for an identification reply naming a supported main frame model.
bool isSupportedMainFrame(const QString &identification);
