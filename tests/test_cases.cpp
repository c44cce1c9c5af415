// Runs one end-to-end case, `test_cases <name>.case` or `test_cases <name>.table <row>`: seeds the
// stores, runs the migrator, compares what it prints and what it leaves. Exits 77 (CTest's skip
// code here) where the case cannot run. docs/testing.md ("End-to-end cases") describes the format.

#include <QCryptographicHash>
#include <QDirIterator>
#include <QGuiApplication>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

long registryCommand(const QStringList &words);  // on Windows

namespace {

using Contents = QMap<QString, QByteArray>;  // key -> value as QDataStream writes it
using Stores = QMap<QString, Contents>;      // "organisation/store" -> its contents
struct Section {
    QString kind, organization, name, attributes, text;
};

const bool files = QSysInfo::productType() != "windows";  // or registry keys
// A migrator that reaches its stores only through QSettings cannot tell what lies behind one, nor
// remove one: it runs the cases that need neither, and a store it emptied counts as gone.
const bool neutral = STORAGE_NEUTRAL;
const QString own = "Vantorel", records = own + "/SettingsMigrator unfinished ";
const QString notice = "only 5 arguments specified, betalevel is therefore set to release i.e. '' ";
const QString usage =
    R"(Usage: VantorelSettingsMigrator <OrganizationName> <ApplicationName> <ApplicationVersionMajor> <ApplicationVersionMinor>

  VantorelSettingsMigrator - migrates settings from previous Vantorel Application versions

  Specify an application name, major, minor version, and beta level.
  This program will then look for previous versions and copy the 
  settings from the first found version.
  beta level can be e.g. prealpha, alpha, beta, release and must not contain a number.
  The settings copied are:
    <ApplicationName> <ApplicationVersionMajor>.<ApplicationVersionMinor>.DefaultSettings
    <ApplicationName> <ApplicationVersionMajor>.<ApplicationVersionMinor>.DefaultSettingsModificationCounterSystem
    <ApplicationName> <ApplicationVersionMajor>.<ApplicationVersionMinor>.ForcedSettings


Example: VantorelSettingsMigrator Vantorel Kelvor 9 0 beta)";
const QRegularExpression found("^<found (.*)>$");

QStringList arguments{"Vantorel", "Kelvor", "9", "1"}, needs, environment, output;  // unless the case says
int umaskOfRun = 022;
QList<Section> sections;
QString sandbox, settings;  // the case's own folder; the settings folder in it

// Words separated by blanks; 'single quotes' keep blanks and make an empty word.
QStringList words(const QString &line)
{
    QStringList words;
    for (auto word = QRegularExpression("'([^']*)'|([^ ]+)").globalMatch(line); word.hasNext();) {
        const QRegularExpressionMatch match = word.next();
        words << (match.captured(0).startsWith('\'') ? match.captured(1) : match.captured(2));
    }
    return words;
}

QString newVersion()
{
    const QString beta = arguments.value(4);
    return arguments.value(1) + " x64 " + QString::number(arguments.value(2).toInt()) + '.' +
           QString::number(arguments.value(3).toInt()) + (beta.isEmpty() || beta == "release" ? "" : " " + beta);
}

// The store of the unfinished migration to `version`, named as the program names it.
QString recordName(const QString &version)
{
    const QString names = arguments.value(0) + QChar(0) + version;
    return "SettingsMigrator unfinished " +
           QCryptographicHash::hash((files ? names : names.toLower()).toUtf8(), QCryptographicHash::Sha256)
               .toHex()
               .left(32);
}

// A table's row, written out as a case.
QString tableRow(const QString &table, const QString &row)
{
    for (const QString &line : table.split('\n')) {
        const QStringList cells = line.split('|');
        if (cells.size() != 4 || line.startsWith('#') || cells.at(0).trimmed() != row)
            continue;
        QString text = "run: " + cells.at(1) + '\n' + cells.at(3).trimmed().replace("\\n", "\n") + '\n';
        for (const QString &version : cells.at(2).trimmed().split(QRegularExpression(" *, *"), Qt::SkipEmptyParts))
            text += QString("--- before: %1 x64 %2.DefaultSettings\n").arg(words(cells.at(1)).value(1), version);
        const QRegularExpressionMatch previous = QRegularExpression("<found (.*?)>").match(cells.at(3));
        if (previous.hasMatch())
            text += QString("--- after: <new>.DefaultSettings (as %1.DefaultSettings)\n").arg(previous.captured(1));
        return text;
    }
    qFatal("no row %s", qPrintable(row));
}

