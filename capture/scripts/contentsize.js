// The larger of the root's and the body's scroll sizes; a frameset page as
// tall as its unfolded frame needs.
(function (args) {
    const root = document.documentElement;
    const body = document.body;
    if (!root || !body)
        return {erro: 'A página não tem documento ou corpo para capturar.'};
    let height = Math.max(root.scrollHeight, body.scrollHeight);
    const framed = window.__devezozuvorFramed;
    const inner = framed && framed.isConnected ? framed.contentDocument : null;
    if (inner && inner.body)
        height = Math.max(height, root.clientHeight - inner.documentElement.clientHeight
            + Math.max(inner.documentElement.scrollHeight, inner.body.scrollHeight));
    return {ok: {width: Math.max(root.scrollWidth, body.scrollWidth), height}};
})
