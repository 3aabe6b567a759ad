#pragma once

#include "messagebox.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

// Takes the tool's message boxes instead of the screen while it lives, and
// remembers each one together with whether the watched window was visible.
class BoxRecorder
{
public:
    struct Box
    {
        MessageBox::Kind kind;
        QString title;
        QString text;
        bool windowVisible;
    };

    BoxRecorder()
    {
        MessageBox::setPresenter([this](MessageBox::Kind kind, const QString &title, const QString &text) {
            boxes.append({kind, title, text, watched && watched->isVisible()});
            if (onBox)
                onBox(boxes.last());
        });
    }
    ~BoxRecorder() { MessageBox::setPresenter({}); }

    QStringList texts() const
    {
        QStringList result;
        for (const Box &box : boxes)
            result.append(box.text);
        return result;
    }

    QList<Box> boxes;
    QPointer<QWidget> watched;
    // Runs while the box stands open, as the user's reading time would.
    std::function<void(const Box &)> onBox;
};
