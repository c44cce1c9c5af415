// Where stores are files: <first folder of XDG_CONFIG_DIRS>/<organisation>/<store>.conf, as Qt
// keeps system-scope settings on Linux and other Unix systems. QSettings reads them; this file
// alone writes them, as QSettings' own writers do but whole or not at all, and never waiting for
// good: under the store's lock file, into a temporary file beside it that gets the store's access
// rights before a byte is written, synced, renamed over the store, the folder synced.

#include "migration.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>

#include <acl/libacl.h>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Qt 5 reads a store into one byte array, which holds less than 2 GiB; a larger store reads as
// empty, so it is not read at all.
constexpr qint64 largestReadableStore = (qint64{1} << 31) - (qint64{1} << 20);
// A writer that holds a store's lock longer than QSettings' own writers wait for one is given up on.
constexpr int lockWaitMilliseconds = 30 * 1000;

// The folder of the system-scope stores QSettings reads first: XDG_CONFIG_DIRS' first.
QString settingsFolder()
{
    static const QString folder = [] {
        const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
        return folders.size() > 1 ? folders.at(1) : QString();  // the first is the per-user folder
    }();
    return folder;
}

QString storeLocation(const QString &organization, const QString &applicationName)
{
    if (settingsFolder().isEmpty())
        return {};
    const QString folder = organization.isEmpty() ? QStringLiteral("Unknown Organization") : organization;
    return QFileInfo(settingsFolder() + QLatin1Char('/') + folder + QLatin1Char('/') + applicationName +
                     QStringLiteral(".conf"))
        .absoluteFilePath();
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// What lies at a path, without following it to a file that may block: absent, a regular file, a
// link to one (or a file with more names than this one, which shares its content and rights with
// a file elsewhere), or anything else, a store too large to read included.
StoreState fileState(const QString &path)
{
    struct stat link {
    };
    if (lstat(encoded(path).constData(), &link) != 0)
        return StoreState::Absent;
    struct stat target {
    };
    if (stat(encoded(path).constData(), &target) != 0)  // a dangling link, or removed meanwhile
        return S_ISLNK(link.st_mode) ? StoreState::Unsafe : StoreState::Absent;
    if (!S_ISREG(target.st_mode) || target.st_size > largestReadableStore)
        return StoreState::Unsafe;
    return S_ISLNK(link.st_mode) || target.st_nlink > 1 ? StoreState::Linked : StoreState::Present;
}

// An open file, closed when it goes.
struct Descriptor {
    int number = -1;
    explicit Descriptor(int opened) : number(opened) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (number >= 0)
            close(number);
    }
};

// A file's access rights: owner, group, mode, POSIX ACL and user attributes.
struct Access {
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;
    QByteArray acl;  // in text form; empty where the file has none beyond its mode
    QVector<std::pair<QByteArray, QByteArray>> attributes;
};

Access accessOf(int descriptor, const struct stat &file, bool withAttributes)
{
    Access access{file.st_uid, file.st_gid, static_cast<mode_t>(file.st_mode & 0777), {}, {}};
    if (acl_extended_fd(descriptor) == 1) {
        const acl_t acl = acl_get_fd(descriptor);
        char *text = acl ? acl_to_any_text(acl, nullptr, ',', 0) : nullptr;
        access.acl = text;
        acl_free(text);
        acl_free(acl);
    }
    QByteArray names(4096, '\0');
    const ssize_t size = withAttributes ? flistxattr(descriptor, names.data(), static_cast<size_t>(names.size())) : 0;
    for (const QByteArray &name : names.left(static_cast<int>(std::max<ssize_t>(size, 0))).split('\0')) {
        QByteArray value(65536, '\0');
        const ssize_t length = name.startsWith("user.") ? fgetxattr(descriptor, name.constData(), value.data(),
                                                                    static_cast<size_t>(value.size()))
                                                        : -1;
        if (length >= 0)
            access.attributes.append({name, value.left(static_cast<int>(length))});
    }
    return access;
}

