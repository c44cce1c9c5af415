// Runs the migrator on seeded stores and compares what it prints byte for byte, and what it
// leaves in the stores.

#include "expected.h"
#include "sandbox.h"

#include <QXmlStreamReader>

namespace {

// "store=key" gives the store the key; "store=[group]" makes it hold nothing but an empty group;
// an empty store name stands for the organisation-wide store.
void seed(const QString &organization, const QStringList &seeds)
{
    for (const QString &entry : seeds) {
        const QString store = entry.section(QLatin1Char('='), 0, 0);
        const QString key = entry.section(QLatin1Char('='), 1);
        if (key.startsWith(QLatin1Char('['))) {
            QFile file(storeFile(organization, store));
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
            file.write(key.toUtf8() + '\n');
        } else {
            QSettings(QSettings::SystemScope, organization, store).setValue(key, 1);
        }
    }
}

}  // namespace

class TestCli : public SandboxedTest
{
    Q_OBJECT

private slots:
    void output_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("seeds");
        QTest::addColumn<QString>("expected");

        const QStringList kelvor{QStringLiteral("Vantorel"), QStringLiteral("Kelvor")};
        const QString v91 = QStringLiteral("Kelvor x64 9.1");
        const QString begun = notice + started(QStringLiteral("Vantorel"), v91);
        const auto invalid = [](const QString &lines) { return lines + QLatin1Char('\n') + usage; };

        QTest::newRow("no arguments") << QStringList() << QStringList()
                                      << QStringLiteral("error, 6 arguments needed, you specified 1\n") + usage;
        QTest::newRow("seven entries") << kelvor + QStringList{"9", "1", "beta", "x"} << QStringList()
                                       << QStringLiteral("error, 6 arguments needed, you specified 7\n") + usage;
        QTest::newRow("settings exist") << kelvor + QStringList{"9", "1"}
                                        << QStringList{"Kelvor x64 9.1.DefaultSettings=k"} << begun + exist;
        QTest::newRow("one key in a subgroup of the last group")
            << kelvor + QStringList{"9", "1"} << QStringList{"Kelvor x64 9.1.ForcedSettings=a/b"} << begun + exist;
        QTest::newRow("keys only in the organisation-wide store")
            << kelvor + QStringList{"9", "1"} << QStringList{"=k"} << begun + noneFound;
        QTest::newRow("store holding only an empty group")
            << kelvor + QStringList{"9", "1"} << QStringList{"Kelvor x64 9.1.DefaultSettings=[a]"} << begun + noneFound;
        QTest::newRow("typical run") << kelvor + QStringList{"9", "1"}
                                     << QStringList{"Kelvor x64 9.0.DefaultSettings=k"}
                                     << begun + migrated(QStringLiteral("Kelvor x64 9.0"), v91);
        QTest::newRow("release names the release")
            << kelvor + QStringList{"9", "1", "release"} << QStringList() << started("Vantorel", v91) + noneFound;
        QTest::newRow("empty beta level")
            << kelvor + QStringList{"9", "1", ""} << QStringList() << started("Vantorel", v91) + noneFound;
        QTest::newRow("beta levels are case-sensitive") << kelvor + QStringList{"9", "1", "Release"} << QStringList()
                                                        << started("Vantorel", "Kelvor x64 9.1 Release") + noneFound;
        QTest::newRow("leading zero") << kelvor + QStringList{"09", "01"} << QStringList() << begun + noneFound;
        QTest::newRow("empty organisation")
            << QStringList{"", "Kelvor", "9", "1"} << QStringList{"Kelvor x64 9.0.ForcedSettings=k"}
            << notice + started("", v91) + migrated("Kelvor x64 9.0", v91);
        QTest::newRow("empty application")
            << QStringList{"Vantorel", "", "9", "1"} << QStringList{" x64 9.0.DefaultSettings=k"}
            << notice + started("Vantorel", " x64 9.1") + migrated(" x64 9.0", " x64 9.1");
        QTest::newRow("9999 accepted") << kelvor + QStringList{"9999", "9999"}
                                       << QStringList{"Kelvor x64 9999.9998.DefaultSettings=k"}
                                       << notice + started("Vantorel", "Kelvor x64 9999.9999") +
                                              migrated("Kelvor x64 9999.9998", "Kelvor x64 9999.9999");

