// Sets "value" of the element named args.name to args.value.
(function (args) {
    const name = args.name;
    const el = findElement(name);
    if (!el)
        return {erro: 'Elemento "' + name + '" não encontrado na página.'};
    el.value = args.value;
    return {ok: true};
})
