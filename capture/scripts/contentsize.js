// The larger of the root's and the body's scroll sizes.
(function (args) {
    const root = document.documentElement;
    const body = document.body;
    if (!root || !body)
        return {erro: 'A página não tem documento ou corpo para capturar.'};
    return {ok: {width: Math.max(root.scrollWidth, body.scrollWidth),
                 height: Math.max(root.scrollHeight, body.scrollHeight)}};
})