// Gives a new file those rights. The owner can be handed on only where the process may (as root);
// the rest always.
bool setAccess(int descriptor, const Access &access)
{
    if (fchown(descriptor, access.owner, access.group) != 0 && geteuid() == 0)
        return false;
    if (!access.acl.isEmpty()) {
        const acl_t acl = acl_from_text(access.acl.constData());
        const bool set = acl && acl_set_fd(descriptor, acl) == 0;
        acl_free(acl);
        if (!set)
            return false;
    }
    for (const auto &[name, value] : access.attributes)
        if (fsetxattr(descriptor, name.constData(), value.constData(), static_cast<size_t>(value.size()), 0) != 0)
            return false;
    return fchmod(descriptor, access.mode) == 0;  // after the ACL, whose mask it narrows
}

// A store file as it is now: its bytes and its rights. False where it cannot be read whole.
bool readStoreFile(const QString &path, bool followLink, QByteArray *bytes, Access *access, bool withAttributes)
{
    const Descriptor file(
        open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW)));
    struct stat status {
    };
    if (file.number < 0 || fstat(file.number, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > largestReadableStore)
        return false;
    bytes->clear();
    QByteArray block(65536, Qt::Uninitialized);
    for (ssize_t size = 0; (size = read(file.number, block.data(), static_cast<size_t>(block.size()))) != 0;) {
        if (size < 0 && errno != EINTR)
            return false;
        if (size > 0)
            bytes->append(block.constData(), static_cast<int>(size));
    }
    *access = accessOf(file.number, status, withAttributes);
    return true;
}

// Keeps a file open while the store object reading it lives.
class OpenFile : public QObject
{
public:
    OpenFile(std::unique_ptr<Descriptor> file, QObject *parent) : QObject(parent), file(std::move(file)) {}

private:
    std::unique_ptr<Descriptor> file;
};

QStringList &createdFolders()
{
    // cppcheck-suppress unassignedVariable
    static QStringList folders;
    return folders;
}

// Makes the folders that are to hold a store, outermost first, noting the ones it made.
bool makeFolders(const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return true;
    if (!makeFolders(QFileInfo(folder).absolutePath()))
        return false;
    if (mkdir(encoded(folder).constData(), 0755) == 0)
        createdFolders().append(folder);
    return QFileInfo(folder).isDir();
}

// A lock file that still holds nothing a moment after it was made was left by a writer killed
// before it could say who it was (a live one writes its name at once), and is taken over.
void removeAbandonedLock(const QByteArray &lock)
{
    struct stat file {
    };
    timespec now{};
    if (lstat(lock.constData(), &file) != 0 || !S_ISREG(file.st_mode) || file.st_size != 0 ||
        clock_gettime(CLOCK_REALTIME, &now) != 0)
        return;
    if (now.tv_sec - file.st_mtim.tv_sec > 1)
        unlink(lock.constData());
}

// The store's lock, as QSettings' writers take it: taken over from a writer that is gone, given up
// on after a while from one that is not, or at once when the run is asked to stop.
bool lock(QLockFile &lockFile)
{
    lockFile.setStaleLockTime(0);  // a live writer keeps its lock, however long it takes
    for (int waited = 0; waited < lockWaitMilliseconds; waited += 100) {
        if (lockFile.tryLock(100))
            return true;
        if (lockFile.error() != QLockFile::LockFailedError || stopRequested())
            return false;
    }
    return false;
}

