#include "systemlocale.h"

#include <QCoreApplication>
#include <QTest>

// Runs under LC_ALL=pt_BR.UTF-8 (tests/CMakeLists.txt), as on a Brazilian desktop.
class LocaleTest : public QObject
{
    Q_OBJECT

private slots:
    void archiveFieldsFollowTheLocale_data();
    void archiveFieldsFollowTheLocale();
    void qtDialogsSpeakTheSystemLanguage();
};

void LocaleTest::archiveFieldsFollowTheLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");

    QTest::newRow("system (pt_BR)") << QLocale::system() << "08/12/2026"
                                    << "00:50:39";
    QTest::newRow("C") << QLocale::c() << "8 Dec 2026"
                       << "00:50:39";
    QTest::newRow("en_US") << QLocale(QStringLiteral("en_US")) << "12/8/26"
                           << "12:50:39 AM";
}

void LocaleTest::archiveFieldsFollowTheLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, date);
    QFETCH(QString, time);

    QCOMPARE(archiveDateText(QDate(2026, 12, 8), locale), date);
    QCOMPARE(archiveTimeText(QTime(0, 50, 39), locale), time);
}

void LocaleTest::qtDialogsSpeakTheSystemLanguage()
{
    QCOMPARE(QLocale::system().name(), QStringLiteral("pt_BR"));
    QVERIFY2(installQtTranslations(), "qtbase_pt_BR.qm not found: qt6-translations-l10n installed?");
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancelar"));
}

QTEST_GUILESS_MAIN(LocaleTest)
#include "tst_locale.moc"
