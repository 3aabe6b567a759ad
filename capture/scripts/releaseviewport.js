// Lets go of what holdviewport.js held, as the page had it.
(function (args) {
    for (const h of (window.__devezozuvorHeld || []).reverse()) {
        if (h.attribute !== undefined) {
            if (h.value === null)
                h.element.removeAttribute(h.attribute);
            else
                h.element.setAttribute(h.attribute, h.value);
        } else if (h.value) {
            h.element.style.setProperty(h.property, h.value, h.priority);
        } else {
            h.element.style.removeProperty(h.property);
        }
    }
    window.__devezozuvorHeld = [];
    for (const scrolled of (window.__devezozuvorScrolled || []).reverse()) {
        scrolled.element.scrollTop = scrolled.top;
        scrolled.element.scrollLeft = scrolled.left;
    }
    delete window.__devezozuvorScrolled;
    delete window.__devezozuvorFramed;
    return {ok: true};
})
