// In the page's own world from the creation of each document: tells the tool's
// click what the page's scripts send, by an event on the document.
(function () {
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
})
