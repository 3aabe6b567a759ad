// Gets or makes a capture marker: 2x1 px, above everything, never in the way.
function captureMarker(id, placement) {
    let mark = document.getElementById(id);
    if (!mark) {
        mark = document.createElement('div');
        mark.id = id;
        document.documentElement.appendChild(mark);
    }
    mark.style.cssText = 'width:2px;height:1px;margin:0;padding:0;border:0;z-index:2147483647;'
        + 'pointer-events:none;' + placement;
    return mark;
}
