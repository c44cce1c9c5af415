// Where stores are files: <first folder of XDG_CONFIG_DIRS>/<organisation>/<store>.conf, as Qt
// keeps system-scope settings on Linux and other Unix systems.

#include "migration.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
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

// What lies at a path, without following it to a file that may block: absent, a regular file, a
// link to one (or a file with more names than this one, which shares its content and rights with
// a file elsewhere), or anything else.
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
    return S_ISLNK(link.st_mode) || target.st_nlink > 1 ? StoreState::Linked : StoreState::Present;
}

// A lock file that still holds nothing a moment after it was made was left by a writer killed
// before it could say who it was (a live one writes its name at once); QSettings would wait half
// a minute before it takes it over.
void removeAbandonedLock(const QString &store)
{
    const QByteArray lock = QFile::encodeName(store + QStringLiteral(".lock"));
    struct stat file {
    };
    timespec now{};
    if (lstat(lock.constData(), &file) != 0 || !S_ISREG(file.st_mode) || file.st_size != 0 ||
        clock_gettime(CLOCK_REALTIME, &now) != 0)
        return;
    const double age = static_cast<double>(now.tv_sec - file.st_mtim.tv_sec) +
                       static_cast<double>(now.tv_nsec - file.st_mtim.tv_nsec) / 1e9;
    if (age > 0.5)
        unlink(lock.constData());
}

// Where the store is kept: opened there, QSettings reads that one store and no fallback.
QString storeLocation(const QString &organization, const QString &applicationName)
{
    const QStringList folders = settingsFolders();
    if (folders.isEmpty())
        return {};
    return QFileInfo(organizationFolder(folders.first(), organization) + QLatin1Char('/') + applicationName +
                     QStringLiteral(".conf"))
        .absoluteFilePath();
}

// Closes a file once the store object reading it has gone.
class OpenFile : public QObject
{
public:
    OpenFile(int descriptor, QObject *parent) : QObject(parent), descriptor(descriptor) {}
    ~OpenFile() override { close(descriptor); }
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

private:
    int descriptor;
};

// The file as it is on disk now. Qt hands a file it has read to the next object that opens it by
// the same name, unread, if its size and time look the same, so it is opened by a name never
// used before in this run: that of an open descriptor of it, numbered afresh each time.
std::unique_ptr<QSettings> freshSettings(const QString &path)
{
    static int nextNumber = 100;
    const int opened = open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat file {
    };
    if (opened >= 0 && (fstat(opened, &file) != 0 || !S_ISREG(file.st_mode))) {
        close(opened);  // replaced meanwhile by something that is no store
        return std::make_unique<QSettings>(QString(), QSettings::NativeFormat);
    }
    const int descriptor = opened < 0 ? -1 : fcntl(opened, F_DUPFD_CLOEXEC, nextNumber++);
    if (opened >= 0)
        close(opened);
    for (const char *folder : {"/proc/self/fd/", "/dev/fd/"}) {
        const QString name = QString::fromLatin1(folder) + QString::number(descriptor);
        if (descriptor >= 0 && QFileInfo(name).isFile()) {
            auto store = std::make_unique<QSettings>(name, QSettings::NativeFormat);
            new OpenFile(descriptor, store.get());
            return store;
        }
    }
    if (descriptor >= 0)
        close(descriptor);
    // Without such names, what Qt keeps is the best there is (it rereads a file that it found
    // empty, or whose size or time changed).
    return std::make_unique<QSettings>(path, QSettings::NativeFormat);
}

