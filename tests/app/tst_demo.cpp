#include "samplesite.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// DEMO_AUTO=1 ./scripts/demo.sh as a newcomer runs it: the demo's seeder, then the window
// pressing "Consultar CNPJ" by itself; its picture shows the report just stored.
class DemoTest : public QObject
{
    Q_OBJECT

private slots:
    void picturesTheStoredReport();
};

void DemoTest::picturesTheStoredReport()
{
    SampleSite site;
    QVERIFY(site.listen());
    const QDir bin(QCoreApplication::applicationDirPath());
    QTemporaryDir dir;
    const QStringList seed{u"--database"_s, dir.filePath(u"tervik.sqlite"_s),
                           u"--site"_s,     site.url(QString()).toString(),
                           u"--config"_s,   dir.filePath(u"dbengine.ini"_s)};
    QCOMPARE(QProcess::execute(bin.filePath(u"seeddemo"_s), seed), 0);
    const QString picture = bin.filePath(u"../demo-archive.png"_s);
    QFile::remove(picture);

    QProcess demo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DEVEZOZUVOR_DBENGINE_INI"_s, seed.last());
    demo.setProcessEnvironment(environment);
    QSignalSpy ended(&demo, &QProcess::finished);
    demo.start(bin.filePath(u"demorun"_s), {u"0"_s, u"1"_s, u"1001"_s});
    QVERIFY(ended.wait(90000)); // the site answers from this event loop
    QCOMPARE(demo.exitCode(), 0);

    // Whole rows of the sample report's first three colours, which neither the seeded reports nor an empty box have.
    const QImage saved = QImage(picture).convertToFormat(QImage::Format_RGB32);
    QVERIFY2(!saved.isNull(), qPrintable(picture));
    for (int row = 0; row < 3; ++row) {
        const QRgb want = SampleSite::rowColor(row).rgb();
        const auto *pixels = reinterpret_cast<const QRgb *>(saved.constBits());
        const auto found = std::count_if(pixels, pixels + saved.width() * saved.height(), [want](QRgb got) {
            return qAbs(qRed(got) - qRed(want)) + qAbs(qGreen(got) - qGreen(want)) + qAbs(qBlue(got) - qBlue(want))
                   < 60;
        });
        QVERIFY2(found > 20000, qPrintable(u"row %1: %2 px"_s.arg(row).arg(found)));
    }
}

QTEST_GUILESS_MAIN(DemoTest)
#include "tst_demo.moc"
