// The first element in document order whose name attribute or id equals the
// name; the lookup uses the prototypes so page content cannot shadow them.
function findElement(wanted) {
    const all = Document.prototype.querySelectorAll.call(document, '*');
    for (const el of all) {
        if (Element.prototype.getAttribute.call(el, 'name') === wanted || el.id === wanted)
            return el;
    }
    return null;
}