bool writeWhole(int descriptor, const QByteArray &bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const ssize_t written = write(descriptor, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

// The source's bytes into the destination, as QSettings writes a store: a temporary file beside
// it, synced, then renamed over it, under the store's lock, so that no reader ever sees half a
// store and no QSettings writer is overwritten half way. A destination that already holds these
// very bytes needs nothing; one that holds other keys is not written.
CopiedAsStored copyWholeFile(const QString &from, const QString &to)
{
    QFile source(from);
    if (!readableStore(fileState(from)) || !source.open(QIODevice::ReadOnly))
        return CopiedAsStored::Failed;
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return CopiedAsStored::Failed;
    removeAbandonedLock(to);
    QLockFile lock(to + QStringLiteral(".lock"));
    // QSettings takes over a lock older than 30 s whose owner has gone; so does this, then gives up.
    if (!lock.tryLock(35 * 1000))
        return CopiedAsStored::Failed;
    if (!writableStore(fileState(to)))
        return CopiedAsStored::Failed;
    if (!freshSettings(to)->allKeys().isEmpty()) {
        QFile existing(to);
        const bool same = existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes;
        return same ? CopiedAsStored::Copied : CopiedAsStored::NotPossible;  // or another writer got there first
    }
    QByteArray temporary = QFile::encodeName(to) + ".XXXXXX";
    const int descriptor = mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0)
        return CopiedAsStored::Failed;
    bool written = writeWhole(descriptor, bytes) && fsync(descriptor) == 0;
    written = close(descriptor) == 0 && written;
    written = written && rename(temporary.constData(), QFile::encodeName(to).constData()) == 0;
    if (!written) {
        unlink(temporary.constData());
        return CopiedAsStored::Failed;
    }
    // The rename itself is on disk once the folder is.
    const int folder = open(QFile::encodeName(QFileInfo(to).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return CopiedAsStored::Copied;
}

}  // namespace

StoreState storeState(const QString &organization, const QString &applicationName)
{
    const QString location = storeLocation(organization, applicationName);
    if (location.isEmpty())
        return StoreState::Absent;
    // Opened by its location, QSettings reads the store's file alone and locks it to write it:
    // both must be files that can be opened without waiting. (The organisation-wide files it
    // would fall back to are never read.)
    const StoreState lock = fileState(location + QStringLiteral(".lock"));
    return lock == StoreState::Unsafe || lock == StoreState::Linked ? StoreState::Unsafe : fileState(location);
}

std::unique_ptr<QSettings> storeObject(const QString &organization, const QString &applicationName, bool fresh)
{
    const QString location = storeLocation(organization, applicationName);
    if (fresh)
        return freshSettings(location);
    removeAbandonedLock(location);
    return std::make_unique<QSettings>(location, QSettings::NativeFormat);
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

QVariantList prepareStoreAccess(const QString &organization, const QString &fromApplicationName,
                                const QString &toApplicationName, bool destinationHoldsKeys)
{
    struct stat source {
    };
    if (stat(QFile::encodeName(storeLocation(organization, fromApplicationName)).constData(), &source) != 0)
        return {};
    const QString to = storeLocation(organization, toApplicationName);
    struct stat destination {
    };
    const bool kept = destinationHoldsKeys && stat(QFile::encodeName(to).constData(), &destination) == 0;
    // The settings never become readable by more users than could read them before.
    // (A store is no program: set-id and sticky bits are not handed on.)
    const uint mode = source.st_mode & (kept ? destination.st_mode : ~0U) & 0777;
    const QVariantList access{mode, kept ? destination.st_uid : source.st_uid,
                              kept ? destination.st_gid : source.st_gid};
    if (!QDir().mkpath(QFileInfo(to).absolutePath()))
        return access;
    // A new file is made empty with those rights before anything is written into it: QSaveFile
    // keeps an existing file's mode.
    const int descriptor = open(QFile::encodeName(to).constData(),
                                O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, static_cast<mode_t>(mode));
    if (descriptor >= 0)
        close(descriptor);
    restoreStoreAccess(organization, toApplicationName, access);
    return access;
}

void restoreStoreAccess(const QString &organization, const QString &applicationName, const QVariantList &access)
{
    if (access.size() != 3)
        return;
    const QByteArray path = QFile::encodeName(storeLocation(organization, applicationName));
    // The owner can be handed on only where the process may (as root); the mode always. The
    // mode goes last: changing the owner may clear set-id bits.
    // A link in the store's place is never followed to a file elsewhere.
    if (fileState(QFile::decodeName(path)) != StoreState::Present)
        return;
    if (chown(path.constData(), access.at(1).toUInt(), access.at(2).toUInt()) != 0) {
        // not root: the file stays the writer's
    }
    if (chmod(path.constData(), static_cast<mode_t>(access.at(0).toUInt())) != 0) {
        // the writer's rights stay
    }
}

QStringList keysKeptOnlyAsStored(const QString &, const QString &)
{
    return {};  // QSettings writes every value it could decode back as it read it
}

CopiedAsStored copyAsStored(const QString &organization, const QString &fromApplicationName,
                            const QString &toApplicationName, const QString &key)
{
    if (!key.isEmpty())
        return CopiedAsStored::NotPossible;  // a file is written whole
    return copyWholeFile(storeLocation(organization, fromApplicationName),
                         storeLocation(organization, toApplicationName));
}

void deleteStore(const QString &organization, const QString &applicationName)
{
    const QString location = storeLocation(organization, applicationName);
    if (fileState(location) == StoreState::Present)
        QFile::remove(location);
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

namespace {
int &heldBack()
{
    static int descriptor = -1;
    return descriptor;
}
}  // namespace

void prepareProcess()
{
    // An installer that stops reading must not stop the migration halfway.
    std::signal(SIGPIPE, SIG_IGN);
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
