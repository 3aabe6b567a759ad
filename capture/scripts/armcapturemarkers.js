// Two markers the page draws only while its viewport has exactly the wanted
// size: see CaptureScripts::armCaptureMarkers.
(function (args) {
    const wanted = args;
    const [frameId, pageEndId, styleId] = wanted.ids;
    if (!document.documentElement)
        return {erro: 'A página não tem documento para capturar.'};
    // The page-end marker's place in the document: measured from where its
    // containing block puts left:0;top:0, so that it ends at the view's corner.
    const pageEnd = captureMarker(pageEndId, 'visibility:hidden;position:absolute;left:0;top:0;'
        + 'display:block!important');
    const origin = pageEnd.getBoundingClientRect();
    const left = wanted.width - 2 - (origin.left + window.scrollX);
    const top = wanted.height - 1 - (origin.top + window.scrollY);
    captureMarker(pageEndId, 'position:absolute;left:' + left + 'px;top:' + top + 'px;background:'
        + wanted.pageEnd);
    // Where the frame marker shows at the present size, scroll bars taken off.
    const frame = captureMarker(frameId, 'visibility:hidden;position:fixed;left:0;bottom:0;'
        + 'display:block!important');
    const here = frame.getBoundingClientRect();
    captureMarker(frameId, 'position:fixed;left:0;bottom:0;background:' + wanted.frame);
    // Shown only while the viewport has exactly the wanted size; the frame
    // marker also at the restored one.
    let style = document.getElementById(styleId);
    if (!style) {
        style = document.createElement('style');
        style.id = styleId;
        document.documentElement.appendChild(style);
    }
    // Within half a pixel: zoomed to a scaled screen's inverse, the viewport may miss its size by a rounding.
    const media = size => '@media (min-width:' + (size[0] - 0.5) + 'px) and (max-width:' + (size[0] + 0.5)
        + 'px) and (min-height:' + (size[1] - 0.5) + 'px) and (max-height:' + (size[1] + 0.5) + 'px)';
    const shown = '{display:block!important}';
    style.textContent = '#' + frameId + ',#' + pageEndId + '{display:none!important}'
        + media([wanted.width, wanted.height]) + '{#' + frameId + ',#' + pageEndId + shown + '}'
        + media(wanted.restored) + '{#' + frameId + shown + '}';
    return {ok: {x: Math.floor(here.left), y: Math.ceil(here.bottom) - 1}};
})
