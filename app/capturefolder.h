#pragma once

#include <QString>

#include <functional>

// The folder that receives the capture files, with a closing separator:
// DeveZozuvorWebBrowser beside the program where that folder can be made and
// written, otherwise the same name in the user's own state folder, so that an
// installed program (its directory not writable) never shares captures
// between the users of a workstation. The folder is made owner-only (0700),
// tightened if it exists. Where neither can be prepared the place beside the
// program is returned and writing a capture reports the failure later.
QString prepareCaptureFolder(const QString &programDirectory);

// The user's own folder for captures (before the closing separator).
QString userCaptureFolder();

// Runs capture, which writes the capture file, and logs it: the file's size
// and the time taken, or the failure with its reason (then passed on).
void runLoggedCapture(const QString &file, const std::function<void()> &capture);
