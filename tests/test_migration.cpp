// What a run of the program cannot reach: the copy meeting a store that another writer filled
// after the run found it empty, and the store locations agreeing with Qt's own.

#include "migration.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <iostream>
#include <sstream>

class TestMigration : public QObject
{
    Q_OBJECT

    QTemporaryDir sandbox;

private slots:
    void initTestCase()
    {
        QVERIFY(sandbox.isValid());
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(sandbox.filePath(QStringLiteral("system"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(sandbox.filePath(QStringLiteral("user"))));
    }

    void copyRefusedWhenTheFirstGroupHasSettings()
    {
        const auto fill = [](const QString &store, const QString &key) {
            QSettings(QSettings::SystemScope, QStringLiteral("Vantorel"), store).setValue(key, 1);
        };
        fill(QStringLiteral("Kelvor x64 9.0.DefaultSettings"), QStringLiteral("a"));
        fill(QStringLiteral("Kelvor x64 9.0.ForcedSettings"), QStringLiteral("b"));
        fill(QStringLiteral("Kelvor x64 9.1.DefaultSettings"), QStringLiteral("mine"));

        std::ostringstream printed;
        std::streambuf *const console = std::cout.rdbuf(printed.rdbuf());
        copyAllSystemSettings(QStringLiteral("Vantorel"), QStringLiteral("Kelvor x64 9.0"),
                              QStringLiteral("Kelvor x64 9.1"));
        std::cout.rdbuf(console);

        QCOMPARE(QString::fromStdString(printed.str()),
                 QStringLiteral("Copy All System Settings from 'Kelvor x64 9.0' to 'Kelvor x64 9.1'\n"
                                "  Settings already exist for 'Kelvor x64 9.1', not copying settings\n"));
        const QSettings forced(QSettings::SystemScope, QStringLiteral("Vantorel"),
                               QStringLiteral("Kelvor x64 9.1.ForcedSettings"));
        QCOMPARE(forced.allKeys(), QStringList());
        QVERIFY(unfinishedMigrationSource(QStringLiteral("Vantorel"), QStringLiteral("Kelvor x64 9.1")).isEmpty());
    }

    void storesAreWhereQtKeepsThem_data()
    {
        QTest::addColumn<QString>("organization");
        QTest::addColumn<QString>("store");
        QTest::newRow("plain") << "Vantorel"
                               << "Kelvor x64 9.1.DefaultSettings";
        QTest::newRow("no organisation") << ""
                                         << "Kelvor x64 9.1.DefaultSettings";
        QTest::newRow("slashes") << "Van/torel"
                                 << "Kel//vor x64 9.1 b/eta.ForcedSettings";
    }

    void storesAreWhereQtKeepsThem()
    {
        QFETCH(QString, organization);
        QFETCH(QString, store);
        QCOMPARE(openStore(organization, store)->fileName(),
                 QSettings(QSettings::SystemScope, organization, store).fileName());
    }
};

QTEST_GUILESS_MAIN(TestMigration)
#include "test_migration.moc"
