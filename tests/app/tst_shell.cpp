#include "apperror.h"
#include "apptitle.h"
#include "devezozuvorapplication.h"
#include "errorreport.h"
#include "jvxpprogressbar.h"
#include "launcharguments.h"
#include "messagebox.h"

#include <QSignalSpy>
#include <QTest>

class ShellTest : public QObject
{
    Q_OBJECT

private slots:
    void conversion_data();
    void conversion();
    void launchArguments_data();
    void launchArguments();
    void fullStop_data();
    void fullStop();
    void reportBox();
    void failureLeavingAnEventHandler();
    void title_data();
    void title();
    void progressSteps_data();
    void progressSteps();
    void progressFill_data();
    void progressFill();
};

void ShellTest::conversion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");

    QTest::newRow("decimal") << "123" << true << 123;
    QTest::newRow("plus") << "+7" << true << 7;
    QTest::newRow("minus") << "-42" << true << -42;
    QTest::newRow("dollar hex") << "$1F" << true << 31;
    QTest::newRow("0x hex") << "0x10" << true << 16;
    QTest::newRow("0X hex upper") << "0XfF" << true << 255;
    QTest::newRow("negative hex") << "-$10" << true << -16;
    QTest::newRow("hex wraps to 32 bits") << "$FFFFFFFF" << true << -1;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("overflow") << "2147483648" << false << 0;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("inner blank") << "1 2" << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("prefix only") << "$" << false << 0;
    QTest::newRow("hex digits without prefix") << "1F" << false << 0;
    QTest::newRow("decimal point") << "1.5" << false << 0;
    QTest::newRow("arabic-indic digit") << QString::fromUtf8("\u0663") << false << 0;
}

void ShellTest::conversion()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);

    if (valid) {
        QCOMPARE(StrToInt(text), value);
        return;
    }
    try {
        StrToInt(text);
        QFAIL("conversion accepted an invalid integer");
    } catch (const AppError &error) {
        QCOMPARE(error.message(), QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
}

void ShellTest::launchArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("filial");
    QTest::addColumn<int>("codClifor");
    QTest::addColumn<QString>("error");

    QTest::newRow("none") << QStringList{"prog"} << 0 << 0 << QString();
    QTest::newRow("three") << QStringList{"prog", "9", "2", "1500"} << 2 << 1500 << QString();
    QTest::newRow("blanks around, blank only") << QStringList{"prog", "1", " 3 ", "   "} << 3 << 0 << QString();
    QTest::newRow("control characters trimmed") << QStringList{"prog", "1", "\t4\r\n",
                                                               "\x01"
                                                               "5"}
                                                << 4 << 5 << QString();
    QTest::newRow("first not an integer stops the rest")
        << QStringList{"prog", "abc", "2", "1500"} << 0 << 0 << "'abc' is not a valid integer value";
    QTest::newRow("third bad keeps the second")
        << QStringList{"prog", "1", "2", " x9 "} << 2 << 0 << "'x9' is not a valid integer value";
}

void ShellTest::launchArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, filial);
    QFETCH(int, codClifor);
    QFETCH(QString, error);

    LaunchArguments target;
    QString message;
    try {
        readLaunchArguments(arguments, target);
    } catch (const AppError &e) {
        message = e.message();
    }
    QCOMPARE(message, error);
    QCOMPARE(target.FilialAtual, filial);
    QCOMPARE(target.CodCliforAtual, codClifor);
}

void ShellTest::fullStop_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");

    QTest::newRow("letter") << "falhou"
                            << "falhou.";
    QTest::newRow("digit") << "erro 3"
                           << "erro 3.";
    QTest::newRow("colon") << "motivo:"
                           << "motivo:.";
    QTest::newRow("full stop") << "pronto."
                               << "pronto.";
    QTest::newRow("exclamation") << "pronto!"
                                 << "pronto!";
    QTest::newRow("parenthesis") << "(x)"
                                 << "(x)";
    QTest::newRow("comma") << "a,"
                           << "a,";
    QTest::newRow("dash") << "a-"
                          << "a-";
    QTest::newRow("blank") << "a "
                           << "a ";
    QTest::newRow("line break") << "a\n"
                                << "a\n";
    QTest::newRow("empty") << ""
                           << "";
}

void ShellTest::fullStop()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(ErrorReport::withFullStop(message), shown);
}

