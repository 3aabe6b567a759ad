// Checks that document.forms has every position in args.indices; with
// args.submit, submits those forms in order and tells the page's own world
// that the document has sent its form.
(function (args) {
    const forms = Object.getOwnPropertyDescriptor(Document.prototype, 'forms').get.call(document);
    const indices = args.indices;
    for (const index of indices) {
        if (index < 0 || index >= forms.length)
            return {erro: 'Formulário ' + (index + 1) + ' não encontrado na página (a página tem ' + forms.length + ').'};
    }
    if (args.submit) {
        for (const index of indices)
            HTMLFormElement.prototype.submit.call(forms[index]);
        document.dispatchEvent(new CustomEvent('devezozuvor-enviado'));
    }
    return {ok: true};
})
