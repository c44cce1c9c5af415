// Runs every end-to-end case of tests/cases/ (the README's "Tests" section describes their
// format): seeds the stores, runs the migrator and compares what it prints and what it leaves.

#include <QDataStream>
#include <QDirIterator>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <memory>

#include <sys/stat.h>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using Contents = QMap<QString, QByteArray>;  // key -> value as QDataStream writes it
using Stores = QMap<QString, Contents>;      // "organisation/store" -> its contents

struct Section {
    QString kind;  // before, file, output, after
    QString organization;
    QString name;        // store name, or file path below the settings folder
    QString attributes;  // what stands in parentheses after the name
    QString text;
};

struct Case {
    QStringList arguments;
    QStringList needs;
    QList<Section> sections;
};

#ifdef Q_OS_WIN
const bool storesAreFiles = false;
#else
const bool storesAreFiles = true;
#endif
// A migrator that reaches its stores only through QSettings can neither tell what lies behind a
// store nor remove one: it is run on the cases that need neither, and a store it emptied, or a
// folder QSettings made, counts as gone.
#ifdef STORAGE_NEUTRAL
const bool storageNeutral = true;
#else
const bool storageNeutral = false;
#endif

// Words separated by blanks; 'single quotes' keep blanks and make an empty word.
QStringList splitArguments(const QString &line)
{
    QStringList words;
    QString word;
    bool quoted = false;
    bool started = false;
    for (const QChar c : line) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            started = true;
        } else if (c == QLatin1Char(' ') && !quoted) {
            if (started)
                words << word;
            word.clear();
            started = false;
        } else {
            word += c;
            started = true;
        }
    }
    if (started)
        words << word;
    return words;
}

Case readCase(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    static const QRegularExpression header(QStringLiteral("^--- (\\w+)(?: ([^:]*))?(?:: (.*?))?(?: \\((.*)\\))?$"));
    Case result;
    Section *section = nullptr;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = header.match(line);
        if (match.hasMatch()) {
            result.sections.append({match.captured(1), match.captured(2), match.captured(3), match.captured(4), {}});
            section = &result.sections.last();
        } else if (section) {
            section->text += line + QLatin1Char('\n');
        } else if (line.startsWith(QLatin1String("run:"))) {
            result.arguments = splitArguments(line.mid(4));
        } else if (line.startsWith(QLatin1String("needs:"))) {
            result.needs = splitArguments(line.mid(6));
        }
    }
    // Blank lines before the next section only set sections apart.
    for (Section &each : result.sections)
        while (each.text.endsWith(QLatin1String("\n\n")) || each.text == QLatin1String("\n"))
            each.text.chop(1);
    return result;
}

QString systemFolder()
{
    return QFile::decodeName(qgetenv("XDG_CONFIG_DIRS"));
}

// Where a store is kept: opened there, QSettings reads that store alone.
QString storeLocation(const QString &organization, const QString &store)
{
    if (!storesAreFiles)
        return QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\") + organization + QLatin1Char('\\') + store;
    return systemFolder() + QLatin1Char('/') +
           (organization.isEmpty() ? QStringLiteral("Unknown Organization") : organization) + QLatin1Char('/') + store +
           QStringLiteral(".conf");
}

QString organizationLocation(const QString &organization)
{
    const QString store = storeLocation(organization, QString());
    return store.left(store.lastIndexOf(storesAreFiles ? QLatin1Char('/') : QLatin1Char('\\')));
}

bool organizationExists(const QString &organization)
{
    if (storesAreFiles)
        return QFileInfo::exists(organizationLocation(organization));
    return QSettings(QStringLiteral("HKEY_LOCAL_MACHINE\\Software"), QSettings::NativeFormat)
        .childGroups()
        .contains(organization, Qt::CaseInsensitive);
}

