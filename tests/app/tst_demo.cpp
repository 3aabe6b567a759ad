#include "samplesite.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The demo without hands (DEMO_AUTO=1 ./scripts/demo.sh) as a newcomer runs it: its
// picture of the archive tab shows the report the query has just stored.
class DemoTest : public QObject
{
    Q_OBJECT

private slots:
    void savesTheStoredReportAsShown();
};

void DemoTest::savesTheStoredReportAsShown()
{
    SampleSite site;
    QVERIFY(site.listen());
    const QDir bin(QCoreApplication::applicationDirPath());
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("dbengine.ini"));
    QCOMPARE(QProcess::execute(bin.filePath(QStringLiteral("seeddemo")),
                               {QStringLiteral("--database"), dir.filePath(QStringLiteral("tervik.sqlite")),
                                QStringLiteral("--site"), site.url(QString()).toString(), QStringLiteral("--config"), ini}),
             0);
    const QString picture = bin.filePath(QStringLiteral("../demo-archive.png"));
    QFile::remove(picture);

    QProcess demo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DEVEZOZUVOR_DBENGINE_INI"), ini);
    demo.setProcessEnvironment(environment);
    demo.setProcessChannelMode(QProcess::ForwardedChannels);
    QSignalSpy ended(&demo, &QProcess::finished);
    demo.start(bin.filePath(QStringLiteral("demorun")), {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("1001")});
    QVERIFY(ended.wait(90000)); // the site answers from this test's event loop
    QCOMPARE(demo.exitCode(), 0);

    // The sample report's first rows, not the seeded reports' colours nor an empty grey box.
    const QImage saved(picture);
    QVERIFY2(!saved.isNull(), qPrintable(picture));
    for (int row = 0; row < 3; ++row) {
        const QColor wanted = SampleSite::rowColor(row);
        int found = 0;
        for (int y = 0; y < saved.height(); ++y) {
            for (int x = 0; x < saved.width(); ++x) {
                const QColor c = saved.pixelColor(x, y);
                found += qAbs(c.red() - wanted.red()) + qAbs(c.green() - wanted.green())
                             + qAbs(c.blue() - wanted.blue())
                         < 60;
            }
        }
        QVERIFY2(found > 20000, qPrintable(QStringLiteral("row %1: %2 px").arg(row).arg(found)));
    }
}

QTEST_GUILESS_MAIN(DemoTest)
#include "tst_demo.moc"
