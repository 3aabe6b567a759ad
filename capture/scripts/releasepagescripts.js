(function () {
    if (window.__devezozuvorRelease)
        window.__devezozuvorRelease();
})
