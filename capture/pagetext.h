#pragma once

#include "reportline.h"

class QString;
class QWebEnginePage;

// The visible text of the page the browser shows, line by line in page pixels.
namespace PageText {

// None when the page's text cannot be read; the capture log says why. Throws
// Cancelled when the user ends the wait.
ReportText read(QWebEnginePage *page);

// Reads the page's text at the layout just captured into fileName and puts it
// into that capture file as its text layer. A text that cannot be read or
// written leaves the file as it was, with a log line saying why.
void addToCapture(QWebEnginePage *page, const QString &fileName);

} // namespace PageText
