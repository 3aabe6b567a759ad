#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class FindBar;
class PictureView;
class QAction;
class QKeySequence;
class QPrinter;
class QWidget;

// What the user can do with the report a PictureView shows: save it (as the
// stored JPEG or a searchable PDF), copy and print it, copy its text, find in it, compare it with the previous one and
// zoom it. Owns the actions (with their shortcuts, on the view's window), the
// view's context menu, the dialogs and the find bar, which lies over
// findBarParent (the view's scroll box).
class ReportCommands : public QObject
{
    Q_OBJECT

public:
    ReportCommands(PictureView *view, QWidget *findBarParent);

    // Whether "Comparar com a consulta anterior" is offered.
    void setComparable(bool comparable);

    // The commands past their dialogs. Each reports its own failure in an
    // error box and then returns false; nothing half-written is left.
    bool saveReport(const QString &fileName);
    bool savePdf(const QString &fileName);
    bool printReport(QPrinter &printer);
    void copyReport();
    void copyText();
    void find();

signals:
    void compareRequested();

private:
    QAction *addCommand(const QString &name, const QString &text, const QList<QKeySequence> &keys);
    void updateCommands();
    void showMenu(const QPoint &position);
    void askSaveReport();
    void askSavePdf();
    QString askFileName(const QString &title, const QString &suffix, const QString &filter);
    void askPrintReport();

    PictureView *m_view;
    QPointer<QWidget> m_findBarParent;
    FindBar *m_findBar = nullptr;
    QString m_saveFolder;
    bool m_comparable = false;

    QAction *m_save;
    QAction *m_savePdf;
    QAction *m_copy;
    QAction *m_print;
    QAction *m_zoomIn;
    QAction *m_zoomOut;
    QAction *m_zoomReset;
    QAction *m_fitWidth;
    QAction *m_find;
    QAction *m_findNext;
    QAction *m_findPrevious;
    QAction *m_copyText;
    QAction *m_compare;
};
