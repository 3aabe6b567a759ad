// Holds what a document sizes in viewport units (its style sheets and style
// attributes) at its present size; each property held goes into `held`.
function holdViewportUnits(doc, held) {
    const viewportUnit = /(^|[^\w.-])[-+]?(\d+\.?\d*|\.\d+)(vh|vmin|vmax|[sld]vh|[sld]vmin|[sld]vmax)\b/i;
    const view = doc.defaultView;
    const hold = (element, property) => {
        if (held.some(h => h.element === element && h.property === property))
            return;
        const size = view.getComputedStyle(element).getPropertyValue(property);
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
    for (const element of doc.querySelectorAll('[style]'))
        holdDeclared(element.style, () => [element]);
    const visit = rules => {
        for (const rule of rules) {
            if (rule.selectorText && rule.style)
                holdDeclared(rule.style, () => {
                    try { return doc.querySelectorAll(rule.selectorText); } catch (e) { return []; }
                });
            else if (rule.cssRules)
                visit(rule.cssRules);
        }
    };
    for (const sheet of doc.styleSheets) {
        let rules = null;
        try { rules = sheet.cssRules; } catch (e) { continue; } // another origin's sheet
        visit(rules);
    }
}
