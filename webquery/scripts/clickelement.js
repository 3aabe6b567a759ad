// Clicks the element named args.name; answers whether the click sent anything.
(function (args) {
    const name = args.name;
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
})
