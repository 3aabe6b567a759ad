(function (args) {
    return {ok: {width: window.innerWidth, height: window.innerHeight}};
})
