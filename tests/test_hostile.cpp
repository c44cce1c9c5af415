// Runs the migrator with thousands of hostile argument vectors, drawn with a fixed seed, and checks
// that each ends normally with status 0, prints exactly what its arguments call for, writes nothing
// on standard error and touches no store outside the settings folder.

#include "expected.h"
#include "sandbox.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <deque>
#include <memory>

namespace {

const QString longLatin(100000, QLatin1Char('x'));
const QString longDigits(100000, QLatin1Char('1'));
// Beyond the BMP; Linux takes at most 128 KiB in one argument.
const QString longWide = QString::fromUtf8("\xF0\x9F\x98\x80").repeated(30000);

const QStringList names{"Vantorel",
                        "Kelvor",
                        "",
                        " ",
                        " padded ",
                        "\u00dcn\u00efc\u00f8d\u00e9",
                        "\u65e5\u672c\u8a9e",
                        "\U0001F600",
                        "a/b",
                        "/absolute",
                        "a\\b",
                        "..",
                        "../..",
                        "x/../..",
                        "..\\..",
                        "...",
                        "a..b",
                        "..hidden",
                        "tab\there",
                        "new\nline",
                        "[General]",
                        "=",
                        "%41",
                        longLatin,
                        longWide};
// Valid majors stay at 3 and below: every major searched costs 252 store probes, and with a
// name of 100 000 characters each probe takes a millisecond.
const QStringList numbers{"0",      "1",      "2",           "3",          "03",          "+3",         " 3",
                          "3 ",     "-0",     "-1",          "0x10",       "1e3",         "9.1",        "\u0663",
                          "\u096B", "\uFF11", "99999999999", "2147483647", "-2147483648", "2147483648", "10000",
                          "",       " ",      "abc",         longDigits,   "\U0001F600"};
const QStringList betas{
    "",           "release", "Release", "beta", "rc",     "beta2",     "b\u0663eta",
    "\U0001F600", " ",       longLatin, "1",    "x/../y", "\U0001D7D9" /* a digit beyond the BMP: not a QChar digit */};

// The output the rules call for, in a settings folder that holds no settings.
QString expectedOutput(const QStringList &fields)
{
    if (fields.size() != 4 && fields.size() != 5)
        return QStringLiteral("error, 6 arguments needed, you specified %1\n").arg(fields.size() + 1) + usage;
    const QString &organization = fields.at(0);
    const QString &application = fields.at(1);
    const int major = fields.at(2).toInt();
    const int minor = fields.at(3).toInt();
    const QString beta = fields.value(4);

    QString out = fields.size() == 4 ? notice : QString();
    QString errors;
    const QString specified = QStringLiteral("Major: %1 Minor: %2").arg(major).arg(minor);
    if (major == 0)
        errors +=
            QStringLiteral("error: major cannot be 0. You specified: Major: %1 [Minor: %2]\n").arg(major).arg(minor);
    if (major < 0 || minor < 0)
        errors += "error: major or minor cannot be < 0. You specified: " + specified + '\n';
    if (major > 9999 || minor > 9999)
        errors += "error: major or minor cannot be > 9999. You specified: " + specified + '\n';
    if (std::any_of(beta.cbegin(), beta.cend(), [](QChar c) { return c.isDigit(); }))
        errors += "error: betalevel must not contain a digit. You specified: '" + beta + "'\n";
    const QRegularExpression parentFolder(QStringLiteral("(^|[/\\\\])\\.\\.([/\\\\]|$)"));
    if (organization.contains(parentFolder) || application.contains(parentFolder))
        errors += "error: organization or application name cannot contain a '..' path element. You specified: "
                  "Organization: '" +
                  organization + "' Application: '" + application + "'\n";
    if (!errors.isEmpty())
        return out + errors + '\n' + usage;

    const QString suffix = beta.isEmpty() || beta == QLatin1String("release") ? QString() : ' ' + beta;
    return out + started(organization, QStringLiteral("%1 x64 %2.%3").arg(application).arg(major).arg(minor) + suffix) +
           noneFound;
}

QMap<QString, QByteArray> filesBeneath(const QString &folder)
{
    QMap<QString, QByteArray> files;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        files[file.fileName()] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    }
    return files;
}

}  // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void argumentVectors()
    {
        // The settings folder lies deep in the sandbox; a name that climbs out of it would find the
        // previous version's bait stores and write the new version's stores beside them.
        QTemporaryDir sandbox;
        const QString system = sandbox.filePath(QStringLiteral("d1/d2/d3/system"));
        QVERIFY(QDir().mkpath(system));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), system);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), sandbox.filePath(QStringLiteral("user")));
        for (const char *bait :
             {"d1/d2/d3/Kelvor x64 9.0.DefaultSettings.conf", "d1/d2/Kelvor x64 9.0.DefaultSettings.conf",
              "d1/d2/x/Kelvor x64 9.0.DefaultSettings.conf", "d1/Kelvor x64 9.0.DefaultSettings.conf"}) {
            QVERIFY(QDir().mkpath(QFileInfo(sandbox.filePath(bait)).path()));
            QFile file(sandbox.filePath(bait));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[General]\nbait=1\n") > 0);
        }
        const QMap<QString, QByteArray> before = filesBeneath(sandbox.path());

        // First the vectors aimed at those stores, then random ones.
        QList<QStringList> vectors{{"..", "Kelvor", "9", "1"},          {"../..", "Kelvor", "9", "1"},
                                   {"Vantorel", "../Kelvor", "9", "1"}, {"x/../..", "Kelvor", "9", "1", "beta"},
                                   {"..\\..", "Kelvor", "9", "1"},      {"Vantorel", "../../x/Kelvor", "9", "1"}};
        QRandomGenerator random(20261206);
        const auto pick = [&random](const QStringList &list) { return list.at(random.bounded(list.size())); };
        while (vectors.size() < 2000) {
            const int count = random.bounded(10) < 7 ? 4 + random.bounded(2) : random.bounded(8);
            QStringList fields;
            for (int i = 0; i < count; ++i)
                fields << pick(i < 2 ? names : i < 4 ? numbers : betas);
            vectors << fields;
        }

        // One run per core at a time.
        std::deque<std::pair<QStringList, std::unique_ptr<QProcess>>> running;
        const auto finishOldest = [&running] {
            QString out;
            finish(*running.front().second, &out);
            const QStringList &fields = running.front().first;
            if (QTest::currentTestFailed() || out != expectedOutput(fields))
                QFAIL(qPrintable("arguments: " + fields.join(QLatin1Char('|')).left(300) +
                                 "\nprinted: " + out.left(600)));
            running.pop_front();
        };
        for (const QStringList &fields : vectors) {
            if (running.size() == static_cast<size_t>(QThread::idealThreadCount()))
                finishOldest();
            running.emplace_back(fields, std::make_unique<QProcess>());
            running.back().second->setProcessEnvironment(environment);
            running.back().second->start(QStringLiteral(MIGRATOR), fields);
        }
        while (!running.empty())
            finishOldest();
        QCOMPARE(filesBeneath(sandbox.path()), before);
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "test_hostile.moc"
