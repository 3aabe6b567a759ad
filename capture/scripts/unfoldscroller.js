// The element that scrolls by itself and holds most of a document (its
// content larger than all the rest of it) is laid out whole where it stands:
// its box as tall and wide as its content, its ancestors grown around it. A
// frame whose document the page's scripts reach counts as such an element,
// its content its document's, which is unfolded first; a frameset's frame
// gets the height its rows leave. Every property set goes into `held`, its
// own value kept for the release. Answers {scroller: what was unfolded, for
// the log, or '', foreign: whether most of the document is a frame of
// another site, whose document the page's scripts cannot reach}.
function unfoldScroller(doc, held) {
    const found = largestScroller(doc);
    if (!found.element)
        return {scroller: '', foreign: found.foreign};
    const scroller = found.element;
    const view = doc.defaultView;
    const put = (element, property, value) => {
        if (!held.some(h => h.element === element && h.property === property))
            held.push({element, property, value: element.style.getPropertyValue(property),
                       priority: element.style.getPropertyPriority(property)});
        element.style.setProperty(property, value, 'important');
    };
    const scrolled = window.__devezozuvorScrolled || (window.__devezozuvorScrolled = []);
    const inner = frameDocument(scroller);
    let content = {width: scroller.scrollWidth, height: scroller.scrollHeight};
    let foreign = found.foreign;
    if (inner) {
        holdViewportUnits(inner, held);
        foreign = unfoldScroller(inner, held).foreign;
        content = scrollSize(inner);
        const top = inner.scrollingElement || inner.documentElement;
        scrolled.push({element: top, top: top.scrollTop, left: top.scrollLeft});
        if (scroller.tagName === 'FRAME') {
            growFrameRows(scroller, held);
            window.__devezozuvorFramed = scroller;
            return {scroller: describe(scroller, content), foreign};
        }
    } else {
        scrolled.push({element: scroller, top: scroller.scrollTop, left: scroller.scrollLeft});
    }
    const own = view.getComputedStyle(scroller);
    const sum = (a, b) => (parseFloat(own[a]) || 0) + (parseFloat(own[b]) || 0);
    const padding = inner ? [sum('paddingLeft', 'paddingRight'), sum('paddingTop', 'paddingBottom')] : [0, 0];
    const size = {width: content.width + padding[0] + sum('borderLeftWidth', 'borderRightWidth'),
                  height: content.height + padding[1] + sum('borderTopWidth', 'borderBottomWidth')};
    const wide = content.width > (inner ? inner.documentElement.clientWidth : scroller.clientWidth) + 1;
    put(scroller, 'box-sizing', 'border-box');
    put(scroller, 'height', size.height + 'px');
    put(scroller, 'max-height', 'none');
    if (wide) {
        put(scroller, 'width', size.width + 'px');
        put(scroller, 'max-width', 'none');
    }
    for (let element = scroller; element; element = element.parentElement) {
        const style = view.getComputedStyle(element);
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
        if (parent && view.getComputedStyle(parent).display.includes('flex')
                && view.getComputedStyle(parent).flexDirection.startsWith('column'))
            put(element, 'flex', '0 0 auto');
    }
    return {scroller: describe(scroller, size), foreign};
}

function frameDocument(element) {
    if (element.tagName !== 'IFRAME' && element.tagName !== 'FRAME')
        return null;
    try {
        const inner = element.contentDocument;
        return inner && inner.documentElement && inner.body ? inner : null;
    } catch (e) {
        return null;
    }
}

function scrollSize(doc) {
    return {width: Math.max(doc.documentElement.scrollWidth, doc.body.scrollWidth),
            height: Math.max(doc.documentElement.scrollHeight, doc.body.scrollHeight)};
}

function describe(element, size) {
    return (element.id ? '#' + element.id : element.tagName.toLowerCase()) + ' ' + size.width + ' x '
        + size.height + ' px';
}

// The element or reachable frame whose content is larger than all the rest of
// the document, or none; and whether a frame that cannot be reached fills most of it.
function largestScroller(doc) {
    const root = doc.documentElement;
    const body = doc.body;
    if (!root || !body)
        return {element: null, area: 0, foreign: false};
    const view = doc.defaultView;
    const scrolls = value => value === 'auto' || value === 'scroll' || value === 'overlay';
    let scroller = null;
    let largest = 0;
    let foreign = 0;
    for (const element of [body, ...body.querySelectorAll('*')]) {
        let area = 0;
        if (element.tagName === 'IFRAME' || element.tagName === 'FRAME') {
            const inner = frameDocument(element);
            if (!inner) {
                foreign = Math.max(foreign, element.clientWidth * element.clientHeight);
                continue;
            }
            const size = scrollSize(inner);
            area = Math.max(size.width * size.height, largestScroller(inner).area);
            if (area <= element.clientWidth * element.clientHeight + element.clientWidth)
                continue;
        } else {
            const tall = element.scrollHeight > element.clientHeight + 1;
            const wide = element.scrollWidth > element.clientWidth + 1;
            if (!tall && !wide)
                continue;
            const style = view.getComputedStyle(element);
            if (!(tall && scrolls(style.overflowY)) && !(wide && scrolls(style.overflowX)))
                continue;
            area = element.scrollWidth * element.scrollHeight;
        }
        if (area > largest) {
            largest = area;
            scroller = element;
        }
    }
    const pageArea = Math.max(root.scrollWidth, body.scrollWidth) * Math.max(root.scrollHeight, body.scrollHeight);
    const found = scroller && largest > pageArea - scroller.clientWidth * scroller.clientHeight;
    return {element: found ? scroller : null, area: largest, foreign: foreign * 2 > pageArea};
}

// A frameset's rows as they stand in pixels, the frame's own (and its
// framesets') left to take the rest: the page grows by the frame's growth.
function growFrameRows(frame, held) {
    for (let child = frame, set = frame.parentElement; set && set.tagName === 'FRAMESET';
         child = set, set = set.parentElement) {
        const parts = Array.from(set.children).filter(c => c.tagName === 'FRAME' || c.tagName === 'FRAMESET');
        if (!set.getAttribute('rows') || parts.length < 2)
            continue;
        held.push({element: set, attribute: 'rows', value: set.getAttribute('rows')});
        set.setAttribute('rows', parts.map(p => p === child ? '*'
            : Math.round(p.getBoundingClientRect().height) + '').join(','));
    }
}
