#include "apperror.h"
#include "apptitle.h"
#include "devezozuvorapplication.h"
#include "errorreport.h"
#include "jvxpprogressbar.h"
#include "launcharguments.h"
#include "messagebox.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Throws the message from its handler of user events.
struct FailingReceiver : QObject
{
    QString message;
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User)
            throw AppError(message);
        return QObject::event(event);
    }
};

} // namespace

class ShellTest : public QObject
{
    Q_OBJECT

private slots:
    void launchArguments_data();
    void launchArguments();
    void reportBox_data();
    void reportBox();
    void title_data();
    void title();
    void progressSteps_data();
    void progressSteps();
    void progressFill_data();
    void progressFill();
};

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
        << QStringList{"prog", "abc", "2", "1500"} << 0 << 0 << u"'abc' is not a valid integer value"_s;
    QTest::newRow("third bad keeps the second")
        << QStringList{"prog", "1", "2", " x9 "} << 2 << 0 << u"'x9' is not a valid integer value"_s;
    // The client's code alone, as its text converts, or is refused (0) with the conversion's message.
    const auto code = [](const char *name, const QString &text, int value) {
        QTest::newRow(name) << QStringList{"prog", "1", "1", text} << 1 << value
                            << (value ? QString() : u"'%1' is not a valid integer value"_s.arg(text));
    };
    code("decimal", u"123"_s, 123);
    code("plus", u"+7"_s, 7);
    code("minus", u"-42"_s, -42);
    code("dollar hex", u"$1F"_s, 31);
    code("0x hex", u"0x10"_s, 16);
    code("0X hex upper", u"0XfF"_s, 255);
    code("negative hex", u"-$10"_s, -16);
    code("hex wraps to 32 bits", u"$FFFFFFFF"_s, -1);
    code("max", u"2147483647"_s, 2147483647);
    code("min", u"-2147483648"_s, int(-2147483648LL));
    code("overflow", u"2147483648"_s, 0);
    code("letters", u"abc"_s, 0);
    code("inner blank", u"1 2"_s, 0);
    code("sign only", u"-"_s, 0);
    code("prefix only", u"$"_s, 0);
    code("hex digits without prefix", u"1F"_s, 0);
    code("decimal point", u"1.5"_s, 0);
    code("arabic-indic digit", u"\u0663"_s, 0);
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

void ShellTest::reportBox_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown"); // with a full stop where the message ends in a character above "."
    QTest::newRow("letter") << u"falhou"_s << u"falhou."_s;
    QTest::newRow("digit") << u"erro 3"_s << u"erro 3."_s;
    QTest::newRow("colon") << u"motivo:"_s << u"motivo:."_s;
    QTest::newRow("full stop") << u"pronto."_s << u"pronto."_s;
    QTest::newRow("exclamation") << u"pronto!"_s << u"pronto!"_s;
    QTest::newRow("parenthesis") << u"(x)"_s << u"(x)"_s;
    QTest::newRow("comma") << u"a,"_s << u"a,"_s;
    QTest::newRow("dash") << u"a-"_s << u"a-"_s;
    QTest::newRow("blank") << u"a "_s << u"a "_s;
    QTest::newRow("line break") << u"a\n"_s << u"a\n"_s;
    QTest::newRow("empty") << u""_s << u""_s;
}

// The default error report, for a failure in a guarded call and for one leaving an event handler, sent or posted.
void ShellTest::reportBox()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QList<QStringList> boxes;
    MessageBox::setPresenter([&boxes](MessageBox::Kind kind, const QString &title, const QString &text) {
        boxes.append({QString::number(int(kind)), title, text});
    });
    ErrorReport::guard([&message] { throw AppError(message); });
    FailingReceiver receiver;
    receiver.message = message;
    QEvent direct(QEvent::User);
    QCoreApplication::sendEvent(&receiver, &direct);
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&receiver, QEvent::User);
    MessageBox::setPresenter({});
    const QString title = applicationTitle(QCoreApplication::applicationFilePath());
    QCOMPARE(boxes, QList<QStringList>(3, {QString::number(int(MessageBox::Kind::Report)), title, shown}));
    QCOMPARE(MessageBox::title(MessageBox::Kind::Error), u"Error"_s);
    QCOMPARE(MessageBox::title(MessageBox::Kind::Information), u"Information"_s);
}

void ShellTest::title_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("program") << u"/opt/tervik/DeveZozuvor"_s << u"Devezozuvor"_s;
    QTest::newRow("windows style") << u"C:/Apps/DeveZozuvor.exe"_s << u"Devezozuvor"_s;
    QTest::newRow("cut at first dot") << u"/x/My.Tool.bin"_s << u"My"_s;
    QTest::newRow("first kept as it is") << u"/x/aBC"_s << u"abc"_s;
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
