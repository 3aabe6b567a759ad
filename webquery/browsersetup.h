#pragma once

#include <QByteArray>

// How the tool runs its browser engine, for the tool and for whatever measures
// or tests it the same way. Both come before the application object.
namespace BrowserSetup {

// The browser view drawn in software: a GPU render target cannot hold a page
// capture taller than the graphics card's texture limit, often 16,384 px.
void prepareGraphics();

// The engine's command line (QTWEBENGINE_CHROMIUM_FLAGS) the capture needs,
// added to `current`; a flag `current` already sets keeps its value there.
// The program's main sets the variable: a library leaves the environment alone.
QByteArray engineFlags(const QByteArray &current);

} // namespace BrowserSetup