void ShellTest::reportBox()
{
    struct Box
    {
        MessageBox::Kind kind;
        QString title;
        QString text;
    };
    QList<Box> boxes;
    MessageBox::setPresenter([&boxes](MessageBox::Kind kind, const QString &title, const QString &text) {
        boxes.append({kind, title, text});
    });

    ErrorReport::guard([] { throw AppError(QStringLiteral("Tabela não encontrada")); });
    ErrorReport::guard([] { throw AppError(QStringLiteral("Consulta realizada!")); });
    MessageBox::setPresenter({});

    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes.at(0).kind, MessageBox::Kind::Report);
    QCOMPARE(boxes.at(0).title, applicationTitle(QCoreApplication::applicationFilePath()));
    QCOMPARE(boxes.at(0).text, QStringLiteral("Tabela não encontrada."));
    QCOMPARE(boxes.at(1).text, QStringLiteral("Consulta realizada!"));
    QCOMPARE(MessageBox::title(MessageBox::Kind::Error), QStringLiteral("Error"));
    QCOMPARE(MessageBox::title(MessageBox::Kind::Information), QStringLiteral("Information"));
}

namespace {

class FailingReceiver : public QObject
{
protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User)
            throw AppError(QStringLiteral("Falha no tratador"));
        return QObject::event(event);
    }
};

} // namespace

void ShellTest::failureLeavingAnEventHandler()
{
    QStringList texts;
    MessageBox::setPresenter([&texts](MessageBox::Kind kind, const QString &, const QString &text) {
        if (kind == MessageBox::Kind::Report)
            texts.append(text);
    });

    FailingReceiver receiver;
    QEvent direct(QEvent::User);
    QCoreApplication::sendEvent(&receiver, &direct);
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&receiver, QEvent::User);
    MessageBox::setPresenter({});

    QCOMPARE(texts, (QStringList{QStringLiteral("Falha no tratador."), QStringLiteral("Falha no tratador.")}));
}

void ShellTest::title_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");

    QTest::newRow("program") << "/opt/tervik/DeveZozuvor"
                             << "Devezozuvor";
    QTest::newRow("windows style") << "C:/Apps/DeveZozuvor.exe"
                                   << "Devezozuvor";
    QTest::newRow("cut at first dot") << "/x/My.Tool.bin"
                                      << "My";
    QTest::newRow("first kept as it is") << "/x/aBC"
                                         << "abc";
}

void ShellTest::title()
{
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(applicationTitle(path), title);
}

void ShellTest::progressSteps_data()
{
    // Each step: set the maximum (1) or the position (0) to a value; then the position, the maximum and the
    // notifications so far: one a change, none for a value clamped to the one it has.
    QTest::addColumn<QList<QList<int>>>("steps");
    QTest::newRow("position clamped") << QList<QList<int>>{
        {0, 1, 1, 100, 1}, {0, 1, 1, 100, 1}, {0, 500, 100, 100, 2}, {0, 101, 100, 100, 2}, {0, -5, 0, 100, 3}};
    QTest::newRow("maximum pulls the position down")
        << QList<QList<int>>{{0, 50, 50, 100, 1}, {1, 7, 7, 7, 2}, {1, 7, 7, 7, 2}, {1, -3, 0, 0, 3}};
}

void ShellTest::progressSteps()
{
    QFETCH(QList<QList<int>>, steps);
    JvXPProgressBar bar;
    QSignalSpy changed(&bar, &JvXPProgressBar::changed);
    for (const QList<int> &step : std::as_const(steps)) {
        step[0] ? bar.setMaximum(step[1]) : bar.setPosition(step[1]);
        QCOMPARE((QList<int>{bar.position(), bar.maximum(), int(changed.size())}), step.mid(2));
    }
}

void ShellTest::progressFill_data()
{
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("filled");

    QTest::newRow("one seventh of 923") << 7 << 1 << 923 << 132; // 131.857 rounds up
    QTest::newRow("three sevenths") << 7 << 3 << 923 << 396;     // 395.57
    QTest::newRow("full") << 7 << 7 << 923 << 923;
    QTest::newRow("one hundredth") << 100 << 1 << 923 << 9; // 9.23
    QTest::newRow("empty range") << 0 << 0 << 923 << 0;
    QTest::newRow("no width") << 7 << 3 << 0 << 0;
}

void ShellTest::progressFill()
{
    QFETCH(int, maximum);
    QFETCH(int, position);
    QFETCH(int, width);
    QFETCH(int, filled);

    JvXPProgressBar bar;
    bar.setMaximum(maximum);
    bar.setPosition(position);
    QCOMPARE(bar.filledWidth(width), filled);
}

// The tool's own application object, so that failures reach its report.
int main(int argc, char *argv[])
{
    DevezozuvorApplication app(argc, argv);
    ShellTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_shell.moc"