// Temporary files of writers killed before they renamed them (this program's and QSettings' own,
// both "<store>.conf.XXXXXX"). Called with the store's lock held, when no writer is at work.
void removeLeftovers(const QString &path)
{
    const QFileInfo store(path);
    const QString prefix = store.fileName() + QLatin1Char('.');
    for (const QString &name : QDir(store.absolutePath()).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString suffix = name.mid(prefix.size());
        if (name.startsWith(prefix) && suffix.size() == 6 && std::all_of(suffix.cbegin(), suffix.cend(), [](QChar c) {
                return c.isLetterOrNumber() && c.unicode() < 128;
            }))
            unlink(encoded(store.absolutePath() + QLatin1Char('/') + name).constData());
    }
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

// Puts the bytes in place of the store: a reader sees the old store or the new one, never a part.
bool replaceFile(const QString &path, const QByteArray &bytes, const Access &access)
{
    QByteArray temporary = encoded(path) + ".XXXXXX";
    const int descriptor = mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0)
        return false;
    // (An empty store, a cleared one or the write probe, has nothing to lose to a power cut.)
    bool written =
        setAccess(descriptor, access) && writeWhole(descriptor, bytes) && (bytes.isEmpty() || fsync(descriptor) == 0);
    written = close(descriptor) == 0 && written;
    if (!written || rename(temporary.constData(), encoded(path).constData()) != 0) {
        unlink(temporary.constData());
        return false;
    }
    const Descriptor folder(open(encoded(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_CLOEXEC));
    return bytes.isEmpty() || (folder.number >= 0 && fsync(folder.number) == 0);
}

// Rewrites a store with what `compose` makes of its present bytes and rights (both empty where it
// holds nothing yet), then checks that the file holds what was written. False where the store is
// not a file of its own (nothing is then written), or could not be written or checked.
template <typename Compose> bool rewriteStore(const QString &path, const Compose &compose)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const StoreState lockState = fileState(path + QStringLiteral(".lock"));
        const StoreState state = fileState(path);
        if (lockState == StoreState::Unsafe || lockState == StoreState::Linked ||
            (state != StoreState::Absent && state != StoreState::Present) ||
            !makeFolders(QFileInfo(path).absolutePath()))
            return false;
        removeAbandonedLock(encoded(path + QStringLiteral(".lock")));
        QLockFile lockFile(path + QStringLiteral(".lock"));
        if (!lock(lockFile)) {
            // Another run of this program may have removed the folder it found empty meanwhile.
            if (QFileInfo(path).absoluteDir().exists())
                return false;
            continue;
        }
        removeLeftovers(path);
        QByteArray current;
        Access access;
        const bool exists = fileState(path) == StoreState::Present;
        if (exists && !readStoreFile(path, false, &current, &access, true))
            return false;
        const QByteArray bytes = compose(exists ? &current : nullptr, &access);
        if (exists && bytes == current)
            return true;
        QByteArray check;
        Access written;
        return replaceFile(path, bytes, access) && readStoreFile(path, false, &check, &written, false) &&
               check == bytes;
    }
    return false;
}

}  // namespace

StoreState storeState(const QString &organization, const QString &applicationName)
{
    const QString location = storeLocation(organization, applicationName);
    if (location.isEmpty())
        return StoreState::Absent;
    // QSettings reads the store's file alone, and QSettings' writers lock it: both must be files
    // that can be opened without waiting. (The organisation-wide files it would fall back to are
    // never read.)
    const StoreState lock = fileState(location + QStringLiteral(".lock"));
    return lock == StoreState::Unsafe || lock == StoreState::Linked ? StoreState::Unsafe : fileState(location);
}

