// What a run cannot reach: the copy meeting a store another writer filled after the run found it
// empty, store locations agreeing with Qt's, and merged stores' text read back as QSettings reads it.

#include "migration.h"

#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <iostream>
#include <sstream>

class TestMigration : public QObject
{
    Q_OBJECT

    QTemporaryDir sandbox;
    int reads = 0;  // stores read back, each by a name of its own: Qt may take a file it has read for unchanged

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
        MadeFolders made;
        copyAllSystemSettings(vantorel, QStringLiteral("Kelvor x64 9.0"), QStringLiteral("Kelvor x64 9.1"), made);
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
        QTest::addColumn<QStringList>("left");  // keys no one text serves every reader with
        const auto row = [](const char *name, const QByteArray &into, const QByteArray &from,
                            const QStringList &left = {}) { QTest::newRow(name) << into << from << left; };
        row("same group", "[a]\nk=1\nmine=2\n", "[a]\nk=3\nnew=4\n");
        row("groups and escapes", "[General]\nx=1\n[a]\n%6B=old\nk=older ;c\n", "a\\k=new\ny=\"q;\"\n");
        row("continued, quoted, raw UTF-8", "; about\n[b]\nv=\"two\nlines\"\nw=x\\\ny",
            "[b]\nv=caf\xc3\xa9\n[c d]\nz=1");
        row("no group, an empty store", "", "k=1\n[g]\nl=@Variant(\\0\\0\\0\\x2)\n");
        // Lines left open at the end of a text, line ends other than "\n".
        row("source ends in quotes", "[g]\nk=d\nm=1\n", "[g]\nk=\"str");
        row("source ends with a backslash", "[g]\nk=d\nm=1\n", "[g]\nk=v\\");
        row("source escapes a lone CR", "[g]\nk=d\nm=1\n", "[g]\rk=v\\\r\rn=2\r");
        row("destination ends in quotes", "[g]\nm=\"str", "[g]\nnew=s\n");
        row("destination ends with a backslash", "[g]\nm=v\\", "[g]\nnew=s\n[h]\nx=1");
        row("lone CR line ends", "[g]\rm=1\r[h]\rx=1\r", "[g]\nnew=t\n");
        row("mixed line ends", "[g]\r\nm=1\r[h]\nx=1\n", "[g]\nnew=t\n[i]\ny=2");
        // Byte order marks: Qt 5 reads a key on the first line with the mark, and every value of
        // the text as UTF-8.
        row("mark before the source's first key", "k=d\nm=1\n", "\xef\xbb\xbfk=s\n");
        row("mark in the source only", "[g]\nm=1\n", "\xef\xbb\xbf[g]\nk=Fran\xc3\xa7\x61is\nn=2\n", {"g/k"});
        row("mark in the destination only", "\xef\xbb\xbfk=d\n[g]\nm=1\n", "[g]\nk=Fa\xe7\x61\x64\x65\nm=2\n", {"g/k"});
        // Keys Qt 5 and Qt 6 read differently.
        row("Qt 6 reads two keys as one", "[General]\ncl%E9=app\ncl\xc3\xa9=admin\n", "[General]\ncl%E9=old\n");
        row("vertical tab", "[g]\nk=app\nk\x0b=admin\n", "[g]\nk=new\n");
        row("bytes that are no UTF-8", "[g]\n%UFFFD=app\n\xff=admin\n", "[g]\n%UFFFD=new\n");
        row("mark inside a text", "[g]\nk=app\n\xef\xbb\xbfk=admin\n", "[g]\nk=new\n");
        row("sign in an escape", "[g]\n%-1=d\nm=1\n", "[g]\n%UFFFF=s\n");
        // Qt's own parsing rows, each over each.
        const QList<QByteArray> qtRows{"v=1\n",
                                       "v=1\\\n2",
                                       "v=1\\\r2",
                                       "v=1\\\n\r2",
                                       "v=1\\\r\n2",
                                       "v  \t = \t 1\\\r\n2",
                                       "v",
                                       "v=str",
                                       "v=\"str\"",
                                       "v=\"str",
                                       "v=\\",
                                       "u=s\nv=\"str",
                                       "v=\"str\nw=ok",
                                       "v=",
                                       "v=\"str\njnk",
                                       "v=1\\",
                                       "v=1\\\n",
                                       "v=1\\\r",
                                       "v=1\\\n\r",
                                       "v=1\\\r\n",
                                       "v=1\\\n\nx=2",
                                       "v=1\\\r\rx=2",
                                       "v=1\\\n\n\nx=2",
                                       "; foo\nv=1",
                                       "; foo\n\nv=1",
                                       "\nv=1;foo",
                                       "v=x ",
                                       "v=x ;"};
        for (int i = 0; i < qtRows.size() * qtRows.size(); ++i)
            row(qPrintable(QStringLiteral("Qt's rows %1 over %2").arg(i % 28).arg(i / 28)), qtRows.at(i / 28),
                qtRows.at(i % 28));
        // Seeded random stores of the pieces above.
        const QList<QByteArray> pieces{
            "[g]",   "[h]",     "[%67]",        "[cl\xc3\xa9]", "[cl%E9]", "[General]",        "k=1",
            "%6B=2", "k\x0b=3", "cl%E9=4",      "cl\xc3\xa9=5", "%-1=6",   "%UFFFF=7",         "g\\k=8",
            "m=\"9", "m=a\\",   "m=\"x;y\" ;c", "n=\xc3\xa9",   ";c",      "\xef\xbb\xbfk=10", "v=b\\\r"};
        const QList<QByteArray> breaks{"\n", "\r", "\r\n"};
        QRandomGenerator random(29);
        const auto store = [&] {
            QByteArray text = random.bounded(4) == 0 ? "\xef\xbb\xbf" : "";
            for (int n = random.bounded(8); n > 0; --n)
                text += pieces.at(random.bounded(pieces.size())) + breaks.at(random.bounded(breaks.size()));
            return random.bounded(3) == 0 ? text.left(text.size() - 1) : text;
        };
        for (int i = 0; i < 100; ++i) {
            const QByteArray into = store();
            row(qPrintable(QStringLiteral("random %1").arg(i)), into, store(), {QStringLiteral("?")});
        }
    }

    // Every key of `from` reads as in `from`, every other key of `into` as in `into`, to every
    // reader: Qt 5 as it is, and with a UTF-8 codec; Qt 6. A key no one text can serve them all
    // with stays as `into` has it.
    void mergedTextReadsAsBothStores()
    {
        QFETCH(QByteArray, into);
        QFETCH(QByteArray, from);
        QFETCH(QStringList, left);
        QStringList leftOut;
        const QByteArray merged = mergeIniText(into, from, &leftOut);
        const bool random = left == QStringList(QStringLiteral("?"));
        if (!random)
            QCOMPARE(leftOut, left);
        for ([[maybe_unused]] const bool utf8 : {false, QT_VERSION_MAJOR == 5}) {
            const auto read = [&](const QByteArray &text, QSettings::Status *status = nullptr) {
                QFile file(sandbox.filePath(QStringLiteral("merged%1.ini").arg(++reads)));
                if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
                    return QVariantMap();
                file.close();
                const auto removeFile = qScopeGuard([&] { file.remove(); });
                QSettings ini(file.fileName(), QSettings::IniFormat);
#if QT_VERSION_MAJOR == 5
                if (utf8)
                    ini.setIniCodec("UTF-8");
#endif
                QVariantMap values;
                for (const QString &key : ini.allKeys())
                    values.insert(key, ini.value(key));
                if (status)
                    *status = ini.status();
                return values;
            };
            QVariantMap expected = read(into);
            const QVariantMap carried = read(from);
            for (auto value = carried.cbegin(); value != carried.cend(); ++value)
                if (!leftOut.contains(value.key()))
                    expected.insert(value.key(), value.value());
            QCOMPARE(read(merged), expected);
            // What the program asks instead of QSettings: whether there are keys, or a format error.
            for (const QByteArray &text : {into, from, merged}) {
                QSettings::Status status = QSettings::NoError;
                const bool keys = !read(text, &status).isEmpty();
                QCOMPARE(iniKeys(text), keys                               ? IniKeys::Some
                                        : status == QSettings::FormatError ? IniKeys::Malformed
                                                                           : IniKeys::None);
            }
        }
        // Carried again: the same (where Qt 5 and Qt 6 disagree on keys, lines may move).
        if (!random)
            QCOMPARE(mergeIniText(merged, from), merged);
    }
};

QTEST_GUILESS_MAIN(TestMigration)
#include "test_migration.moc"
