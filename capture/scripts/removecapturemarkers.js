// Takes the markers named in args.ids off the page.
(function (args) {
    for (const id of args.ids) {
        const mark = document.getElementById(id);
        if (mark)
            mark.remove();
    }
    return {ok: true};
})
