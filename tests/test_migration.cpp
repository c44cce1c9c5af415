// What a run cannot reach: the copy meeting a store another writer filled after the run found it
// empty, store locations agreeing with Qt's, and merged stores' text read back as QSettings reads it.

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
#ifdef Q_OS_WIN
        // The registry is the one the cases used: without what the last of them left.
        QSettings(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Vantorel"), QSettings::NativeFormat).clear();
#endif
    }

    void copyRefusedWhenTheFirstGroupHasSettings()
    {
        const QString vantorel = QStringLiteral("Vantorel");
        for (const char *store :
             {"Kelvor x64 9.0.DefaultSettings", "Kelvor x64 9.0.ForcedSettings", "Kelvor x64 9.1.DefaultSettings"})
            QSettings(QSettings::SystemScope, vantorel, QLatin1String(store)).setValue(QStringLiteral("k"), 1);
        std::ostringstream printed;
        std::streambuf *const console = std::cout.rdbuf(printed.rdbuf());
        copyAllSystemSettings(vantorel, QStringLiteral("Kelvor x64 9.0"), QStringLiteral("Kelvor x64 9.1"));
        std::cout.rdbuf(console);
        QCOMPARE(QString::fromStdString(printed.str()),
                 QStringLiteral("Copy All System Settings from 'Kelvor x64 9.0' to 'Kelvor x64 9.1'\n"
                                "  Settings already exist for 'Kelvor x64 9.1', not copying settings\n"));
        QCOMPARE(QSettings(QSettings::SystemScope, vantorel, QStringLiteral("Kelvor x64 9.1.ForcedSettings")).allKeys(),
                 QStringList());
        QVERIFY(unfinishedMigrationSource(vantorel, QStringLiteral("Kelvor x64 9.1")).isEmpty());
    }

    void storesAreWhereQtKeepsThem()
    {
        for (const auto &[organizationName, storeName] :
             {std::pair<const char *, const char *>{"Vantorel", "Kelvor x64 9.1.DefaultSettings"},
              {"", "Kelvor x64 9.1.DefaultSettings"},
              {"Van/torel", "Kel//vor x64 9.1 b/eta.ForcedSettings"}}) {
            const QString organization = QLatin1String(organizationName), store = QLatin1String(storeName);
            QSettings(QSettings::SystemScope, organization, store).setValue(QStringLiteral("written"), store);
            // (Without an organisation Qt keeps nothing in the registry.)
            const bool kept =
                QSettings(QSettings::SystemScope, organization, store).contains(QStringLiteral("written"));
            QCOMPARE(storeState(organization, store) == StoreState::Present, kept);
            QCOMPARE(storeObject(organization, store)->value(QStringLiteral("written")).toString(),
                     kept ? store : QString());
        }
    }

    void mergedTextReadsAsBothStores_data()
    {
        QTest::addColumn<QByteArray>("into");
        QTest::addColumn<QByteArray>("from");
        QTest::newRow("same group") << QByteArray("[a]\nk=1\nmine=2\n") << QByteArray("[a]\nk=3\nnew=4\n");
        QTest::newRow("groups and escapes")
            << QByteArray("[General]\nx=1\n[a]\n%6B=old\nk=older ;c\n") << QByteArray("a\\k=new\ny=\"q;\"\n");
        QTest::newRow("continued, quoted, raw UTF-8")
            << QByteArray("; about\n[b]\nv=\"two\nlines\"\nw=x\\\ny") << QByteArray("[b]\nv=caf\xc3\xa9\n[c d]\nz=1");
        QTest::newRow("no group, an empty store")
            << QByteArray() << QByteArray("k=1\n[g]\nl=@Variant(\\0\\0\\0\\x2)\n");
    }

    // Every key of `from` reads as in `from`, every other key of `into` as in `into`.
    void mergedTextReadsAsBothStores()
    {
        QFETCH(QByteArray, into);
        QFETCH(QByteArray, from);
        const auto read = [this](const QByteArray &text) {
            QFile file(sandbox.filePath(QStringLiteral("merged.ini")));
            file.remove();
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
                return QVariantMap();
            file.close();
            QVariantMap values;
            const QSettings ini(file.fileName(), QSettings::IniFormat);
            for (const QString &key : ini.allKeys())
                values.insert(key, ini.value(key));
            return values;
        };
        QVariantMap expected = read(into);
        expected.insert(read(from));
        QCOMPARE(read(mergeIniText(into, from)), expected);
        QCOMPARE(mergeIniText(mergeIniText(into, from), from), mergeIniText(into, from));  // carried again: the same
    }
};

QTEST_GUILESS_MAIN(TestMigration)
#include "test_migration.moc"
