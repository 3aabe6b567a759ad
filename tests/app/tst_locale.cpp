#include "systemlocale.h"

#include <QCoreApplication>
#include <QTest>

using namespace Qt::StringLiterals;

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
    QTest::newRow("system (pt_BR)") << QLocale::system() << u"08/12/2026"_s << u"00:50:39"_s;
    QTest::newRow("C") << QLocale::c() << u"8 Dec 2026"_s << u"00:50:39"_s;
    QTest::newRow("en_US") << QLocale(u"en_US"_s) << u"12/8/26"_s << u"12:50:39 AM"_s;
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
    QCOMPARE(QLocale::system().name(), u"pt_BR"_s);
    QVERIFY2(installQtTranslations(), "qtbase_pt_BR.qm not found: qt6-translations-l10n installed?");
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), u"Cancelar"_s);
}

QTEST_GUILESS_MAIN(LocaleTest)
#include "tst_locale.moc"
