// Faults around a migration: the process killed at any moment, two migrations of the same version
// at once, and a previous version whose store holds binary garbage.

#include "sandbox.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

namespace {

const QStringList groups{"DefaultSettings", "DefaultSettingsModificationCounterSystem", "ForcedSettings"};
const QStringList arguments{"Vantorel", "Kelvor", "9", "1"};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Removes every file the new version's stores left, lock and temporary files included.
void removeNewVersion()
{
    const QString folder = QFileInfo(storeFile("Vantorel", "x")).path();
    for (QDirIterator it(folder, {"Kelvor x64 9.1*"}, QDir::Files | QDir::Hidden); it.hasNext();)
        QVERIFY(QFile::remove(it.next()));
}

}  // namespace

class TestFaults : public SandboxedTest
{
    Q_OBJECT

private slots:
    void killedOrConcurrentMigrationsLoseNothing()
    {
        for (const QString &group : groups) {
            QSettings store(QSettings::SystemScope, "Vantorel", "Kelvor x64 9.0." + group);
            for (int key = 0; key < 20000; ++key)
                store.setValue(QStringLiteral("Section%1/key%2").arg(key % 97).arg(key),
                               QStringLiteral("value %1 = \u00e9").arg(key));
        }
        // A whole store is its source's bytes; anything else was cut short or mangled.
        const auto checkStores = [](bool mayBeAbsent) {
            for (const QString &group : groups) {
                const QString to = storeFile("Vantorel", "Kelvor x64 9.1." + group);
                if (!mayBeAbsent || QFile::exists(to))
                    QVERIFY2(contents(to) == contents(storeFile("Vantorel", "Kelvor x64 9.0." + group)),
                             qPrintable(to));
            }
        };

        QElapsedTimer clock;
        clock.start();
        QString out;
        runProgram(QStringLiteral(MIGRATOR), arguments, &out);
        const int duration = static_cast<int>(clock.elapsed()) + 1;
        checkStores(false);

        QRandomGenerator random(20261206);
        for (int kill = 0; kill < 40; ++kill) {
            removeNewVersion();
            QProcess process;
            process.start(QStringLiteral(MIGRATOR), arguments);
            QVERIFY(process.waitForStarted());
            QThread::msleep(random.bounded(duration));
            process.kill();
            QVERIFY(process.waitForFinished());
            checkStores(true);
        }

        for (int race = 0; race < 15; ++race) {
            removeNewVersion();
            QProcess first;
            QProcess second;
            first.start(QStringLiteral(MIGRATOR), arguments);
            second.start(QStringLiteral(MIGRATOR), arguments);
            finish(first, &out);
            finish(second, &out);
            checkStores(false);
        }
    }

    void garbageSourceIsCopiedAsParsed()
    {
        QRandomGenerator random(20261206);
        const QByteArray alphabet("[]=@\\/\"%,;# \n\r\tabcxyzABC019()\x01\xff\xc3\xa9");
        for (int round = 0; round < 30; ++round) {
            const QString from = storeFile("Vantorel", "Kelvor x64 9.0.DefaultSettings");
            QVERIFY(QDir().mkpath(QFileInfo(from).path()));
            QByteArray garbage;
            for (int i = 0; i < 4096; ++i)
                garbage += random.bounded(4) ? alphabet.at(random.bounded(alphabet.size())) : char(random.bounded(256));
            QFile file(from);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(garbage) == garbage.size());
            file.close();

            QString out;
            runProgram(QStringLiteral(MIGRATOR), arguments, &out);
            // Every key Qt could parse arrives, under the name QSettings gives it on every access
            // (no empty path elements), unless it was reported as unreadable.
            const QRegularExpression reported("error: not copying '(.*?)' of 'Kelvor x64 9.0.DefaultSettings': its "
                                              "value cannot be read by this program\n",
                                              QRegularExpression::DotMatchesEverythingOption);
            QStringList unreadable;
            for (auto match = reported.globalMatch(out); match.hasNext();)
                unreadable << match.next().captured(1);
            QSettings source(QSettings::SystemScope, "Vantorel", "Kelvor x64 9.0.DefaultSettings");
            QSettings copy(QSettings::SystemScope, "Vantorel", "Kelvor x64 9.1.DefaultSettings");
            QVariantMap expected;
            for (const QString &key : source.allKeys()) {
                QStringList path = key.split('/');
                path.removeAll(QString());
                if (!unreadable.contains(key))
                    expected[path.join('/')] = source.value(key);
            }
            QVariantMap copied;
            for (const QString &key : copy.allKeys())
                copied[key] = copy.value(key);
            QCOMPARE(copied, expected);

            QVERIFY(QDir(QFileInfo(from).path()).removeRecursively());
        }
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "test_faults.moc"
