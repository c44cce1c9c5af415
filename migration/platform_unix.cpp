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
#include <clocale>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/acl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Qt 5 reads a store into one byte array, which holds less than 2 GiB; a larger store reads as
// empty, so it is not read at all.
constexpr qint64 largestReadableStore = (qint64{1} << 31) - (qint64{1} << 20);
// A writer that holds a store's lock longer than QSettings' own writers wait for one is given up on.
// (Shorter only in test builds, which are never packed.)
constexpr int lockWaitMilliseconds = VANTOREL_LOCK_WAIT_SECONDS * 1000;

// The folder of the system-scope stores QSettings reads first: XDG_CONFIG_DIRS' first. An empty
// entry there (what appending to an unset variable gives) is, to Qt, the root folder; only where
// Qt names no folder at all is there none.
const QStringList &settingsFolders()
{
    static const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    return folders;  // the first is the per-user folder
}

QString storeLocation(const QString &organization, const QString &applicationName)
{
    if (settingsFolders().size() < 2)
        return {};
    const QString folder = organization.isEmpty() ? QStringLiteral("Unknown Organization") : organization;
    return QFileInfo(settingsFolders().at(1) + QLatin1Char('/') + folder + QLatin1Char('/') + applicationName +
                     QStringLiteral(".conf"))
        .absoluteFilePath();
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// Why a store could not be read or written, in plain words, for the line after the error line:
// the first reason met is kept. Returns false, for the caller to hand on.
bool failed(QString *cause, const QString &why)
{
    if (cause && cause->isEmpty())
        *cause = why;
    return false;
}

// The system's own words for an error number, untranslated, beginning in lower case.
QString systemError(int number)
{
    static const locale_t plain = newlocale(LC_ALL_MASK, "C", locale_t{});
    QString text = QString::fromLocal8Bit(plain ? strerror_l(number, plain) : strerror(number));
    if (!text.isEmpty())
        text[0] = text.at(0).toLower();
    return text;
}

bool failedWith(QString *cause, int number)
{
    return failed(cause, systemError(number));
}

// What stands at a path that is no store of its own, in plain words.
QString whatStands(const QString &path)
{
    struct stat link {
    };
    struct stat target {
    };
    if (lstat(encoded(path).constData(), &link) != 0)
        return systemError(errno);
    if (stat(encoded(path).constData(), &target) != 0)
        return QStringLiteral("a link to nothing");
    if (S_ISDIR(target.st_mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(target.st_mode))
        return QStringLiteral("a FIFO");
    if (!S_ISREG(target.st_mode))
        return QStringLiteral("a device or socket");
    if (target.st_size > largestReadableStore)
        return QStringLiteral("a file of 2 GiB or more");
    return QStringLiteral("a link, or a file with a second name: never written through");
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
    // In libacl's own binary form, which names users and groups by number: a name two accounts
    // share would hand the entry to the wrong one. Empty where the file has none beyond its mode.
    QByteArray acl;
    QVector<std::pair<QByteArray, QByteArray>> attributes;
};

// An extended attribute's value, or its names: asked for their size first, as they may be of any.
template <typename Get> bool readAttribute(QByteArray *bytes, const Get &get)
{
    for (int attempt = 0; attempt < 8; ++attempt) {  // (a size that grew meanwhile: asked again)
        const ssize_t size = get(nullptr, 0);
        if (size < 0)
            return false;
        bytes->resize(static_cast<int>(size));
        const ssize_t got = get(bytes->data(), static_cast<size_t>(bytes->size()));
        if (got >= 0) {
            bytes->resize(static_cast<int>(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
    return false;
}

Access accessOf(int descriptor, const struct stat &file, bool withAttributes)
{
    Access access{file.st_uid, file.st_gid, static_cast<mode_t>(file.st_mode & 0777), {}, {}};
    if (acl_extended_fd(descriptor) == 1) {
        const acl_t acl = acl_get_fd(descriptor);
        const ssize_t size = acl ? acl_size(acl) : -1;
        if (size > 0) {
            access.acl.resize(static_cast<int>(size));
            if (acl_copy_ext(access.acl.data(), acl, size) < 0)
                access.acl.clear();
        }
        acl_free(acl);
    }
    QByteArray names;
    if (!withAttributes ||
        !readAttribute(&names, [&](char *data, size_t size) { return flistxattr(descriptor, data, size); }))
        return access;
    for (const QByteArray &name : names.split('\0')) {
        QByteArray value;
        if (name.startsWith("user.") && readAttribute(&value, [&](char *data, size_t size) {
                return fgetxattr(descriptor, name.constData(), data, size);
            }))
            access.attributes.append({name, value});
    }
    return access;
}

// Gives a new file those rights. The owner can be handed on only where the process may (as root);
// the rest always.
bool setAccess(int descriptor, const Access &access)
{
    if (fchown(descriptor, access.owner, access.group) != 0 && geteuid() == 0)
        return false;
    // A file made in a folder with a default ACL has that ACL: where the rights handed on have none
    // beyond their mode, it goes, or a user the folder names would read what the source let no
    // one but its owner and group read.
    if (!access.acl.isEmpty() || acl_extended_fd(descriptor) == 1) {
        const acl_t acl = access.acl.isEmpty() ? acl_from_mode(access.mode) : acl_copy_int(access.acl.constData());
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
bool readStoreFile(const QString &path, bool followLink, QByteArray *bytes, Access *access, bool withAttributes,
                   QString *cause)
{
    const Descriptor file(
        open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW)));
    struct stat status {
    };
    if (file.number < 0 || fstat(file.number, &status) != 0)
        return errno == ELOOP ? failed(cause, whatStands(path)) : failedWith(cause, errno);
    if (!S_ISREG(status.st_mode) || status.st_size > largestReadableStore)
        return failed(cause, whatStands(path));
    // Read straight into a buffer one byte larger than the file, so that its end is met without
    // growing it by a copy: a store of any size costs its size once. (One that grew meanwhile is
    // read on, up to what can be read.)
    bytes->resize(static_cast<int>(status.st_size + 1));
    qint64 done = 0;
    for (;;) {
        if (done == bytes->size()) {
            if (done >= largestReadableStore)
                return failed(cause, QStringLiteral("a file of 2 GiB or more"));
            bytes->resize(static_cast<int>(std::min<qint64>(largestReadableStore, done + 65536)));
        }
        const ssize_t size = read(file.number, bytes->data() + done, static_cast<size_t>(bytes->size() - done));
        if (size < 0 && errno != EINTR)
            return failedWith(cause, errno);
        if (size == 0)
            break;
        done += std::max<ssize_t>(size, 0);
    }
    bytes->resize(static_cast<int>(done));
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

// Makes the folders that are to hold a store, outermost first, noting the ones it made. They are
// given their mode, 0755, whatever the umask: the stores in them are for every user to read.
// Where it fails, errno says why.
bool makeFolders(const QString &folder, MadeFolders &madeFolders)
{
    const QString parent = QFileInfo(folder).absolutePath();
    if (QFileInfo(folder).isDir())
        return true;
    if (parent == folder) {  // (the root folder, or none)
        errno = ENOENT;
        return false;
    }
    if (!makeFolders(parent, madeFolders))
        return false;
    if (mkdir(encoded(folder).constData(), 0700) == 0) {
        madeFolders.paths.append(folder);
        const Descriptor made(open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (made.number < 0 || fchmod(made.number, 0755) != 0)
            return false;
    } else if (errno != EEXIST) {
        return false;
    }
    const bool made = QFileInfo(folder).isDir();
    errno = made ? 0 : ENOTDIR;
    return made;
}

// A lock file that still holds nothing a moment after it was made was left by a writer killed
// before it could say who it was (a live one writes its name at once), and is taken over, but only
// once its own locks can be taken: QSettings' writers hold them while they write, and so may a
// writer that never says who it is.
void removeAbandonedLock(const QByteArray &lock)
{
    const Descriptor file(open(lock.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {
    };
    timespec now{};
    if (file.number < 0 || fstat(file.number, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != 0 ||
        clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec - status.st_mtim.tv_sec <= 1)
        return;
    struct flock whole {
    };
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (flock(file.number, LOCK_EX | LOCK_NB) == 0 && fcntl(file.number, F_SETLK, &whole) == 0)
        unlink(lock.constData());
}

// The store's lock, as QSettings' writers take it: taken over from a writer that is gone, given up
// on after a while from one that is not, or at once when the run is asked to stop. A run started
// right after a writer was killed finds its lock still too new to tell, so it is looked at again
// while the run waits.
bool lock(QLockFile &lockFile, const QByteArray &lockName, QString *cause)
{
    lockFile.setStaleLockTime(0);  // a live writer keeps its lock, however long it takes
    for (int waited = 0; waited < lockWaitMilliseconds; waited += 100) {
        removeAbandonedLock(lockName);
        if (lockFile.tryLock(100))
            return true;
        if (lockFile.error() != QLockFile::LockFailedError)  // (its file could not be made)
            return failed(cause, QStringLiteral("its lock file cannot be made: ") + systemError(errno));
        if (stopRequested())
            return failed(cause, QStringLiteral("the run was asked to stop while another writer held it"));
    }
    return failed(cause, QStringLiteral("held by another writer for %1 seconds").arg(lockWaitMilliseconds / 1000));
}

// This program's temporary files carry a name of their own, "<store>.conf.SettingsMigrator-XXXXXX":
// a name such as "<store>.conf.backup" may well be an administrator's, and QSettings' own
// temporaries cannot be told from those.
const QString temporaryMark = QStringLiteral(".SettingsMigrator-");

// Temporary files of this program's writers killed before they renamed them: regular files of the
// process's own user, with no other name, exactly as this program names them. Called with the
// store's lock held, when no writer of this program is at work.
void removeLeftovers(const QString &path)
{
    const QFileInfo store(path);
    const QString prefix = store.fileName() + temporaryMark;
    for (const QString &name : QDir(store.absolutePath()).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString suffix = name.mid(prefix.size());
        const QByteArray file = encoded(store.absolutePath() + QLatin1Char('/') + name);
        struct stat status {
        };
        if (name.startsWith(prefix) && suffix.size() == 6 &&
            std::all_of(suffix.cbegin(), suffix.cend(),
                        [](QChar c) { return c.isLetterOrNumber() && c.unicode() < 128; }) &&
            lstat(file.constData(), &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
            status.st_nlink == 1)
            unlink(file.constData());
    }
}

bool writeWhole(int descriptor, const QByteArray &bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const ssize_t written = write(descriptor, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = ENOSPC;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

// Whether the file holds these bytes and no others, compared block by block (a store is not read
// into memory a second time).
bool fileHolds(const QString &path, const QByteArray &bytes)
{
    const Descriptor file(open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (file.number < 0)
        return false;
    QByteArray block(65536, Qt::Uninitialized);
    for (qint64 done = 0;;) {
        const ssize_t size = read(file.number, block.data(), static_cast<size_t>(block.size()));
        if (size < 0 && errno == EINTR)
            continue;
        if (size <= 0)
            return size == 0 && done == bytes.size();
        if (done + size > bytes.size() || memcmp(block.constData(), bytes.constData() + done, size_t(size)) != 0)
            return false;
        done += size;
    }
}

// Puts the bytes in place of the store: a reader sees the old store or the new one, never a part.
bool replaceFile(const QString &path, const QByteArray &bytes, const Access &access, QString *cause)
{
    QByteArray temporary = encoded(path + temporaryMark) + "XXXXXX";
    const int descriptor = mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0)
        return failedWith(cause, errno);
    // (An empty store has nothing to lose to a power cut.)
    bool written =
        setAccess(descriptor, access) && writeWhole(descriptor, bytes) && (bytes.isEmpty() || fsync(descriptor) == 0);
    const int error = errno;
    written = close(descriptor) == 0 && written;
    if (!written || rename(temporary.constData(), encoded(path).constData()) != 0) {
        const int failure = written ? errno : error;
        unlink(temporary.constData());
        return failedWith(cause, failure);
    }
    const Descriptor folder(open(encoded(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_CLOEXEC));
    return bytes.isEmpty() || (folder.number >= 0 && fsync(folder.number) == 0) || failedWith(cause, errno);
}

// Rewrites a store with what `compose` makes of its present bytes and rights (both empty where it
// holds nothing yet), then checks that the file holds what was written. False where the store is
// not a file of its own (nothing is then written), or could not be written or checked.
template <typename Compose>
bool rewriteStore(const QString &path, const Compose &compose, MadeFolders &madeFolders, QString *cause)
{
    const QString lockPath = path + QStringLiteral(".lock");
    for (int attempt = 0; attempt < 3; ++attempt) {
        const StoreState lockState = fileState(lockPath);
        const StoreState state = fileState(path);
        if (lockState == StoreState::Unsafe || lockState == StoreState::Linked)
            return failed(cause, QStringLiteral("its lock file is ") + whatStands(lockPath));
        if (state != StoreState::Absent && state != StoreState::Present)
            return failed(cause, whatStands(path));
        if (!makeFolders(QFileInfo(path).absolutePath(), madeFolders))
            return failed(cause, QStringLiteral("its folder cannot be made: ") + systemError(errno));
        QLockFile lockFile(lockPath);
        QString lockCause;
        if (!lock(lockFile, encoded(lockPath), &lockCause)) {
            // Another run of this program may have removed the folder it found empty meanwhile.
            if (QFileInfo(path).absoluteDir().exists())
                return failed(cause, lockCause);
            continue;
        }
        removeLeftovers(path);
        QByteArray current;
        Access access;
        const bool exists = fileState(path) == StoreState::Present;
        if (exists && !readStoreFile(path, false, &current, &access, true, cause))
            return false;
        const QByteArray bytes = compose(exists ? &current : nullptr, &access);
        if (exists && bytes == current)
            return true;
        return replaceFile(path, bytes, access, cause) &&
               (fileHolds(path, bytes) ||
                failed(cause, QStringLiteral("what was written does not read back as written")));
    }
    return failed(cause, QStringLiteral("its folder was removed while it was written, three times over"));
}

// Whether an open store file holds a key, read as far as the first one: a store's first block
// nearly always holds one.
StoreContent keysInFile(int file, QString *cause)
{
    QByteArray text;
    QByteArray block(65536, Qt::Uninitialized);
    for (qint64 nextLook = block.size(); text.size() <= largestReadableStore;) {
        const ssize_t got = read(file, block.data(), static_cast<size_t>(block.size()));
        if (got == 0)
            break;
        if (got < 0 && errno != EINTR) {
            failedWith(cause, errno);
            return StoreContent::NotRead;
        }
        text.append(block.constData(), static_cast<int>(std::max<ssize_t>(got, 0)));
        if (text.size() >= nextLook) {  // looked at again each time it has doubled
            if (iniKeys(text, true) == IniKeys::Some)
                return StoreContent::Keys;
            nextLook = 2 * static_cast<qint64>(text.size());
        }
    }
    if (text.size() > largestReadableStore) {  // (it grew meanwhile)
        failed(cause, QStringLiteral("a file of 2 GiB or more"));
        return StoreContent::NotRead;
    }
    switch (iniKeys(text)) {
    case IniKeys::Some:
        return StoreContent::Keys;
    case IniKeys::Malformed:
        failed(cause, QStringLiteral("not a settings file as Qt reads it (garbage, or NUL bytes after a power loss)"));
        return StoreContent::NotRead;
    case IniKeys::None:
        break;
    }
    return StoreContent::NoKeys;
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

StoreContent storeContent(const QString &organization, const QString &applicationName, QString *cause)
{
    const QString location = storeLocation(organization, applicationName);
    switch (storeState(organization, applicationName)) {
    case StoreState::Absent:
        return StoreContent::NoKeys;
    case StoreState::Unsafe:  // never opened: it could make the run fail or wait for good
        failed(cause, fileState(location) == StoreState::Unsafe
                          ? whatStands(location)
                          : QStringLiteral("its lock file is ") + whatStands(location + QStringLiteral(".lock")));
        return StoreContent::NotRead;
    case StoreState::Present:
    case StoreState::Linked:
        break;
    }
    // Its folder may be readable by root alone: reading it as QSettings does takes the same rights.
    const Descriptor file(open(encoded(location).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {
    };
    if (file.number < 0 || fstat(file.number, &status) != 0) {
        if (errno == ENOENT)  // (removed meanwhile)
            return StoreContent::NoKeys;
        failedWith(cause, errno);
        return StoreContent::NotRead;
    }
    if (!S_ISREG(status.st_mode) || status.st_size > largestReadableStore) {
        failed(cause, whatStands(location));
        return StoreContent::NotRead;
    }
    return keysInFile(file.number, cause);
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
    // Whatever stands where a store belongs is listed: the probe names what it cannot open. (Read
    // directly: Qt's name filters would compile a pattern, which costs more than the listing.)
    DIR *const listing = folder.isDir() ? opendir(encoded(folder.absoluteFilePath()).constData()) : nullptr;
    if (!listing)
        return false;
    while (const dirent *entry = readdir(listing)) {
        const QString file = QFile::decodeName(entry->d_name);
        if (file.endsWith(QLatin1String(".conf")) && file.size() > 5)
            *storeNames << prefix + file.chopped(5);
    }
    closedir(listing);
    return true;
}

Qt::CaseSensitivity storeNameCase()
{
    return Qt::CaseSensitive;
}

Carried carryStore(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName,
                   MadeFolders &madeFolders, QStringList *leftOut, QString *cause)
{
    if (leftOut)
        leftOut->clear();
    QByteArray source;
    Access sourceAccess;
    if (!readStoreFile(storeLocation(organization, fromApplicationName), true, &source, &sourceAccess, false, cause))
        return Carried::NotRead;
    QStringList keysLeftOut;
    const bool written = rewriteStore(
        storeLocation(organization, toApplicationName),
        [&](const QByteArray *current, Access *access) {
            keysLeftOut.clear();
            if (!current || iniKeys(*current) != IniKeys::Some) {
                *access = sourceAccess;  // forced settings readable by root alone stay so
                access->attributes.clear();
                return source;
            }
            // The store keeps its own rights, never wider than its source's. (A store is no
            // program: set-id and sticky bits are not handed on.)
            access->mode &= sourceAccess.mode;
            return mergeIniText(*current, source, &keysLeftOut);
        },
        madeFolders, cause);
    if (written && leftOut)
        *leftOut = keysLeftOut;
    return written ? Carried::Copied : Carried::NotWritten;
}

bool replaceStore(const QString &organization, const QString &applicationName, const QMap<QString, QString> &texts,
                  MadeFolders &madeFolders, QString *cause)
{
    QByteArray bytes = texts.isEmpty() ? QByteArray() : QByteArray("[General]\n");
    for (auto text = texts.cbegin(); text != texts.cend(); ++text)
        bytes += text.key().toLatin1() + '=' + text.value().toLatin1() + '\n';
    return rewriteStore(
        storeLocation(organization, applicationName),
        [&](const QByteArray *current, Access *access) {
            if (!current)
                *access = {geteuid(), getegid(), 0644, {}, {}};
            return bytes;
        },
        madeFolders, cause);
}

bool storeWritable(const QString &organization, const QString &applicationName, MadeFolders &)
{
    // A store is written by a file made in its folder and renamed over it, in a folder made where
    // none is yet: the nearest folder that exists must let this process (its effective ids, its
    // ACLs, a read-only mount) add names. Asked, not tried: nothing is made, nothing synced.
    const QString location = storeLocation(organization, applicationName);
    if (location.isEmpty())
        return false;
    QString folder = QFileInfo(location).absolutePath();
    struct stat status {
    };
    while (lstat(encoded(folder).constData(), &status) != 0 && errno == ENOENT && folder != QLatin1String("/"))
        folder = QFileInfo(folder).absolutePath();
    return stat(encoded(folder).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           faccessat(AT_FDCWD, encoded(folder).constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

void removeStore(const QString &organization, const QString &applicationName, MadeFolders &)
{
    // Its folder stays: it goes only if this run made it (an administrator's own, however empty,
    // is theirs).
    const QString location = storeLocation(organization, applicationName);
    if (fileState(location) == StoreState::Present)
        unlink(encoded(location).constData());
}

void removeCreatedFolders(MadeFolders &madeFolders)
{
    // rmdir removes a folder only while it is empty, so a store written meanwhile by anyone stays.
    QStringList folders = madeFolders.paths;
    std::sort(folders.begin(), folders.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &folder : folders)
        rmdir(encoded(folder).constData());
    madeFolders.paths.clear();
}
