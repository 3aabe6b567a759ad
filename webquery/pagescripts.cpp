#include "pagescripts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace PageScripts {

namespace {

// Finds the first element in document order whose name attribute or id equals
// the name; the lookup uses the prototypes so page content cannot shadow them.
const char findElementJs[] = R"JS(
function findElement(wanted) {
    const all = Document.prototype.querySelectorAll.call(document, '*');
    for (const el of all) {
        if (Element.prototype.getAttribute.call(el, 'name') === wanted || el.id === wanted)
            return el;
    }
    return null;
}
)JS";

QString wrap(const QString &body)
{
    return QStringLiteral(
               "(function() { try { %1 } catch (e) { return {erro: 'Erro no navegador: ' + String(e)}; } })()")
        .arg(body);
}

} // namespace

QString literal(const QString &text)
{
    // A one-element JSON array gives a correctly escaped JSON string; the two
    // line separators are escaped too, for engines that predate JSON superset.
    QString json = QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact));
    json = json.mid(1, json.size() - 2);
    json.replace(QChar(0x2028), QLatin1String("\\u2028"));
    json.replace(QChar(0x2029), QLatin1String("\\u2029"));
    return json;
}

QString fillElement(const QString &elementName, const QString &value)
{
    return wrap(QLatin1String(findElementJs)
                + QStringLiteral(R"JS(
        const name = %1;
        const el = findElement(name);
        if (!el)
            return {erro: 'Elemento "' + name + '" não encontrado na página.'};
        el.value = %2;
        return {ok: true};
    )JS")
                      .arg(literal(elementName), literal(value)));
}

QString clickElement(const QString &elementName)
{
    return wrap(QLatin1String(findElementJs)
                + QStringLiteral(R"JS(
        const name = %1;
        const el = findElement(name);
        if (!el)
            return {erro: 'Elemento "' + name + '" não encontrado na página.'};
        // What the click sends: a submission (a submit handler that cancels it
        // sends it itself), a navigation, or what the page's scripts send, as
        // the page's own world tells it.
        let sent = false;
        const seen = () => { sent = true; };
        const watched = [[window, 'submit', true], [document, 'devezozuvor-envio', false]];
        if (window.navigation)
            watched.push([window.navigation, 'navigate', false]);
        for (const [target, type, capture] of watched)
            target.addEventListener(type, seen, capture);
        try {
            HTMLElement.prototype.click.call(el);
        } finally {
            for (const [target, type, capture] of watched)
                target.removeEventListener(type, seen, capture);
        }
        return {ok: sent};
    )JS")
                      .arg(literal(elementName)));
}

QString sendWatch()
{
    return QStringLiteral(R"JS((function() {
        const told = () => document.dispatchEvent(new CustomEvent('devezozuvor-envio'));
        const watch = (owner, name) => {
            const own = owner[name];
            if (typeof own !== 'function')
                return;
            owner[name] = function(...args) {
                const answer = own.apply(this, args);
                told(); // only once it went out: a call that throws sent nothing
                return answer;
            };
        };
        watch(HTMLFormElement.prototype, 'submit');
        watch(XMLHttpRequest.prototype, 'send');
        watch(window, 'fetch');
        watch(window, 'open');
    })();)JS");
}

QString submitForms(const QList<int> &indices, bool submit)
{
    QJsonArray list;
    for (const int index : indices)
        list.append(index);
    return wrap(QStringLiteral(R"JS(
        const forms = Object.getOwnPropertyDescriptor(Document.prototype, 'forms').get.call(document);
        const indices = %1;
        for (const index of indices) {
            if (index < 0 || index >= forms.length)
                return {erro: 'Formulário ' + (index + 1) + ' não encontrado na página (a página tem ' + forms.length + ').'};
        }
        if (%2) {
            for (const index of indices)
                HTMLFormElement.prototype.submit.call(forms[index]);
        }
        return {ok: true};
    )JS")
                    .arg(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)),
                         submit ? QStringLiteral("true") : QStringLiteral("false")));
}

QString contentSize()
{
    return wrap(QStringLiteral(R"JS(
        const root = document.documentElement;
        const body = document.body;
        if (!root || !body)
            return {erro: 'A página não tem documento ou corpo para capturar.'};
        return {ok: {width: Math.max(root.scrollWidth, body.scrollWidth),
                     height: Math.max(root.scrollHeight, body.scrollHeight)}};
    )JS"));
}

namespace {

// Gets or makes a capture marker: 2x1 px, above everything, never in the way.
const char captureMarkerJs[] = R"JS(
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
)JS";

const char *const captureIds[]
    = {"__devezozuvor_frame_marker", "__devezozuvor_page_end_marker", "__devezozuvor_capture_style"};

} // namespace

