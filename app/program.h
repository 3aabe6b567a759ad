#pragma once

// The process around the application, beside main(): what is set before the
// application object exists (the environment the browser engine and the
// platform read) and how the process ends. No other code of the tool sets the
// environment or ends the process.

// The browser engine set up as BrowserSetup tells, its flags put in this
// process's environment: before the application object exists.
void prepareBrowserProcess();

// The whole program for its command line: the window, or the list after
// "--lote". Returns the exit status; where a database job is still stuck at
// the end, the process ends at once with that status.
int runProgram(int &argc, char **argv);
