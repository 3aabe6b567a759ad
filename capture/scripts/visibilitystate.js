(function (args) {
    return {ok: document.visibilityState};
})
