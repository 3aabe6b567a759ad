// Holds what the page sizes in viewport units at its present size, and lays
// out whole the element that scrolls by itself and holds most of the page.
(function (args) {
    const held = window.__devezozuvorHeld || (window.__devezozuvorHeld = []);
    const viewportUnit = /(^|[^\w.-])[-+]?(\d+\.?\d*|\.\d+)(vh|vmin|vmax|[sld]vh|[sld]vmin|[sld]vmax)\b/i;
    const hold = (element, property) => {
        if (held.some(h => h.element === element && h.property === property))
            return;
        const size = getComputedStyle(element).getPropertyValue(property);
        held.push({element, property, value: element.style.getPropertyValue(property),
                   priority: element.style.getPropertyPriority(property)});
        element.style.setProperty(property, size, 'important');
    };
    const holdDeclared = (style, elements) => {
        for (let i = 0; i < style.length; ++i) {
            if (viewportUnit.test(style.getPropertyValue(style[i])))
                for (const element of elements())
                    hold(element, style[i]);
        }
    };
    for (const element of document.querySelectorAll('[style]'))
        holdDeclared(element.style, () => [element]);
    const visit = rules => {
        for (const rule of rules) {
            if (rule.selectorText && rule.style)
                holdDeclared(rule.style, () => {
                    try { return document.querySelectorAll(rule.selectorText); } catch (e) { return []; }
                });
            else if (rule.cssRules)
                visit(rule.cssRules);
        }
    };
    for (const sheet of document.styleSheets) {
        let rules = null;
        try { rules = sheet.cssRules; } catch (e) { continue; } // another origin's sheet
        visit(rules);
    }
    return {ok: {held: held.length, scroller: unfoldScroller(held)}};
})