QString armCaptureMarkers(QSize view, QSize restored, const QString &frameColor, const QString &pageEndColor)
{
    const QJsonObject values{
        {QStringLiteral("width"), view.width()},
        {QStringLiteral("height"), view.height()},
        {QStringLiteral("restored"), QJsonArray{restored.width(), restored.height()}},
        {QStringLiteral("frame"), frameColor},
        {QStringLiteral("pageEnd"), pageEndColor},
        {QStringLiteral("ids"),
         QJsonArray{QLatin1String(captureIds[0]), QLatin1String(captureIds[1]), QLatin1String(captureIds[2])}}};
    return wrap(QLatin1String(captureMarkerJs)
                + QStringLiteral(R"JS(
        const wanted = %1;
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
    )JS")
                      .arg(QString::fromUtf8(QJsonDocument(values).toJson(QJsonDocument::Compact))));
}

QString viewportSize()
{
    return wrap(QStringLiteral("return {ok: {width: window.innerWidth, height: window.innerHeight}};"));
}

QString visibilityState()
{
    return wrap(QStringLiteral("return {ok: document.visibilityState};"));
}

QString removeCaptureMarkers()
{
    const QJsonArray ids{QLatin1String(captureIds[0]), QLatin1String(captureIds[1]), QLatin1String(captureIds[2])};
    return wrap(QStringLiteral(R"JS(
        for (const id of %1) {
            const mark = document.getElementById(id);
            if (mark)
                mark.remove();
        }
        return {ok: true};
    )JS")
                    .arg(QString::fromUtf8(QJsonDocument(ids).toJson(QJsonDocument::Compact))));
}

namespace {

// The element that scrolls by itself and holds most of the page (its content
// larger than all the rest of the page) is laid out whole where it stands:
// its box as tall and wide as its content, its ancestors grown around it.
// Every property set goes into `held`, its own value kept for the release.
// Answers what was unfolded, for the log, or '' when no element was.
const char unfoldScrollerJs[] = R"JS(
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
)JS";

} // namespace

QString holdViewport()
{
    return wrap(QLatin1String(unfoldScrollerJs) + QStringLiteral(R"JS(
        const held = window.__devezozuvorHeld || (window.__devezozuvorHeld = []);
        const viewportUnit = /(^|[^\w.-])[-+]?(\d+\.?\d*|\.\d+)(vh|vmin|vmax|[sld]vh|[sld]vmin|[sld]vmax)\b/i;
        const hold = (element, property) => {
            if (held.some(h => h.element === element && h.property === property))
                return;
            const size = getComputedStyle(element).getPropertyValue(property);
            held.push({element, property, value: element.style.getPropertyValue(property),
                       priority: element.style.getPropertyPriority(property)});
            element.style.setProperty(property, size, 'important');
        };
        const holdDeclared = (style, elements) => {
            for (let i = 0; i < style.length; ++i) {
                if (viewportUnit.test(style.getPropertyValue(style[i])))
                    for (const element of elements())
                        hold(element, style[i]);
            }
        };
        for (const element of document.querySelectorAll('[style]'))
            holdDeclared(element.style, () => [element]);
        const visit = rules => {
            for (const rule of rules) {
                if (rule.selectorText && rule.style)
                    holdDeclared(rule.style, () => {
                        try { return document.querySelectorAll(rule.selectorText); } catch (e) { return []; }
                    });
                else if (rule.cssRules)
                    visit(rule.cssRules);
            }
        };
        for (const sheet of document.styleSheets) {
            let rules = null;
            try { rules = sheet.cssRules; } catch (e) { continue; } // another origin's sheet
            visit(rules);
        }
        return {ok: {held: held.length, scroller: unfoldScroller(held)}};
    )JS"));
}

QString releaseViewport()
{
    return wrap(QStringLiteral(R"JS(
        for (const h of (window.__devezozuvorHeld || []).reverse()) {
            if (h.value)
                h.element.style.setProperty(h.property, h.value, h.priority);
            else
                h.element.style.removeProperty(h.property);
        }
        window.__devezozuvorHeld = [];
        const scrolled = window.__devezozuvorScrolled;
        if (scrolled) {
            scrolled.element.scrollTop = scrolled.top;
            scrolled.element.scrollLeft = scrolled.left;
            delete window.__devezozuvorScrolled;
        }
        return {ok: true};
    )JS"));
}

QString holdPageScripts()
{
    return QStringLiteral(R"JS((function(height) {
        if (window.__devezozuvorRelease)
            return;
        const own = Object.getOwnPropertyDescriptor(window, 'innerHeight');
        const swallow = event => event.stopImmediatePropagation();
        addEventListener('resize', swallow, true);
        Object.defineProperty(window, 'innerHeight', {configurable: true, get: () => height});
        window.__devezozuvorRelease = () => {
            removeEventListener('resize', swallow, true);
            if (own)
                Object.defineProperty(window, 'innerHeight', own);
            else
                delete window.innerHeight;
            delete window.__devezozuvorRelease;
        };
    })(innerHeight);)JS");
}

