#pragma once

// How the tool runs its browser engine, for the tool and for whatever measures
// or tests it the same way. The call comes before the application object.
namespace BrowserSetup {

// The browser view drawn in software (a GPU render target cannot hold a page
// capture taller than the graphics card's texture limit, often 16,384 px), and
// the engine's flags added to any the environment already gives.
void prepareGraphics();

} // namespace BrowserSetup
