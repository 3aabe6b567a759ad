// Holds what the page sizes in viewport units at its present size, and lays
// out whole the element or frame that scrolls by itself and holds most of the page.
(function (args) {
    const held = window.__devezozuvorHeld || (window.__devezozuvorHeld = []);
    holdViewportUnits(document, held);
    const unfolded = unfoldScroller(document, held);
    return {ok: {held: held.length, scroller: unfolded.scroller, foreign: unfolded.foreign}};
})
