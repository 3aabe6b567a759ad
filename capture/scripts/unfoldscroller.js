// The element that scrolls by itself and holds most of the page (its content
// larger than all the rest of the page) is laid out whole where it stands:
// its box as tall and wide as its content, its ancestors grown around it.
// Every property set goes into `held`, its own value kept for the release.
// Answers what was unfolded, for the log, or '' when no element was.
function unfoldScroller(held) {
    const root = document.documentElement;
    const body = document.body;
    if (!root || !body)
        return '';
    const scrolls = value => value === 'auto' || value === 'scroll' || value === 'overlay';
    let scroller = null;
    let largest = 0;
    for (const element of [body, ...body.querySelectorAll('*')]) {
        const tall = element.scrollHeight > element.clientHeight + 1;
        const wide = element.scrollWidth > element.clientWidth + 1;
        if (!tall && !wide)
            continue;
        const style = getComputedStyle(element);
        if (!(tall && scrolls(style.overflowY)) && !(wide && scrolls(style.overflowX)))
            continue;
        const area = element.scrollWidth * element.scrollHeight;
        if (area > largest) {
            largest = area;
            scroller = element;
        }
    }
    const pageArea = Math.max(root.scrollWidth, body.scrollWidth) * Math.max(root.scrollHeight, body.scrollHeight);
    if (!scroller || largest <= pageArea - scroller.clientWidth * scroller.clientHeight)
        return '';
    const put = (element, property, value) => {
        if (!held.some(h => h.element === element && h.property === property))
            held.push({element, property, value: element.style.getPropertyValue(property),
                       priority: element.style.getPropertyPriority(property)});
        element.style.setProperty(property, value, 'important');
    };
    const own = getComputedStyle(scroller);
    const sum = (a, b) => (parseFloat(own[a]) || 0) + (parseFloat(own[b]) || 0);
    const size = {width: scroller.scrollWidth + sum('borderLeftWidth', 'borderRightWidth'),
                  height: scroller.scrollHeight + sum('borderTopWidth', 'borderBottomWidth')};
    const wide = scroller.scrollWidth > scroller.clientWidth + 1;
    window.__devezozuvorScrolled = {element: scroller, top: scroller.scrollTop, left: scroller.scrollLeft};
    put(scroller, 'box-sizing', 'border-box');
    put(scroller, 'height', size.height + 'px');
    put(scroller, 'max-height', 'none');
    if (wide) {
        put(scroller, 'width', size.width + 'px');
        put(scroller, 'max-width', 'none');
    }
    for (let element = scroller; element; element = element.parentElement) {
        const style = getComputedStyle(element);
        if (element !== scroller) {
            put(element, 'height', 'auto');
            put(element, 'max-height', 'none');
            if (wide)
                put(element, 'max-width', 'none');
        }
        put(element, 'overflow', 'visible');
        // Fixed, it would not make the document any taller; absolute, it stands where it stood.
        if (style.position === 'fixed') {
            put(element, 'position', 'absolute');
            put(element, 'bottom', 'auto');
        }
        const parent = element.parentElement;
        if (parent && getComputedStyle(parent).display.includes('flex')
                && getComputedStyle(parent).flexDirection.startsWith('column'))
            put(element, 'flex', '0 0 auto');
    }
    return (scroller.id ? '#' + scroller.id : scroller.tagName.toLowerCase()) + ' ' + size.width + ' x '
        + size.height + ' px';
}
