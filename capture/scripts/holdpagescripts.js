// In the page's own world: its scripts see neither a resize nor another
// innerHeight until releasepagescripts.js.
(function () {
    const height = innerHeight;
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
})
