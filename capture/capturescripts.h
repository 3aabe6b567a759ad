#pragma once

#include <QSize>
#include <QString>

// The scripts the capture runs in a page (capture/scripts/*.js). Those run
// through ScriptRunner::runChecked answer {"ok": value} or {"erro":
// "<Portuguese message>"}; those of the page's own world answer nothing.
namespace CaptureScripts {

// {"ok": {"width": W, "height": H}}: the larger of documentElement's and body's
// scroll sizes; a frameset page as tall as its unfolded frame needs.
QString contentSize();
// Two 2x1 markers that the page draws only while its viewport is exactly
// `view` (the first also at `restored`): one of frameColor fixed at the viewport's bottom-left,
// one of pageEndColor in the document's own flow ending at `view`'s
// bottom-right corner, painted with the page's last tile. Set before a resize
// to `view`, they come with the first frame at that size; the frame marker
// shows the first frame back at `restored`. Answers {"ok": {"x": X, "y": Y}},
// the frame marker's first pixel at the present size, which is `restored`.
QString armCaptureMarkers(QSize view, QSize restored, const QString &frameColor, const QString &pageEndColor);
// {"ok": {"width": innerWidth, "height": innerHeight}}.
QString viewportSize();
// {"ok": document.visibilityState}: "hidden" once the page knows its view is.
QString visibilityState();
// Takes the capture markers and their rule off the page; {"ok": true} also when there were none.
QString removeCaptureMarkers();
// {"ok": [[top, height, left, width, text], ...]}: the document's visible text, and
// that of the frames its scripts reach, as
// the lines it is laid out in, top to bottom, in page pixels (CSS px from the
// document's top-left); fragments side by side on one line joined left to right.
QString visibleTextLines();

// Keeps the layout at the window's height while the view grows for a capture:
// what the page's style sheets and style attributes size in viewport units
// keeps its present size; and the element or same-site frame that scrolls by
// itself and holds most of the page is laid out whole in it. {"ok": {"held":
// number of properties held, "scroller": what was laid out whole, or "",
// "foreign": whether most of the page is another site's frame, shown as it is}}.
QString holdViewport();
// Lets go of what holdViewport() held, as the page had it; {"ok": true}.
QString releaseViewport();
// In the page's own world, with no answer: its scripts see neither a resize
// nor another innerHeight until releasePageScripts().
QString holdPageScripts();
QString releasePageScripts();

// Runs in the page's own world from the creation of each document: counts the
// requests the page's scripts have in flight (fetch, XMLHttpRequest) and its
// one-shot timers of at most shortTimerMs still to fire, notes when the
// document last changed, and tells all of it when asked.
QString requestCounter(int shortTimerMs);
// Has the page load what it loads only near the window (loading="lazy"), and
// answers {"ok": {"quietMs": ms since the document last changed, "pending":
// requests in flight, "timers": short timers to fire, "fonts": web fonts
// loaded, "images": pictures not loaded, "frames": lazy frames not loaded}}.
QString settleState();

} // namespace CaptureScripts
