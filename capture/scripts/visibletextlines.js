// The document's visible text as the lines it is laid out in, top to bottom,
// in page pixels: [[top, height, left, width, text], ...].
(function (args) {
    if (!document.body && !document.documentElement)
        return {erro: 'A página não tem documento para ler o texto.'};
    const fragments = [];
    // A document's text at (dx, dy) in the page, cut to its viewport's height
    // `clip` when it is a frame's; the frames its scripts reach read with it.
    const read = (doc, dx, dy, clip) => {
        const view = doc.defaultView;
        const range = doc.createRange();
        const shown = new Map();
        const isShown = el => {
            if (!shown.has(el))
                shown.set(el, view.getComputedStyle(el).visibility === 'visible');
            return shown.get(el);
        };
        // spaced: the text had white space around it, which the rectangles may already cover.
        const add = (text, r, spaced) => {
            if (r.width > 0 && r.height > 0 && r.bottom > 0 && r.top < clip)
                fragments.push({text, spaced, top: r.top + dy, bottom: r.bottom + dy,
                                left: r.left + dx, right: r.right + dx});
        };
        const walker = doc.createTreeWalker(doc.body || doc.documentElement, NodeFilter.SHOW_TEXT);
        for (let node = walker.nextNode(); node; node = walker.nextNode()) {
            if (!/\S/.test(node.data) || !node.parentElement || !isShown(node.parentElement))
                continue;
            range.selectNodeContents(node);
            const rects = range.getClientRects();
            if (rects.length === 1) {
                add(node.data.trim().replace(/\s+/g, ' '), rects[0],
                    {before: /^\s/.test(node.data), after: /\s$/.test(node.data)});
            } else if (rects.length > 1) {
                // Wrapped over several lines: each word goes to the line it is on.
                for (const word of node.data.matchAll(/\S+/g)) {
                    range.setStart(node, word.index);
                    range.setEnd(node, word.index + word[0].length);
                    add(word[0], range.getBoundingClientRect(), {before: true, after: true});
                }
            }
        }
        for (const frame of doc.querySelectorAll('iframe, frame')) {
            let inner = null;
            try { inner = frame.contentDocument; } catch (e) { } // another site's: not readable
            if (!inner || !inner.documentElement || !isShown(frame))
                continue;
            const box = frame.getBoundingClientRect();
            const style = view.getComputedStyle(frame);
            const edge = side => (parseFloat(style['border' + side + 'Width']) || 0)
                + (parseFloat(style['padding' + side]) || 0);
            read(inner, box.left + dx + edge('Left'), box.top + dy + edge('Top'), inner.documentElement.clientHeight);
        }
    };
    read(document, scrollX, scrollY, Infinity);
    fragments.sort((a, b) => a.top - b.top || a.left - b.left);
    // A fragment joins a line it overlaps by half its own height or the line's.
    const lines = [];
    for (const f of fragments) {
        let line = null;
        for (let i = lines.length - 1; i >= 0 && lines[i].top > f.top - 500; --i) {
            const l = lines[i];
            const overlap = Math.min(l.bottom, f.bottom) - Math.max(l.top, f.top);
            if (overlap > Math.min(l.bottom - l.top, f.bottom - f.top) / 2) {
                line = l;
                break;
            }
        }
        if (!line) {
            line = {top: f.top, bottom: f.bottom, parts: []};
            lines.push(line);
        }
        line.top = Math.min(line.top, f.top);
        line.bottom = Math.max(line.bottom, f.bottom);
        line.parts.push(f);
    }
    lines.sort((a, b) => a.top - b.top);
    return {ok: lines.map(l => {
        l.parts.sort((a, b) => a.left - b.left);
        let text = '';
        let right = -Infinity;
        let after = false;
        for (const p of l.parts) {
            text += (text && (p.left - right > 1 || after || p.spaced.before) ? ' ' : '') + p.text;
            right = Math.max(right, p.right);
            after = p.spaced.after;
        }
        const left = Math.floor(l.parts[0].left);
        const top = Math.floor(l.top);
        return [top, Math.ceil(l.bottom) - top, left, Math.ceil(right) - left, text];
    })};
})