void readCase(const QString &text)
{
    static const QRegularExpression header("^--- (before|after|file|regedit|setup|check|exported|"
                                           "beside the program)"
                                           "(?: ([^:]*))?(?:: (.*?))?(?: \\((.*)\\))?$");
    for (const QString &line : text.split('\n')) {
        const QRegularExpressionMatch match = header.match(line);
        if (match.hasMatch())
            sections.append({match.captured(1), match.captured(2), match.captured(3), match.captured(4), {}});
        else if (!sections.isEmpty())
            sections.last().text += line + '\n';
        else if (line.startsWith("run:"))
            arguments = words(line.mid(4));
        else if (line.startsWith("needs:"))
            needs = words(line.mid(6));
        else if (line.startsWith("env:"))
            environment = words(line.mid(4));
        else if (line.startsWith("umask:"))
            umaskOfRun = line.mid(6).trimmed().toInt(nullptr, 8);
        else if (!line.startsWith('#') && (!line.isEmpty() || !output.isEmpty()))
            output << line;
    }
    for (Section &each : sections) {  // blank lines before the next section only set sections apart
        while (each.text.endsWith("\n\n") || each.text == "\n")
            each.text.chop(1);
        each.text.replace("<record>", recordName(newVersion()));
        each.name.replace("<new>", newVersion());
        const QRegularExpressionMatch record = QRegularExpression("^<record(?: of (.+))?>$").match(each.name);
        if (!record.hasMatch())
            continue;
        each.organization = own;
        each.name = recordName(record.captured(1).isNull() ? newVersion() : record.captured(1));
    }
    output.replaceInStrings("<record>", recordName(newVersion()));
    output.replaceInStrings("<lock wait>", QString::number(LOCK_WAIT_SECONDS));
}

// What the run must print: the case's lines, placeholders written out, after the opening lines
// unless they begin with what comes before those.
QString expectedOutput()
{
    while (!output.isEmpty() && output.last().isEmpty())
        output.removeLast();
    if (!output.isEmpty() && !output.first().contains(QRegularExpression("^(<start>|<notice>|<usage>|error)")))
        output.prepend("<start>");
    const QString version = newVersion(), search = "Check if a previous version exists...";
    QStringList lines;
    for (const QString &line : qAsConst(output)) {
        const QRegularExpressionMatch previous = found.match(line);
        if (line == "<start>")
            lines << (arguments.size() == 4 ? QStringList{notice} : QStringList{}) << ""
                  << QString("Migrating Settings for '%1 %2'").arg(arguments.value(0), version)
                  << QString("Check if settings already exist for '%1'").arg(version);
        else if (previous.hasMatch())
            lines << search << "  PreviousApplicationName = " + previous.captured(1)
                  << QString("Copy All System Settings from '%1' to '%2'").arg(previous.captured(1), version);
        else if (line == "<none found>")
            lines << search << "Not migrating preferences because no previous version has been found.";
        else
            lines << (line == "<usage>" ? usage : line == "<notice>" ? notice : line);
    }
    return lines.isEmpty() ? QString() : lines.join('\n') + '\n';
}

// The lines of a setup or check section: on Windows each a registry command
// (registry_commands_win.cpp), elsewhere a shell script run in the settings folder. Each must succeed.
void runCommands(const QString &text)
{
#ifdef Q_OS_WIN
    for (const QString &line : text.split('\n', Qt::SkipEmptyParts)) {
        const long result = registryCommand(words(line));
        QVERIFY2(result == 0, qPrintable(QString("%1: error %2").arg(line).arg(result)));
    }
#else
    QProcess shell;
    shell.setWorkingDirectory(settings);
    shell.start("sh", {"-exc", text});  // on failure, each command as it ran
    QVERIFY2(shell.waitForFinished() && shell.exitCode() == 0, qPrintable(text + shell.readAllStandardError()));
#endif
}

// Where a store is kept: opened there, QSettings reads that store alone.
QString location(const QString &organization, const QString &store = QString())
{
    if (!files)
        return "HKEY_LOCAL_MACHINE\\Software\\" + organization + (store.isNull() ? "" : "\\" + store);
    return settings + '/' + (organization.isEmpty() ? "Unknown Organization" : organization) +
           (store.isNull() ? "" : '/' + store + ".conf");
}

