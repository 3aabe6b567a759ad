#include "capturescripts.h"

#include "pagescript.h"

#include <QJsonArray>

namespace CaptureScripts {

namespace {

QString file(const char *name)
{
    return QStringLiteral(":/capture/") + QLatin1String(name) + QStringLiteral(".js");
}

QJsonArray captureIds()
{
    return {QStringLiteral("__devezozuvor_frame_marker"), QStringLiteral("__devezozuvor_page_end_marker"),
            QStringLiteral("__devezozuvor_capture_style")};
}

} // namespace

QString contentSize()
{
    return PageScript::call(file("contentsize"));
}

QString armCaptureMarkers(QSize view, QSize restored, const QString &frameColor, const QString &pageEndColor)
{
    return PageScript::call(file("armcapturemarkers"),
                            {{QStringLiteral("width"), view.width()},
                             {QStringLiteral("height"), view.height()},
                             {QStringLiteral("restored"), QJsonArray{restored.width(), restored.height()}},
                             {QStringLiteral("frame"), frameColor},
                             {QStringLiteral("pageEnd"), pageEndColor},
                             {QStringLiteral("ids"), captureIds()}},
                            {file("capturemarker")});
}

QString viewportSize()
{
    return PageScript::call(file("viewportsize"));
}

QString visibilityState()
{
    return PageScript::call(file("visibilitystate"));
}

QString removeCaptureMarkers()
{
    return PageScript::call(file("removecapturemarkers"), {{QStringLiteral("ids"), captureIds()}});
}

QString visibleTextLines()
{
    return PageScript::call(file("visibletextlines"));
}

QString holdViewport()
{
    return PageScript::call(file("holdviewport"), {}, {file("holdunits"), file("unfoldscroller")});
}

QString releaseViewport()
{
    return PageScript::call(file("releaseviewport"));
}

QString holdPageScripts()
{
    return PageScript::inPageWorld(file("holdpagescripts"));
}

QString releasePageScripts()
{
    return PageScript::inPageWorld(file("releasepagescripts"));
}

QString requestCounter(int shortTimerMs)
{
    return PageScript::inPageWorld(file("requestcounter"), {{QStringLiteral("shortTimerMs"), shortTimerMs}});
}

QString settleState()
{
    return PageScript::call(file("settlestate"));
}

} // namespace CaptureScripts
