// What still moves on the page; lazy pictures and frames are made to load.
(function (args) {
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
})
