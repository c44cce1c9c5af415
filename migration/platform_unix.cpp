// Where stores are files: <first folder of XDG_CONFIG_DIRS>/<organisation>/<store>.conf, as Qt
// keeps system-scope settings on Linux and other Unix systems.

#include "migration.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The system-scope folders QSettings reads, most specific first.
QStringList settingsFolders()
{
    QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    if (!folders.isEmpty())
        folders.removeFirst();  // the per-user folder
    return folders;
}

QString organizationFolder(const QString &folder, const QString &organization)
{
    return folder + QLatin1Char('/') + (organization.isEmpty() ? QStringLiteral("Unknown Organization") : organization);
}

// What lies at a path, without following it to a file that may block: absent, a regular file
// (possibly through a link), or anything else.
StoreState fileState(const QString &path)
{
    struct stat link {
    };
    if (lstat(QFile::encodeName(path).constData(), &link) != 0)
        return StoreState::Absent;
    struct stat target {
    };
    if (stat(QFile::encodeName(path).constData(), &target) != 0 || !S_ISREG(target.st_mode))
        return StoreState::Unsafe;
    return StoreState::Present;
}

}  // namespace

QString storeLocation(const QString &organization, const QString &applicationName)
{
    const QStringList folders = settingsFolders();
    if (folders.isEmpty())
        return {};
    return QFileInfo(organizationFolder(folders.first(), organization) + QLatin1Char('/') + applicationName +
                     QStringLiteral(".conf"))
        .absoluteFilePath();
}

StoreState storeState(const QString &organization, const QString &applicationName)
{
    const QString location = storeLocation(organization, applicationName);
    if (location.isEmpty())
        return StoreState::Absent;
    // QSettings reads every file it may fall back to as it opens a store, and locks the store's
    // file to write it: each of them must be a file that can be opened without waiting.
    QStringList paths{location, location + QStringLiteral(".lock")};
    for (const QString &folder : settingsFolders())
        paths << organizationFolder(folder, organization) + QStringLiteral(".conf");
    const bool unsafe = std::any_of(paths.cbegin(), paths.cend(),
                                    [](const QString &path) { return fileState(path) == StoreState::Unsafe; });
    return unsafe ? StoreState::Unsafe : fileState(location);
}

bool listStores(const QString &organization, const QString &applicationName, QStringList *storeNames)
{
    const QString location = storeLocation(organization, applicationName + QLatin1Char(' '));
    if (location.isEmpty())
        return false;
    // Stores of an application whose name holds a slash sit in a folder below the organisation's.
    const QString prefix = applicationName.left(applicationName.lastIndexOf(QLatin1Char('/')) + 1);
    const QFileInfo folder(QFileInfo(location).absolutePath());
    if (!folder.exists())
        return true;  // no store at all
    if (!folder.isDir() || !folder.isReadable())
        return false;
    QDir listing(folder.absoluteFilePath());
    // Whatever stands where a store belongs is listed: the probe names what it cannot open.
    listing.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden | QDir::CaseSensitive);
    for (const QString &file : listing.entryList({QStringLiteral("*.conf")}))
        *storeNames << prefix + file.chopped(5);
    return listing.exists();
}

Qt::CaseSensitivity storeNameCase()
{
    return Qt::CaseSensitive;
}

void matchStoreAccess(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName)
{
    struct stat source {
    };
    if (stat(QFile::encodeName(storeLocation(organization, fromApplicationName)).constData(), &source) != 0)
        return;
    const QString to = storeLocation(organization, toApplicationName);
    if (!QDir().mkpath(QFileInfo(to).absolutePath()))
        return;
    // Created empty with the source's rights before anything is written into it: QSaveFile keeps
    // an existing file's mode, so the settings are never readable by more users than before.
    const int descriptor =
        open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, source.st_mode & 07777);
    if (descriptor < 0)
        return;
    // Only the owner can be handed on only where the process may (as root); the mode always.
    static_cast<void>(fchown(descriptor, source.st_uid, source.st_gid));
    static_cast<void>(fchmod(descriptor, source.st_mode & 07777));
    close(descriptor);
}

QStringList keysKeptOnlyAsStored(const QString &, const QString &)
{
    return {};  // QSettings writes every value of a file store back as it read it
}

bool copyValueAsStored(const QString &, const QString &, const QString &, const QString &)
{
    return false;
}

void deleteStore(const QString &organization, const QString &applicationName)
{
    QFile::remove(storeLocation(organization, applicationName));
}

QStringList missingStoreFolders(const QString &organization)
{
    QStringList missing;
    const QStringList folders = settingsFolders();
    if (folders.isEmpty())
        return missing;
    for (QString folder = organizationFolder(folders.first(), organization); !QFileInfo::exists(folder);
         folder = QFileInfo(folder).absolutePath())
        missing.prepend(folder);
    return missing;
}

void removeIfEmpty(const QStringList &storeFolders)
{
    QStringList innermostFirst = storeFolders;
    std::sort(innermostFirst.begin(), innermostFirst.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    // rmdir removes a folder only while it is empty, so a store written meanwhile by anyone stays.
    for (const QString &folder : innermostFirst)
        rmdir(QFile::encodeName(folder).constData());
}

void ignoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

namespace {
int &heldBack()
{
    static int descriptor = -1;
    return descriptor;
}
}  // namespace

void holdBackStandardError()
{
    std::array<int, 2> ends{};
    if (pipe(ends.data()) != 0)
        return;
    // Neither end ever waits: a library that says more than the pipe holds loses the rest.
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    dup2(ends[1], STDERR_FILENO);
    close(ends[1]);
    heldBack() = ends[0];
}

QStringList takeLibraryMessages()
{
    QByteArray said;
    std::array<char, 4096> buffer{};
    ssize_t size = 0;
    while (heldBack() >= 0 && (size = read(heldBack(), buffer.data(), buffer.size())) > 0)
        said.append(buffer.data(), static_cast<int>(size));
    QStringList messages = QString::fromLocal8Bit(said).split(QLatin1Char('\n'));
    messages.removeAll(QString());
    return messages;
}
