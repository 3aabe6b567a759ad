#pragma once

// How the tool runs its browser engine, for the tool and for whatever measures
// or tests it the same way. Both calls come before the application object.
namespace BrowserSetup {

// Restarts the process once, through argv, with the C library's allocator
// asking the kernel for huge pages: a tall page is held as several images of
// hundreds of megabytes, and with 4 kB pages each costs some 65,000 page
// faults before a pixel is drawn. Returns without restarting when the
// allocator already asks, when the kernel gives huge pages only to no one, or
// when the restart fails.
void useHugePages(char **argv);

// The browser view drawn in software (a GPU render target cannot hold a page
// capture taller than the graphics card's texture limit, often 16,384 px), and
// the engine's flags added to any the environment already gives.
void prepareGraphics();

} // namespace BrowserSetup
