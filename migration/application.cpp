// The application objects, and where Qt's messages go: Qt writes its warnings to standard error,
// which this program keeps silent, and says only by warnings that it failed to decode a value.

#include "migration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <QSet>
#include <QTemporaryDir>

#include <array>
#include <iostream>
#include <memory>

namespace {

// While the GUI application starts, what it says about its own start-up is nobody's concern.
bool &quiet()
{
    static bool starting = false;
    return starting;
}

// A message is printed once however often it is said: a store read again says the same again.
void printWarning(const QString &message)
{
    static QSet<QString> printed;
    if (printed.contains(message))
        return;
    printed.insert(message);
    std::cout << "warning: " << printable(message).toStdString() << std::endl;
}

void routeMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (!noteMessage(message) && !quiet())
        printWarning(message);
}

// Lives until the process ends: it is never destroyed at exit, when Qt's own globals go.
QCoreApplication *&application()
{
    static QCoreApplication *instance = nullptr;
    return instance;
}

// Whether Qt's "minimal" platform can be loaded, looked for where QGuiApplication would look.
bool minimalPlatformAvailable()
{
    QStringList folders = QCoreApplication::libraryPaths();
    const QString pluginPath = QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH"));
    if (!pluginPath.isEmpty())
        folders.prepend(pluginPath + QStringLiteral("/.."));
    for (const QString &folder : folders) {
        const QDir platforms(folder + QStringLiteral("/platforms"));
        for (const QString &file : platforms.entryList(QDir::Files)) {
            QPluginLoader plugin(platforms.filePath(file));
            const QVariant keys = plugin.metaData()
                                      .value(QStringLiteral("MetaData"))
                                      .toObject()
                                      .value(QStringLiteral("Keys"))
                                      .toVariant();
            if (keys.toStringList().contains(QStringLiteral("minimal")) && plugin.load())
                return true;
        }
    }
    return false;
}

// Whether Qt GUI would use the runtime folder it is given as it is: a folder of this process's
// own user that nobody else may enter. Any other it replaces with one it makes in the temporary
// folder and leaves there, or it changes the folder's rights.
bool acceptedRuntimeFolder(const QString &folder, const QTemporaryDir &ownFolder)
{
    const QFileInfo given(folder);
    const QFileInfo own(ownFolder.path());
    const QFile::Permissions ownerOnly =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
    return !folder.isEmpty() && given.isDir() && given.ownerId() == own.ownerId() && given.permissions() == ownerOnly;
}

}  // namespace

QStringList startApplication(int &argc, char **argv)
{
    // The run must end with status 0 and its work done: no warning may abort it.
    qunsetenv("QT_FATAL_WARNINGS");
    qunsetenv("QT_FATAL_CRITICALS");
    prepareProcess();
    qInstallMessageHandler(routeMessage);
    application() = new QCoreApplication(argc, argv);
    return QCoreApplication::arguments();
}

void prepareToDecodeValues()
{
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    if (!minimalPlatformAvailable())
        return;
    // The GUI application gets no command line of the caller's: it would take options such as
    // "-platform" from it. One application object at a time: the console one makes way.
    static int guiArgc = 1;
    static std::array<char, 25> name{"VantorelSettingsMigrator"};
    static std::array<char *, 2> guiArgv{name.data(), nullptr};
    delete application();
    qputenv("QT_QPA_PLATFORM", "minimal");
    // Where the caller's runtime folder will not do (none, as for an installer running as root,
    // or another user's, passed on by su or sudo), Qt GUI gets a private one instead, needed only
    // while the application starts, and gone once it has.
    const QByteArray runtimeFolder = qgetenv("XDG_RUNTIME_DIR");
    const QTemporaryDir ownRuntimeFolder;
    const bool replaced = !acceptedRuntimeFolder(QFile::decodeName(runtimeFolder), ownRuntimeFolder);
    if (replaced)
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(ownRuntimeFolder.path()));
    quiet() = true;
    application() = new QGuiApplication(guiArgc, guiArgv.data());
    takeLibraryMessages();
    quiet() = false;
    if (replaced && runtimeFolder.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else if (replaced)
        qputenv("XDG_RUNTIME_DIR", runtimeFolder);
}

void reportLibraryMessages()
{
    for (const QString &message : takeLibraryMessages()) {
        noteMessage(message);
        printWarning(message);
    }
}
