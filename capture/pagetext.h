#pragma once

#include "reportline.h"

class QString;
class QWebEnginePage;

// The visible text of the page the browser shows, line by line in page pixels.
namespace PageText {

// None when the page's text cannot be read; the capture log says why. Throws
// Cancelled when the user ends the wait.
ReportText read(QWebEnginePage *page);

} // namespace PageText
