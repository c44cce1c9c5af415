// The parts of the migration a run of the program cannot reach: the copy meeting stores that
// another writer has filled, and the record of unreadable values passing other messages on.

#include "migration.h"
#include "sandbox.h"

#include <iostream>
#include <sstream>

namespace {

// What a call printed on standard output.
template <typename Call> QString printed(Call call)
{
    std::ostringstream captured;
    std::streambuf *const console = std::cout.rdbuf(captured.rdbuf());
    call();
    std::cout.rdbuf(console);
    return QString::fromStdString(captured.str());
}

QVariantMap contents(const QString &store)
{
    QSettings settings(QSettings::SystemScope, QStringLiteral("Vantorel"), store);
    QVariantMap values;
    for (const QString &key : settings.allKeys())
        values.insert(key, settings.value(key));
    return values;
}

void fill(const QString &store, const QVariantMap &values)
{
    QSettings settings(QSettings::SystemScope, QStringLiteral("Vantorel"), store);
    for (auto value = values.cbegin(); value != values.cend(); ++value)
        settings.setValue(value.key(), value.value());
}

QStringList passedOn;

}  // namespace

class TestMigration : public SandboxedTest
{
    Q_OBJECT

private slots:
    void copyOverwritesSharedKeysAndKeepsTheRest_data()
    {
        QTest::addColumn<QString>("group");
        QTest::newRow("second group") << "DefaultSettingsModificationCounterSystem";
        QTest::newRow("third group") << "ForcedSettings";
    }

    void copyOverwritesSharedKeysAndKeepsTheRest()
    {
        QFETCH(QString, group);
        fill("Kelvor x64 9.0.DefaultSettings", {{"a", "1"}});
        fill("Kelvor x64 9.0." + group, {{"shared", "new"}, {"sourceOnly", "s"}});
        fill("Kelvor x64 9.1." + group, {{"shared", "old"}, {"Group/destinationOnly", "d"}});

        QCOMPARE(printed([] { copyAllSystemSettings("Vantorel", "Kelvor x64 9.0", "Kelvor x64 9.1"); }),
                 QStringLiteral("Copy All System Settings from 'Kelvor x64 9.0' to 'Kelvor x64 9.1'\n"));
        QCOMPARE(contents("Kelvor x64 9.1.DefaultSettings"), contents("Kelvor x64 9.0.DefaultSettings"));
        QCOMPARE(contents("Kelvor x64 9.1." + group),
                 (QVariantMap{{"shared", "new"}, {"sourceOnly", "s"}, {"Group/destinationOnly", "d"}}));
    }

    void copyRefusedWhenTheFirstGroupHasSettings()
    {
        fill("Kelvor x64 9.0.DefaultSettings", {{"a", "1"}});
        fill("Kelvor x64 9.0.ForcedSettings", {{"b", "2"}});
        fill("Kelvor x64 9.1.DefaultSettings", {{"mine", "3"}});

        QCOMPARE(printed([] { copyAllSystemSettings("Vantorel", "Kelvor x64 9.0", "Kelvor x64 9.1"); }),
                 QStringLiteral("Copy All System Settings from 'Kelvor x64 9.0' to 'Kelvor x64 9.1'\n"
                                "  Settings already exist for 'Kelvor x64 9.1', not copying settings\n"));
        QCOMPARE(contents("Kelvor x64 9.1.DefaultSettings"), (QVariantMap{{"mine", "3"}}));
        QCOMPARE(contents("Kelvor x64 9.1.ForcedSettings"), QVariantMap());
    }

    void unrelatedMessagesArePassedOn()
    {
        qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { passedOn.append(message); });
        watchForUnreadableValues();
        qWarning("QVariant::load: unable to load type 67.");
        qWarning("QVariant::load: unknown user type with name Gadget.");
        qWarning("something else");
        qInstallMessageHandler(nullptr);

        QCOMPARE(passedOn, QStringList{"something else"});
        QVERIFY(isUnreadable(QVariant(QMetaType::QColor, nullptr)));
        QVERIFY(isUnreadable(QVariant()));
        QVERIFY(!isUnreadable(QVariant(QStringList())));
    }
};

QTEST_GUILESS_MAIN(TestMigration)
#include "test_migration.moc"