// The stores of an organisation by name (the registry's names: QSettings lists a "/" in one as "\").
QStringList storeNames(const QString &organization)
{
    if (!files) {
        QStringList names = QSettings(location(organization), QSettings::NativeFormat).childGroups();
#ifdef Q_OS_WIN
        // A store key that is a link is not read: Qt would create the key it leads to.
        names.erase(
            std::remove_if(names.begin(), names.end(),
                           [&](const auto &name) {
                               return registryCommand({"is-link", "Software\\" + organization + '\\' + name}) == 0;
                           }),
            names.end());
#endif
        return names.replaceInStrings("\\", "/");
    }
    QStringList names;
    for (QDirIterator it(location(organization), {"*.conf"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        names << it.next().mid(location(organization).size() + 1).chopped(5);
    return names;
}

bool exists(const QString &organization)
{
    return files ? QFileInfo::exists(location(organization))
                 : QSettings("HKEY_LOCAL_MACHINE\\Software", QSettings::NativeFormat)
                       .childGroups()
                       .contains(organization, Qt::CaseInsensitive);
}

// A store's keys and values, copied into `copy` where given.
Contents contentsOf(const QSettings &store, QSettings *copy = nullptr)
{
    Contents contents;
    for (const QString &key : store.allKeys()) {
        if (copy)
            copy->setValue(key, store.value(key));
        QDataStream stream(&contents[key], QIODevice::WriteOnly);
        stream.setVersion(QDataStream::Qt_5_12);
        stream << store.value(key);
    }
    return contents;
}

QString writeFile(const QString &name, const QString &text)
{
    QFile file(sandbox + '/' + name);
    if (!QDir().mkpath(QFileInfo(file).path()) || !file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

Contents contentsOf(const QString &iniText, QSettings *copy = nullptr)
{
    static int count = 0;
    QSettings ini(writeFile(QString("case%1.ini").arg(++count), iniText), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    ini.setIniCodec("UTF-8");  // as the case is written
#endif
    return contentsOf(ini, copy);
}

// Every store of the organisations a case may touch, read without opening anything that is not
// a store file (a case may leave a FIFO where a store belongs).
Stores readStores(const QStringList &organizations)
{
    Stores stores;
    for (const QString &organization : organizations)
        for (const QString &name : storeNames(organization)) {
            const Contents contents = contentsOf(QSettings(location(organization, name), QSettings::NativeFormat));
            if (!neutral || !contents.isEmpty())
                stores.insert(organization + '/' + name, contents);
        }
    return stores;
}

// A store as the storage keeps it: a file's bytes, or a registry key as `reg export` writes it,
// its name replaced by "<key>".
QString exported(const QString &organization, const QString &store)
{
    QFile file(files ? location(organization, store) : sandbox + "/export.reg");
    if (files)
        return file.open(QIODevice::ReadOnly) ? "[<key>]\n" + QString::fromLatin1(file.readAll().toHex()) : QString();
    QProcess::execute("reg",
                      {"export", location(organization, store), QDir::toNativeSeparators(file.fileName()), "/y"});
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll().mid(2);  // after the byte order mark
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2)
        .replace(location(organization, store), "<key>");
}

// Why the case cannot run here, or nothing.
QString whyNotHere()
{
    if (needs.contains("neutral") && !neutral)
        return "only the storage-neutral build decodes values to copy them";
    if (needs.contains(files ? "registry" : "files"))
        return files ? "stores are files here" : "stores are registry keys here";
    // Nor does the storage-neutral build carry a store as it is stored, which "exported" shows.
    if (neutral && (needs.contains("files") || needs.contains("registry") ||
                    std::any_of(sections.cbegin(), sections.cend(), [](auto &s) { return s.kind == "exported"; })))
        return "the storage-neutral build knows nothing of the storage";
#ifndef Q_OS_WIN
    if (needs.contains("root") && geteuid() != 0)
        return "only root can hand stores to other users";
    if (needs.contains("small-disk") &&
        QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", settings}) != 0)
        return "no file system of 64 KiB can be mounted here";
#endif
    return {};
}

// Seeds the stores and files the case names; what it expects of a store, by its full name.
void seed(QString &program, QMultiMap<QString, Section> &expected)
{
    for (const Section &section : qAsConst(sections)) {
        const QString organization = section.organization.isNull() ? arguments.value(0) : section.organization;
        if (section.kind == "before") {
            QSettings store(location(organization, section.name), QSettings::NativeFormat);
            // A store the case gives no keys holds one naming it, so that no two are alike.
            contentsOf(section.text.isEmpty() ? "origin=" + section.name : section.text, &store);
            store.sync();
        } else if (section.kind == "file" && section.attributes == "held") {  // by a live writer: this runner
            static QLockFile held(QDir(settings).filePath(section.name));
            QVERIFY(held.tryLock());
        } else if (section.kind == "file") {
            writeFile("system/" + section.name, section.text);
        } else if (section.kind == "regedit") {  // values of every registry type
            const QString file = QDir::toNativeSeparators(writeFile("import.reg", section.text));
            QCOMPARE(QProcess::execute("reg", {"import", file}), 0);
        } else if (section.kind == "setup") {
            runCommands(section.text);
        } else if (section.kind == "beside the program") {
            program = sandbox + "/bin/" + QFileInfo(program).fileName();
            writeFile("bin/" + section.name, section.text);
            QVERIFY(QFile::copy(MIGRATOR, program));
        } else if (section.kind != "check") {
            expected.insert(organization + '/' + section.name, section);  // a store may be both exported and read
        }
    }
}

// Runs the program as the case says; what it prints, with the settings folder as "<settings>".
QString runProgram(const QString &program)
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert("TMPDIR", sandbox + "/tmp");
    variables.insert("XDG_RUNTIME_DIR", sandbox + "/runtime");
    for (const QString &setting : qAsConst(environment)) {
        const QString name = setting.section('=', 0, 0),
                      value = setting.section('=', 1).replace("<settings>", settings);
        if (value.isEmpty())
            variables.remove(name);
        else
            variables.insert(name, value);
    }
    QProcess migrator;
    migrator.setProcessEnvironment(variables);
#ifdef Q_OS_WIN
    migrator.start(program, arguments);
#else
    // Under an installer's umask; with `no-reader`, standard output a pipe whose reader has gone.
    std::array<int, 2> ends{};
    if (::pipe(ends.data()) == 0)
        ::close(ends[0]);
    const QString script = QString(R"(umask %1; exec "$0" "$@")").arg(umaskOfRun, 3, 8, QChar('0'));
    migrator.start(
        "sh", QStringList{"-c", script + (needs.contains("no-reader") ? QString(" >&%1").arg(ends[1]) : ""), program} +
                  arguments);
    ::close(ends[1]);
#endif
    if (!migrator.waitForFinished(60000))
        return "did not finish: " + migrator.errorString();
    const QString error = QString::fromUtf8(migrator.readAllStandardError());
    if (!error.isEmpty() || migrator.exitStatus() != QProcess::NormalExit || migrator.exitCode() != 0)
        return QString("ended with status %1, standard error: %2").arg(migrator.exitCode()).arg(error);
    return QString::fromUtf8(migrator.readAllStandardOutput()).replace("\r\n", "\n").replace(settings, "<settings>");
}

// The files below the settings folder, stores or not.
QStringList filesOf(const QString &folder)
{
    QStringList paths;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
         it.hasNext();)
        paths << it.next();
    return paths;
}

// Compares a store with what the case expects of it, or with itself before the run.
void compareStore(const QString &name, const QList<Section> &wanted, const Stores &before, const Stores &after)
{
    const bool gone = !wanted.isEmpty() && wanted.first().attributes == "gone";
    const bool present = !gone && (!wanted.isEmpty() || before.contains(name));
    QVERIFY2(after.contains(name) == present, qPrintable(name + (present ? " is missing" : " appeared")));
    if (wanted.isEmpty())
        QVERIFY2(after.value(name) == before.value(name), qPrintable(name + " changed"));
    for (const Section &section : gone ? QList<Section>() : wanted) {
        const QString organization = name.section('/', 0, 0), source = section.attributes.section("as ", 1);
        if (section.kind == "exported") {  // type and bytes as the source's
            QVERIFY(exported(organization, source).contains("[<key>]"));
            QCOMPARE(exported(organization, section.name), exported(organization, source));
            continue;
        }
        const Contents keys = source.isEmpty() ? contentsOf(section.text) : before.value(organization + '/' + source);
        // Of a record, only the keys the case names.
        for (const QString &key : keys.keys() + (name.startsWith(records) ? QStringList() : after[name].keys()))
            QVERIFY2(after[name].value(key) == keys.value(key), qPrintable(name + ": key '" + key + "' differs"));
    }
}

}  // namespace

class TestCase : public QObject
{
    Q_OBJECT

private slots:
    void run()
    {
        // Registry stores need an organisation: without one, Qt keeps none.
        QStringList organizations{arguments.value(0), own};
        if (!files)
            organizations.removeAll(QString());
#ifdef Q_OS_WIN
        // One registry for every case: each starts without the keys of the last, whatever their
        // rights, and links go without what they lead to.
        for (const QString &organization : organizations)
            runCommands("delete 'Software\\" + organization + "'");
#endif
        QString program = MIGRATOR;
        QMultiMap<QString, Section> expected;
        seed(program, expected);
        const Stores before = readStores(organizations);
        const QStringList filesBefore = filesOf(settings);
        QMap<QString, bool> existedBefore;
        for (const QString &organization : organizations)
            existedBefore[organization] = exists(organization);

        const QString printed = runProgram(program), wanted = expectedOutput();
        QVERIFY2(printed == wanted, qPrintable(QString("printed:\n%1-- instead of:\n%2").arg(printed, wanted)));
#ifndef Q_OS_WIN
        QCOMPARE(QDir(sandbox + "/tmp").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        // 0755 still: Qt's GUI would narrow it to 0700 were the program to make it its own.
        QCOMPARE(int(QFile::permissions(sandbox + "/runtime") & 0x7077), 0x7055);
#endif
        // No temporary file of a writer (the program's, or Qt's) is left beside a store.
        for (const QString &file : filesOf(settings))
            QVERIFY2(filesBefore.contains(file) ||
                         !file.contains(QRegularExpression("\\.conf\\.(SettingsMigrator-)?[A-Za-z0-9]{6}$")),
                     qPrintable(file + " is left"));
        for (const Section &section : qAsConst(sections))
            if (section.kind == "check")
                runCommands(section.text);
        // Every store as the case expects it; every other store as it was.
        const Stores after = readStores(organizations);
        QStringList names = before.keys() + after.keys() + expected.keys();
        names.removeDuplicates();
        for (const QString &name : qAsConst(names))
            compareStore(name, expected.values(name), before, after);
        // A run leaves no folder or key of its own where no store was left.
        for (const QString &organization : organizations)
            if (!existedBefore[organization] && std::none_of(after.keyBegin(), after.keyEnd(), [&](const auto &name) {
                    return name.startsWith(organization + '/');
                }))
                QVERIFY2(!exists(organization), qPrintable(organization + " was left behind"));
    }
};

int main(int argc, char *argv[])
{
    // Values of every kind, pixmaps included, are decoded as a real application version does.
    qputenv("QT_QPA_PLATFORM", "minimal");
    const QTemporaryDir folder;
    sandbox = folder.path();
    settings = sandbox + "/system";
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(sandbox));  // so that Qt GUI makes no runtime folder of its own
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(settings));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(sandbox + "/user"));
    const QGuiApplication application(argc, argv);
    QStringList options = QCoreApplication::arguments();
    QFile file(options.value(1));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    const bool table = file.fileName().endsWith(".table");
    const QString text = QString::fromUtf8(file.readAll());
    readCase(table ? tableRow(text, options.value(2)) : text);
    options.erase(options.begin() + 1, options.begin() + (table ? 3 : 2));  // what is left is QtTest's
    for (const QString &made : {settings, sandbox + "/tmp", sandbox + "/runtime"})
        QDir().mkpath(made);
    QFile::setPermissions(sandbox + "/runtime", QFile::Permissions(0x7755));  // 0755
    if (const QString skip = whyNotHere(); !skip.isEmpty()) {
        qInfo("skipped: %s", qPrintable(skip));
        return 77;
    }
    TestCase runner;
    const int status = QTest::qExec(&runner, options);
    if (needs.contains("small-disk"))
        QProcess::execute("umount", {settings});
    return status;
}

#include "test_cases.moc"
