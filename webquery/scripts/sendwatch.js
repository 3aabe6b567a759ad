// In the page's own world from the creation of each document: tells the tool's
// click what the page's scripts send, by an event on the document. Once the
// tool has submitted a form of the document, the document's own later sends
// (a delayed submission, a request, a window) are dropped: the form went out
// once. Navigations are left alone: the tool's own starts a moment later.
(function () {
    let closed = false;
    document.addEventListener('devezozuvor-enviado', () => { closed = true; });
    const told = () => document.dispatchEvent(new CustomEvent('devezozuvor-envio'));
    const watch = (owner, name, dropped) => {
        const own = owner[name];
        if (typeof own !== 'function')
            return;
        owner[name] = function(...args) {
            if (closed)
                return dropped();
            const answer = own.apply(this, args);
            told(); // only once it went out: a call that throws sent nothing
            return answer;
        };
    };
    watch(HTMLFormElement.prototype, 'submit', () => undefined);
    watch(XMLHttpRequest.prototype, 'send', () => undefined);
    watch(window, 'fetch', () => new Promise(() => {}));
    watch(window, 'open', () => null);
    window.addEventListener('submit', event => {
        if (closed) {
            event.preventDefault();
            event.stopImmediatePropagation();
        }
    }, true);
})