StoreContent storeContent(const QString &organization, const QString &applicationName)
{
    switch (storeState(organization, applicationName)) {
    case StoreState::Absent:
        return StoreContent::NoKeys;
    case StoreState::Unsafe:  // never opened: it could make the run fail or wait for good
        return StoreContent::NotRead;
    case StoreState::Present:
    case StoreState::Linked:
        break;
    }
    // Read as far as the first key: a store's first block nearly always holds one. (Its folder
    // may be readable by root alone: reading it as QSettings does takes the same rights.)
    const Descriptor file(
        open(encoded(storeLocation(organization, applicationName)).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {
    };
    if (file.number < 0 || fstat(file.number, &status) != 0)
        return errno == ENOENT ? StoreContent::NoKeys : StoreContent::NotRead;  // (removed meanwhile)
    if (!S_ISREG(status.st_mode) || status.st_size > largestReadableStore)
        return StoreContent::NotRead;
    QByteArray text;
    QByteArray block(65536, Qt::Uninitialized);
    for (qint64 nextLook = block.size(); text.size() <= largestReadableStore;) {
        const ssize_t got = read(file.number, block.data(), static_cast<size_t>(block.size()));
        if (got == 0)
            break;
        if (got < 0 && errno != EINTR)
            return StoreContent::NotRead;
        text.append(block.constData(), static_cast<int>(std::max<ssize_t>(got, 0)));
        if (text.size() >= nextLook) {  // looked at again each time it has doubled
            if (iniKeys(text, true) == IniKeys::Some)
                return StoreContent::Keys;
            nextLook = 2 * text.size();
        }
    }
    if (text.size() > largestReadableStore)  // (it grew meanwhile)
        return StoreContent::NotRead;
    switch (iniKeys(text)) {
    case IniKeys::Some:
        return StoreContent::Keys;
    case IniKeys::Malformed:  // garbage, NUL bytes after a power loss
        return StoreContent::NotRead;
    case IniKeys::None:
        break;
    }
    return StoreContent::NoKeys;
}

std::unique_ptr<QSettings> storeObject(const QString &organization, const QString &applicationName)
{
    // Qt hands a file it has read to the next object that opens it by the same name, unread, if
    // its size and time look the same; read through a name never used before in this run (that of
    // an open descriptor, numbered afresh each time, closed with the object), it is read as it is.
    static int nextNumber = 100;
    const QString location = storeLocation(organization, applicationName);
    const Descriptor opened(open(encoded(location).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat file {
    };
    if (opened.number >= 0 && (fstat(opened.number, &file) != 0 || !S_ISREG(file.st_mode)))
        return std::make_unique<QSettings>(QString(), QSettings::NativeFormat);  // no store any more
    auto descriptor =
        std::make_unique<Descriptor>(opened.number < 0 ? -1 : fcntl(opened.number, F_DUPFD_CLOEXEC, nextNumber++));
    for (const char *folder : {"/proc/self/fd/", "/dev/fd/"}) {
        const QString name = QString::fromLatin1(folder) + QString::number(descriptor->number);
        if (descriptor->number >= 0 && QFileInfo(name).isFile()) {
            auto store = std::make_unique<QSettings>(name, QSettings::NativeFormat);
            new OpenFile(std::move(descriptor), store.get());
            return store;
        }
    }
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

Carried carryStore(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName)
{
    QByteArray source;
    Access sourceAccess;
    if (!readStoreFile(storeLocation(organization, fromApplicationName), true, &source, &sourceAccess, false))
        return Carried::NotRead;
    QStringList leftOut;
    const bool written =
        rewriteStore(storeLocation(organization, toApplicationName), [&](const QByteArray *current, Access *access) {
            leftOut.clear();
            if (!current || iniKeys(*current) != IniKeys::Some) {
                *access = sourceAccess;  // forced settings readable by root alone stay so
                access->attributes.clear();
                return source;
            }
            // The store keeps its own rights, never wider than its source's. (A store is no
            // program: set-id and sticky bits are not handed on.)
            access->mode &= sourceAccess.mode;
            return mergeIniText(*current, source, &leftOut);
        });
    for (const QString &key : written ? leftOut : QStringList())
        reportLeftOut(key, fromApplicationName);  // the destination's own value stays
    return written ? Carried::Copied : Carried::NotWritten;
}

bool replaceStore(const QString &organization, const QString &applicationName, const QMap<QString, QString> &texts)
{
    QByteArray bytes = texts.isEmpty() ? QByteArray() : QByteArray("[General]\n");
    for (auto text = texts.cbegin(); text != texts.cend(); ++text)
        bytes += text.key().toLatin1() + '=' + text.value().toLatin1() + '\n';
    return rewriteStore(storeLocation(organization, applicationName), [&](const QByteArray *current, Access *access) {
        if (!current)
            *access = {geteuid(), getegid(), 0644, {}, {}};
        return bytes;
    });
}

void removeStore(const QString &organization, const QString &applicationName)
{
    const QString location = storeLocation(organization, applicationName);
    if (fileState(location) != StoreState::Present || unlink(encoded(location).constData()) != 0)
        return;
    // Another run may have made the folder and left it to this one (runs of other organisations
    // share the folder of this program's own stores): it goes too once it holds nothing.
    const QString folder = QFileInfo(location).absolutePath();
    if (!createdFolders().contains(folder))
        createdFolders().append(folder);
}

void removeCreatedFolders()
{
    // rmdir removes a folder only while it is empty, so a store written meanwhile by anyone stays.
    QStringList folders = createdFolders();
    std::sort(folders.begin(), folders.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &folder : folders)
        rmdir(encoded(folder).constData());
    createdFolders().clear();
}
