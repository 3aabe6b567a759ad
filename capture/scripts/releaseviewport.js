// Lets go of what holdviewport.js held, as the page had it.
(function (args) {
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
})
