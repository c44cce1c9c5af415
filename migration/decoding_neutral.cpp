// The display-less GUI application that decodes values of Qt GUI's types, for the build that
// reaches stores only through QSettings and so decodes every value it carries.

#include "migration.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <QTemporaryDir>

#include <array>

namespace {

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

void prepareToDecodeValues()
{
    Run &run = Run::current();
    if (run.preparedToDecode)
        return;
    run.preparedToDecode = true;
    if (!minimalPlatformAvailable())
        return;
    // The GUI application gets no command line of the caller's: it would take options such as
    // "-platform" from it. One application object at a time: the console one makes way.
    static int guiArgc = 1;
    static std::array<char, 25> name{"VantorelSettingsMigrator"};
    static std::array<char *, 2> guiArgv{name.data(), nullptr};
    delete run.application;
    qputenv("QT_QPA_PLATFORM", "minimal");
    // Where the caller's runtime folder will not do (none, as for an installer running as root,
    // or another user's, passed on by su or sudo), Qt GUI gets a private one instead, needed only
    // while the application starts, and gone once it has.
    const QByteArray runtimeFolder = qgetenv("XDG_RUNTIME_DIR");
    const QTemporaryDir ownRuntimeFolder;
    const bool replaced = !acceptedRuntimeFolder(QFile::decodeName(runtimeFolder), ownRuntimeFolder);
    if (replaced)
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(ownRuntimeFolder.path()));
    // What it says about its own start-up is nobody's concern.
    const QtMessageHandler routed =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    run.application = new QGuiApplication(guiArgc, guiArgv.data());
    takeLibraryMessages(run);
    qInstallMessageHandler(routed);
    if (replaced && runtimeFolder.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else if (replaced)
        qputenv("XDG_RUNTIME_DIR", runtimeFolder);
}
