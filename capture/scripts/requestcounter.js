// In the page's own world from the creation of each document: counts the
// requests in flight and the short one-shot timers still to fire, notes when
// the document last changed, and tells all of it when asked.
(function (args) {
    const shortTimerMs = args.shortTimerMs;
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
})