QString releasePageScripts()
{
    return QStringLiteral("if (window.__devezozuvorRelease) window.__devezozuvorRelease();");
}

QString requestCounter(int shortTimerMs)
{
    return QStringLiteral(R"JS((function(shortTimerMs) {
        let pending = 0;
        const fetched = window.fetch;
        if (fetched)
            window.fetch = function(...args) {
                const answer = fetched.apply(this, args);
                ++pending;
                return answer.finally(() => { --pending; });
            };
        // Counted once sent: a send() that throws leaves nothing in flight.
        const send = XMLHttpRequest.prototype.send;
        XMLHttpRequest.prototype.send = function(...args) {
            let sent = false;
            let ended = false;
            this.addEventListener('loadend', () => {
                ended = true;
                if (sent)
                    --pending;
            }, {once: true});
            const result = send.apply(this, args);
            sent = true;
            if (!ended)
                ++pending;
            return result;
        };
        // Short one-shot timers still to fire, as a report drawn a moment after the load sets.
        const timers = new Set();
        const setTimer = window.setTimeout;
        const clearTimer = window.clearTimeout;
        const clearRepeat = window.clearInterval;
        window.setTimeout = function(handler, delay, ...args) {
            if (typeof handler !== 'function' || !((Number(delay) || 0) <= shortTimerMs))
                return setTimer.call(window, handler, delay, ...args);
            const id = setTimer.call(window, function(...given) {
                timers.delete(id);
                return handler.apply(this, given);
            }, delay, ...args);
            timers.add(id);
            return id;
        };
        window.clearTimeout = function(id) {
            timers.delete(id);
            return clearTimer.call(window, id);
        };
        window.clearInterval = function(id) {
            timers.delete(id);
            return clearRepeat.call(window, id);
        };
        let changed = performance.now();
        new MutationObserver(() => { changed = performance.now(); })
            .observe(document, {childList: true, subtree: true, characterData: true});
        document.addEventListener('devezozuvor-pendentes', () => document.documentElement.setAttribute(
            'data-devezozuvor-pendentes', pending + ' ' + (performance.now() - changed) + ' ' + timers.size));
    })(%1);)JS")
        .arg(shortTimerMs);
}

QString settleState()
{
    return wrap(QStringLiteral(R"JS(
        const root = document.documentElement;
        document.dispatchEvent(new CustomEvent('devezozuvor-pendentes'));
        const counted = root.getAttribute('data-devezozuvor-pendentes');
        root.removeAttribute('data-devezozuvor-pendentes');
        // A document made before the counter was in place has nothing to tell.
        const [pending, quietMs, timers] = counted ? counted.split(' ').map(Number) : [0, performance.now(), 0];
        // The capture draws the whole page: what loads only near the window loads now.
        const frames = window.__devezozuvorFrames || (window.__devezozuvorFrames = new Set());
        for (const element of document.querySelectorAll('img[loading=lazy], iframe[loading=lazy]')) {
            if (element.tagName === 'IFRAME') {
                frames.add(element);
                element.addEventListener('load', () => frames.delete(element), {once: true});
            }
            element.loading = 'eager';
        }
        return {ok: {quietMs, pending, timers, frames: frames.size,
                     fonts: !document.fonts || document.fonts.status === 'loaded',
                     images: Array.from(document.images).filter(image => !image.complete).length}};
    )JS"));
}


QString visibleTextLines()
{
    return wrap(QStringLiteral(R"JS(
        const root = document.body || document.documentElement;
        if (!root)
            return {erro: 'A página não tem documento para ler o texto.'};
        const fragments = [];
        const range = document.createRange();
        const shown = new Map();
        const isShown = el => {
            if (!shown.has(el))
                shown.set(el, getComputedStyle(el).visibility === 'visible');
            return shown.get(el);
        };
        // spaced: the text had white space around it, which the rectangles may already cover.
        const add = (text, r, spaced) => {
            if (r.width > 0 && r.height > 0)
                fragments.push({text, spaced, top: r.top + scrollY, bottom: r.bottom + scrollY,
                                left: r.left + scrollX, right: r.right + scrollX});
        };
        const walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT);
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
    )JS"));
}

} // namespace PageScripts