#ifdef Q_OS_WIN
// Runs tests/registry_tool; false when it fails.
bool registryTool(const QStringList &arguments, QString *output = nullptr)
{
    QProcess tool;
    tool.start(QStringLiteral(REGISTRY_TOOL), arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        qWarning("registry_tool %s: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                 tool.readAllStandardError().constData());
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    return true;
}

// The subkeys of an organisation's key as the registry names them (QSettings would list a name
// holding "/" with "\\").
QStringList registryStores(const QString &organization)
{
    QStringList names;
    HKEY key = nullptr;
    const QString path = QStringLiteral("Software\\") + organization;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t *>(path.utf16()), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names;
    std::array<wchar_t, 32768> name{};
    for (DWORD index = 0;; ++index) {
        auto size = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names << QString::fromWCharArray(name.data(), static_cast<int>(size));
    }
    RegCloseKey(key);
    return names;
}
#endif

Contents contentsOf(const QSettings &settings)
{
    Contents contents;
    for (const QString &key : settings.allKeys()) {
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream.setVersion(QDataStream::Qt_5_12);
        stream << settings.value(key);
        contents.insert(key, bytes);
    }
    return contents;
}

// Every store of the organisations a case may touch, read without opening anything that is not
// a store file (a case may leave a FIFO where a store belongs).
Stores readStores(const QStringList &organizations)
{
    Stores stores;
    for (const QString &organization : organizations) {
        QStringList names;
        if (storesAreFiles) {
            const QString folder = organizationLocation(organization);
            for (QDirIterator it(folder, {QStringLiteral("*.conf")}, QDir::Files, QDirIterator::Subdirectories);
                 it.hasNext();)
                names << it.next().mid(folder.size() + 1).chopped(5);
        } else {
#ifdef Q_OS_WIN
            names = registryStores(organization);
#endif
        }
        for (const QString &name : names) {
            const Contents contents = contentsOf(QSettings(storeLocation(organization, name), QSettings::NativeFormat));
            if (!storageNeutral || !contents.isEmpty())
                stores.insert(organization + QLatin1Char('/') + name, contents);
        }
    }
    return stores;
}

QString iniFile(const QTemporaryDir &sandbox, const QString &text)
{
    static int count = 0;
    QString path = sandbox.filePath(QStringLiteral("case%1.ini").arg(++count));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QFile::Permissions permissions(const QString &attributes)
{
    static const QRegularExpression mode(QStringLiteral("mode 0([0-7]{3})"));
    const int bits = mode.match(attributes).captured(1).toInt(nullptr, 8);
    QFile::Permissions result;
    const std::array<QFile::Permission, 9> flags{QFile::ExeOther, QFile::WriteOther, QFile::ReadOther,
                                                 QFile::ExeGroup, QFile::WriteGroup, QFile::ReadGroup,
                                                 QFile::ExeOwner, QFile::WriteOwner, QFile::ReadOwner};
    for (std::size_t bit = 0; bit < flags.size(); ++bit)
        if (bits & (1 << bit))
            result |= flags.at(bit);
    return result;
}

// A file below the settings folder, as a damaged or odd store would be.
void makeFile(const Section &section)
{
    const QString path = systemFolder() + QLatin1Char('/') + section.name;
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    if (section.attributes == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
#ifndef Q_OS_WIN
    } else if (section.attributes == QLatin1String("fifo")) {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (section.attributes == QLatin1String("dangling link")) {
        QCOMPARE(symlink("nowhere", QFile::encodeName(path).constData()), 0);
    } else if (section.attributes.startsWith(QLatin1String("hard link to "))) {
        const QString target = QFileInfo(path).path() + QLatin1Char('/') + section.attributes.mid(13);
        QCOMPARE(link(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0);
    } else if (section.attributes.startsWith(QLatin1String("link to "))) {
        QCOMPARE(symlink(QFile::encodeName(section.attributes.mid(8)).constData(), QFile::encodeName(path).constData()),
                 0);
#endif
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(section.attributes == QLatin1String("nul bytes") ? QByteArray(4096, '\0') : section.text.toUtf8());
        if (section.attributes == QLatin1String("dated in the future"))
            QVERIFY(file.flush() &&
                    file.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime));
    }
}

// Whether a case looks at the storage itself, beneath QSettings.
bool showsStorage(const Case &test)
{
    return std::any_of(test.sections.cbegin(), test.sections.cend(),
                       [](const Section &section) { return section.kind == QLatin1String("exported"); }) ||
           test.needs.contains(QStringLiteral("files")) || test.needs.contains(QStringLiteral("registry"));
}

// "(mode 0640, owner 1000:1000)": sets a store file's permission bits and, where given, owner.
bool setAccess(const QString &path, const QString &attributes)
{
    static const QRegularExpression owner(QStringLiteral("owner (\\d+):(\\d+)"));
    const QRegularExpressionMatch match = owner.match(attributes);
#ifndef Q_OS_WIN
    if (match.hasMatch() &&
        chown(QFile::encodeName(path).constData(), match.captured(1).toUInt(), match.captured(2).toUInt()) != 0)
        return false;
#endif
    return QFile::setPermissions(path, permissions(attributes));
}

// What of a file's rights the attributes name, written as they name them.
QString accessOf(const QString &path, const QString &attributes)
{
    QStringList parts;
    if (attributes.contains(QLatin1String("mode"))) {
        const QFile::Permissions bits = QFileInfo(path).permissions();
        int mode = 0;
        for (int bit = 0; bit < 9; ++bit)
            if (bits & permissions(QStringLiteral("mode 0%1").arg(1 << bit, 3, 8, QLatin1Char('0'))))
                mode |= 1 << bit;
        parts << QStringLiteral("mode 0%1").arg(mode, 3, 8, QLatin1Char('0'));
    }
    if (attributes.contains(QLatin1String("owner"))) {
        const QFileInfo file(path);
        parts << QStringLiteral("owner %1:%2").arg(file.ownerId()).arg(file.groupId());
    }
    return parts.join(QLatin1String(", "));
}

// A file system of 64 KiB mounted on the settings folder, so that a store can meet a full disk.
void *mountSmallDisk()
{
#ifdef Q_OS_WIN
    return nullptr;
#else
    const QByteArray folder = QFile::encodeName(systemFolder());
    if (!QDir().mkpath(systemFolder()) ||
        QProcess::execute(QStringLiteral("mount"),
                          {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                           QStringLiteral("size=64k"), QStringLiteral("tmpfs"), systemFolder()}) != 0)
        return nullptr;
    return new QByteArray(folder);
#endif
}

void unmountSmallDisk(void *folder)
{
    if (!folder)
        return;
    QProcess::execute(QStringLiteral("umount"), {QFile::decodeName(*static_cast<QByteArray *>(folder))});
    delete static_cast<QByteArray *>(folder);
}

// Fills the small disk until only `kib` KiB are left.
bool fillSmallDisk(int kib)
{
    QFile filler(systemFolder() + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block(1024, 'x');
    while (filler.write(block) == block.size() && filler.flush())
        ;
    filler.close();
    filler.resize(qMax<qint64>(0, filler.size() - qint64{1024} * kib));
    return true;
}

// A store as the storage keeps it: a file's bytes, or a registry key as `reg export` writes it,
// its name replaced by "<key>".
QString exported(const QTemporaryDir &sandbox, const QString &organization, const QString &store)
{
    if (storesAreFiles) {
        QFile file(storeLocation(organization, store));
        return file.open(QIODevice::ReadOnly)
                   ? QStringLiteral("[<key>]\n") + QString::fromLatin1(file.readAll().toHex())
                   : QString();
    }
    const QString file = QDir::toNativeSeparators(sandbox.filePath(QStringLiteral("export.reg")));
    const QString key = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\") + organization + QLatin1Char('\\') + store;
    QProcess::execute(QStringLiteral("reg"), {QStringLiteral("export"), key, file, QStringLiteral("/y")});
    QFile text(file);
    if (!text.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = text.readAll().mid(2);  // after the byte order mark
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2)
        .replace(key, QStringLiteral("<key>"));
}

}  // namespace

class TestCases : public QObject
{
    Q_OBJECT

private slots:
    void run_data()
    {
        QTest::addColumn<QString>("path");
        const QDir cases(QStringLiteral(CASES));
        for (const QString &name : cases.entryList({QStringLiteral("*.case")}, QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(name.chopped(5))) << cases.filePath(name);
    }

    void run()
    {
        QFETCH(QString, path);
        const Case test = readCase(path);
        if (test.needs.contains(QStringLiteral("files")) && !storesAreFiles)
            QSKIP("stores are registry keys here");
        if (test.needs.contains(QStringLiteral("registry")) && storesAreFiles)
            QSKIP("stores are files here");
        // Nor does it carry a store as it is stored, which is what an exported store shows.
        if (storageNeutral && showsStorage(test))
            QSKIP("the storage-neutral build knows nothing of the storage");
#ifndef Q_OS_WIN
        if (test.needs.contains(QStringLiteral("root")) && geteuid() != 0)
            QSKIP("only root can hand stores to other users");
#endif

        QTemporaryDir sandbox;
        QVERIFY(sandbox.isValid());
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(sandbox.filePath(QStringLiteral("system"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(sandbox.filePath(QStringLiteral("user"))));
        const std::unique_ptr<void, void (*)(void *)> smallDisk(
            test.needs.contains(QStringLiteral("small-disk")) ? mountSmallDisk() : nullptr, unmountSmallDisk);
        if (test.needs.contains(QStringLiteral("small-disk")) && !smallDisk)
            QSKIP("no file system of 64 KiB can be mounted here (needs root)");
        // Registry stores need an organisation: without one, Qt keeps none.
        QStringList organizations{test.arguments.value(0), QStringLiteral("Vantorel")};
        if (!storesAreFiles)
            organizations.removeAll(QString());
#ifdef Q_OS_WIN
        // One registry for every case: each starts without the keys of the last, whatever their
        // rights, links removed without following them.
        for (const QString &organization : organizations)
            QVERIFY(registryTool({QStringLiteral("delete"), QStringLiteral("Software\\") + organization}));
#endif

        QString expectedOutput;
        QMultiMap<QString, Section> expectedStores;  // a store may be both exported and read
        QList<Section> expectedRights;
        for (const Section &section : test.sections) {
            const QString organization = section.organization.isNull() ? organizations.first() : section.organization;
            if (section.kind == QLatin1String("before")) {
                QSettings seed(iniFile(sandbox, section.text), QSettings::IniFormat);
                seed.setIniCodec("UTF-8");  // as the case is written
                QSettings store(storeLocation(organization, section.name), QSettings::NativeFormat);
                for (const QString &key : seed.allKeys())
                    store.setValue(key, seed.value(key));
                store.sync();
                if (!section.attributes.isEmpty())
                    QVERIFY(setAccess(store.fileName(), section.attributes));
            } else if (section.kind == QLatin1String("file")) {
                makeFile(section);
            } else if (section.kind == QLatin1String("regedit")) {  // values of every registry type
                QCOMPARE(QProcess::execute(
                             QStringLiteral("reg"),
                             {QStringLiteral("import"), QDir::toNativeSeparators(iniFile(sandbox, section.text))}),
                         0);
#ifdef Q_OS_WIN
            } else if (section.kind == QLatin1String("tool")) {  // rights and links of registry keys
                for (const QString &line : section.text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                    QVERIFY(registryTool(splitArguments(line)));
            } else if (section.kind == QLatin1String("sddl")) {
                expectedRights << section;
#endif
            } else if (section.kind == QLatin1String("fill")) {  // the small disk, but for this much
                QVERIFY(fillSmallDisk(section.name.toInt()));
            } else if (section.kind == QLatin1String("output")) {
                expectedOutput = section.text;
            } else if (section.kind == QLatin1String("after") || section.kind == QLatin1String("exported")) {
                expectedStores.insert(organization + QLatin1Char('/') + section.name, section);
            }
        }
        const Stores before = readStores(organizations);
        QMap<QString, bool> existedBefore;
        for (const QString &organization : organizations)
            existedBefore[organization] = organizationExists(organization);

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (test.needs.contains(QStringLiteral("unwritable"))) {
            // No folder can be made beneath a regular file, whoever asks.
            QFile blocker(sandbox.filePath(QStringLiteral("blocker")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), blocker.fileName() + QStringLiteral("/system"));
        }
        if (test.needs.contains(QStringLiteral("debugging-shell"))) {
            // As a shell set up for debugging, or su and sudo -E from a desktop session, pass it on:
            // warnings made fatal, and a runtime folder Qt will not use as it is.
            environment.insert(QStringLiteral("QT_FATAL_WARNINGS"), QStringLiteral("1"));
            environment.insert(QStringLiteral("QT_FATAL_CRITICALS"), QStringLiteral("1"));
            QVERIFY(QDir().mkpath(sandbox.filePath(QStringLiteral("runtime"))) &&
                    QDir().mkpath(sandbox.filePath(QStringLiteral("tmp"))));
            QVERIFY(QFile::setPermissions(sandbox.filePath(QStringLiteral("runtime")),
                                          permissions(QStringLiteral("mode 0755"))));
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), sandbox.filePath(QStringLiteral("runtime")));
            environment.insert(QStringLiteral("TMPDIR"), sandbox.filePath(QStringLiteral("tmp")));
        }
        QString migrator = QStringLiteral(MIGRATOR);
        if (test.needs.contains(QStringLiteral("no-minimal-platform"))) {
            // A copy of the program whose Qt finds no platform plugin at all.
            QVERIFY(QDir().mkpath(sandbox.filePath(QStringLiteral("bin/plugins"))));
            migrator = sandbox.filePath(QStringLiteral("bin/") + QFileInfo(migrator).fileName());
            QVERIFY(QFile::copy(QStringLiteral(MIGRATOR), migrator));
            QFile conf(sandbox.filePath(QStringLiteral("bin/qt.conf")));
            QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write("[Paths]\nPlugins=plugins\n") > 0);
            environment.remove(QStringLiteral("QT_PLUGIN_PATH"));
            environment.remove(QStringLiteral("QT_QPA_PLATFORM_PLUGIN_PATH"));
        }
        QProcess program;
        program.setProcessEnvironment(environment);
#ifndef Q_OS_WIN
        if (test.needs.contains(QStringLiteral("no-reader"))) {
            // Standard output a pipe whose reader has gone, as for an installer that stopped reading.
            std::array<int, 2> ends{};
            QCOMPARE(::pipe(ends.data()), 0);
            ::close(ends[0]);
            program.start(
                QStringLiteral("/bin/sh"),
                QStringList{QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" >&%1").arg(ends[1]), migrator} +
                    test.arguments);
            ::close(ends[1]);
        } else
#endif
        {
            program.start(migrator, test.arguments);
        }
        QVERIFY2(program.waitForFinished(120000), qPrintable(program.errorString()));
        // The settings folder of this run stands as "<settings>" in a case.
        const QString output = QString::fromUtf8(program.readAllStandardOutput())
                                   .replace(QLatin1String("\r\n"), QLatin1String("\n"))
                                   .replace(systemFolder(), QStringLiteral("<settings>"));
        QVERIFY2(output == expectedOutput,
                 qPrintable(QStringLiteral("printed:\n%1-- instead of:\n%2").arg(output, expectedOutput)));
        QCOMPARE(QString::fromUtf8(program.readAllStandardError()), QString());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);

        if (test.needs.contains(QStringLiteral("debugging-shell"))) {
            QCOMPARE(QDir(sandbox.filePath(QStringLiteral("tmp"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                     QStringList());
            QCOMPARE(accessOf(sandbox.filePath(QStringLiteral("runtime")), QStringLiteral("mode")),
                     QStringLiteral("mode 0755"));
        }
        // Every store as the case expects it; every other store as it was.
        const Stores after = readStores(organizations);
        QStringList names = before.keys() + after.keys() + expectedStores.keys();
        names.removeDuplicates();
        for (const QString &name : names) {
            const bool gone = expectedStores.value(name).attributes == QLatin1String("gone");
            const bool expected = !gone && (expectedStores.contains(name) || before.contains(name));
            QVERIFY2(after.contains(name) == expected, qPrintable(name + (expected ? " is missing" : " appeared")));
            if (gone)
                continue;
            if (!expectedStores.contains(name)) {
                QVERIFY2(after.value(name) == before.value(name), qPrintable(name + " changed"));
                continue;
            }
            for (const Section &section : expectedStores.values(name)) {
                if (section.kind == QLatin1String("exported")) {       // type and bytes as the source's
                    const QString source = section.attributes.mid(3);  // "as <store>"
                    const QString wanted = exported(sandbox, organizations.first(), source);
                    QVERIFY(wanted.contains(QLatin1String("[<key>]")));
                    QCOMPARE(exported(sandbox, organizations.first(), section.name), wanted);
                    continue;
                }
                QSettings expectedText(iniFile(sandbox, section.text), QSettings::IniFormat);
                expectedText.setIniCodec("UTF-8");
                const Contents wanted = contentsOf(expectedText);
                for (const QString &key : wanted.keys() + after[name].keys())
                    QVERIFY2(after[name].value(key) == wanted.value(key),
                             qPrintable(QStringLiteral("%1: key '%2' differs").arg(name, key)));
                if (!section.attributes.isEmpty())
                    QCOMPARE(
                        accessOf(storeLocation(name.section(QLatin1Char('/'), 0, 0), section.name), section.attributes),
                        section.attributes);
            }
        }
#ifdef Q_OS_WIN
        // "--- sddl: <store> (as <other store>)": the same owner and DACL.
        for (const Section &section : expectedRights) {
            const QString key = QStringLiteral("Software\\") + organizations.first() + QLatin1Char('\\');
            QString rights;
            QString wanted;
            QVERIFY(registryTool({QStringLiteral("show-sddl"), key + section.name}, &rights));
            QVERIFY(registryTool({QStringLiteral("show-sddl"), key + section.attributes.mid(3)}, &wanted));
            QCOMPARE(rights, wanted);
        }
#endif
        // A run leaves no folder or key of its own where no store was left.
        for (const QString &organization : organizations) {
            const bool hasStores = std::any_of(after.keyBegin(), after.keyEnd(), [&](const QString &name) {
                return name.startsWith(organization + QLatin1Char('/'));
            });
            if (!existedBefore[organization] && !hasStores && !storageNeutral)
                QVERIFY2(!organizationExists(organization), qPrintable(organization + " was left behind"));
        }
    }
};

int main(int argc, char *argv[])
{
    // Values of every kind, pixmaps included, are decoded as a real application version does.
    qputenv("QT_QPA_PLATFORM", "minimal");
    const QTemporaryDir runtime;  // so that Qt GUI makes no runtime folder of its own
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QGuiApplication application(argc, argv);
    TestCases test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_cases.moc"