        QTest::newRow("major 0") << kelvor + QStringList{"0", "0"} << QStringList()
                                 << notice + invalid("error: major cannot be 0. You specified: Major: 0 [Minor: 0]\n");
        QTest::newRow("not a number") << kelvor + QStringList{"abc", "1"} << QStringList()
                                      << notice +
                                             invalid("error: major cannot be 0. You specified: Major: 0 [Minor: 1]\n");
        QTest::newRow("beyond 32 bits") << kelvor + QStringList{"4294967305", "1"} << QStringList()
                                        << notice +
                                               invalid(
                                                   "error: major cannot be 0. You specified: Major: 0 [Minor: 1]\n");
        QTest::newRow("major 0, minor negative")
            << kelvor + QStringList{"0", "-1"} << QStringList()
            << notice + invalid("error: major cannot be 0. You specified: Major: 0 [Minor: -1]\n"
                                "error: major or minor cannot be < 0. You specified: Major: 0 Minor: -1\n");
        QTest::newRow("both negative")
            << kelvor + QStringList{"-2", "-3"} << QStringList()
            << notice + invalid("error: major or minor cannot be < 0. You specified: Major: -2 Minor: -3\n");
        QTest::newRow("both above 9999")
            << kelvor + QStringList{"10000", "2147483647"} << QStringList()
            << notice + invalid("error: major or minor cannot be > 9999. You specified: Major: 10000 "
                                "Minor: 2147483647\n");
        QTest::newRow("digit in beta level")
            << kelvor + QStringList{"9", "1", "beta2"} << QStringList()
            << invalid("error: betalevel must not contain a digit. You specified: 'beta2'\n");
        QTest::newRow("Arabic-Indic digit") << kelvor + QStringList{"9", "1", "beta\u0663"} << QStringList()
                                            << invalid("error: betalevel must not contain a digit. You specified: "
                                                       "'beta\u0663'\n");
        QTest::newRow("name climbing out of the settings folder")
            << QStringList{"Vantorel", "../../Kelvor", "9", "1", "beta"} << QStringList()
            << invalid("error: organization or application name cannot contain a '..' path element. You specified: "
                       "Organization: 'Vantorel' Application: '../../Kelvor'\n");
        QTest::newRow("every check fails")
            << kelvor + QStringList{"-1", "10000", "x9y"} << QStringList()
            << invalid("error: major or minor cannot be < 0. You specified: Major: -1 Minor: 10000\n"
                       "error: major or minor cannot be > 9999. You specified: Major: -1 Minor: 10000\n"
                       "error: betalevel must not contain a digit. You specified: 'x9y'\n");
    }

    void output()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, seeds);
        QFETCH(QString, expected);
        seed(arguments.value(0), seeds);
        QString out;
        runProgram(QStringLiteral(MIGRATOR), arguments, &out);
        QCOMPARE(out, expected);
    }

    void searchOrder_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QStringList>("seeded");
        QTest::addColumn<QString>("found");

        QTest::newRow("release before beta") << "9 1" << QStringList{"9.0 beta", "9.0"} << "9.0";
        QTest::newRow("beta before alpha")
            << "9 1" << QStringList{"9.0 prealpha", "9.0 alpha", "9.0 beta"} << "9.0 beta";
        QTest::newRow("alpha before prealpha") << "9 1" << QStringList{"9.0 prealpha", "9.0 alpha"} << "9.0 alpha";
        QTest::newRow("newer major first") << "9 1" << QStringList{"7.20", "8.3"} << "8.3";
        QTest::newRow("minor 0 starts at 20 below") << "9 0" << QStringList{"8.19", "8.20", "8.21"} << "8.20";
        QTest::newRow("no minor above 20 below the new major") << "9 1" << QStringList{"8.21"} << "";
        QTest::newRow("new major from just below its minor")
            << "9 30" << QStringList{"9.25", "9.29 prealpha"} << "9.29 prealpha";
        QTest::newRow("own minor never a candidate")
            << "9 1 beta" << QStringList{"9.1", "9.1 alpha", "9.0 prealpha"} << "9.0 prealpha";
        QTest::newRow("major 3 is the last searched") << "4 0" << QStringList{"2.20", "3.0 prealpha"} << "3.0 prealpha";
        QTest::newRow("majors below 3 never searched") << "3 0" << QStringList{"2.20"} << "";
        QTest::newRow("major 2 searches nothing") << "2 5" << QStringList{"2.4", "1.0"} << "";
        QTest::newRow("unlisted beta level never a candidate") << "9 1" << QStringList{"9.0 rc"} << "";
    }

    void searchOrder()
    {
        QFETCH(QString, version);
        QFETCH(QStringList, seeded);
        QFETCH(QString, found);
        for (const QString &name : seeded)
            seed(QStringLiteral("Vantorel"), {"Kelvor x64 " + name + ".DefaultSettings=k"});
        const QStringList numbers = version.split(QLatin1Char(' '));
        const QString newVersion = "Kelvor x64 " + numbers.mid(0, 2).join(QLatin1Char('.')) +
                                   (numbers.size() > 2 ? " " + numbers.at(2) : QString());

        QString out;
        runProgram(QStringLiteral(MIGRATOR), QStringList{"Vantorel", "Kelvor"} + numbers, &out);
        QCOMPARE(out, (numbers.size() > 2 ? QString() : notice) + started("Vantorel", newVersion) +
                          (found.isEmpty() ? noneFound : migrated("Kelvor x64 " + found, newVersion)));
    }

    void typicalRunCopiesEveryKey()
    {
        {
            QSettings defaults(QSettings::SystemScope, "Vantorel", "Kelvor x64 9.0.DefaultSettings");
            defaults.setValue("Window/Geometry/Size", QSize(800, 600));
            defaults.setValue("recent", QStringList{"a, b", "\u00e4"});
            defaults.setValue("level", 3);
            QSettings(QSettings::SystemScope, "Vantorel", "Kelvor x64 9.0.DefaultSettingsModificationCounterSystem")
                .setValue("counter", 7);
        }
        QString out;
        runProgram(QStringLiteral(MIGRATOR), {"Vantorel", "Kelvor", "9", "1"}, &out);
        QCOMPARE(out, notice + started("Vantorel", "Kelvor x64 9.1") + migrated("Kelvor x64 9.0", "Kelvor x64 9.1"));

        // Every key, value and type arrives as stored: the new stores hold the very same bytes.
        for (const QString group : {"DefaultSettings", "DefaultSettingsModificationCounterSystem"}) {
            QFile from(storeFile("Vantorel", "Kelvor x64 9.0." + group));
            QFile to(storeFile("Vantorel", "Kelvor x64 9.1." + group));
            QVERIFY(from.open(QIODevice::ReadOnly) && to.open(QIODevice::ReadOnly));
            QCOMPARE(to.readAll(), from.readAll());
        }
        QVERIFY(!QFile::exists(storeFile("Vantorel", "Kelvor x64 9.1.ForcedSettings")));
    }

    void unwritableDestinationIsReported()
    {
        seed("Vantorel", {"Kelvor x64 9.0.DefaultSettings=a", "Kelvor x64 9.0.ForcedSettings=b"});
        // A folder where the store's file belongs cannot be written, not even by root.
        QVERIFY(QDir().mkpath(storeFile("Vantorel", "Kelvor x64 9.1.DefaultSettings")));
        QString out;
        runProgram(QStringLiteral(MIGRATOR), {"Vantorel", "Kelvor", "9", "1"}, &out);
        QCOMPARE(out, notice + started("Vantorel", "Kelvor x64 9.1") + migrated("Kelvor x64 9.0", "Kelvor x64 9.1") +
                          "error: could not write settings to 'Kelvor x64 9.1.DefaultSettings'\n");
        QCOMPARE(QSettings(QSettings::SystemScope, "Vantorel", "Kelvor x64 9.1.ForcedSettings").value("b"),
                 QVariant("1"));
    }

    void silentWithoutWriteAccess_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        QTest::newRow("five entries") << QStringList{"Vantorel", "Kelvor", "9", "1"} << notice;
        QTest::newRow("six entries") << QStringList{"ExampleOrg", "Kelvor", "9", "1", "beta"} << QString();
    }

    void silentWithoutWriteAccess()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        // No folder can be made beneath a regular file, whoever asks.
        QFile blocker(sandbox->filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_DIRS", blocker.fileName() + "/system");
        QString out;
        runProgram(QStringLiteral(MIGRATOR), arguments, &out, environment);
        QCOMPARE(out, expected);
    }

    void valuesArriveIntact_data()
    {
        QTest::addColumn<QString>("kinds");
        QTest::addColumn<QString>("errors");
        QTest::newRow("Qt value types") << "qt" << QString();
        const QString error = QStringLiteral(
            "error: not copying '%1' of 'Kelvor x64 9.0.DefaultSettings': its value cannot be read by this program\n");
        QTest::newRow("application type and pixmap")
            << "all" << error.arg("custom") + error.arg("emptyList") + error.arg("pixmap");
    }

    void valuesArriveIntact()
    {
        QFETCH(QString, kinds);
        QFETCH(QString, errors);
        QString out;
        runProgram(QStringLiteral(FIXTURE_APP), {"write", "Vantorel", "Kelvor x64 9.0.DefaultSettings", kinds}, &out);
        runProgram(QStringLiteral(MIGRATOR), {"Vantorel", "Kelvor", "9", "1"}, &out);
        QCOMPARE(out, notice + started("Vantorel", "Kelvor x64 9.1") + migrated("Kelvor x64 9.0", "Kelvor x64 9.1") +
                          errors);
        runProgram(QStringLiteral(FIXTURE_APP), {"check", "Vantorel", "Kelvor x64 9.1.DefaultSettings", kinds}, &out);
        QCOMPARE(out, QString());
    }

    void windowsManifestAsksForInvokerRights()
    {
        QFile manifest(QStringLiteral(MANIFEST));
        QVERIFY(manifest.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&manifest);
        QStringList levels;
        while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
            if (xml.isStartElement() && xml.name() == QLatin1String("requestedExecutionLevel") &&
                xml.namespaceUri() == QLatin1String("urn:schemas-microsoft-com:asm.v3"))
                levels << xml.attributes().value("level").toString() + ' ' +
                              xml.attributes().value("uiAccess").toString();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(levels, QStringList{"asInvoker false"});
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
