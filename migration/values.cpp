#include "migration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QMetaType>
#include <QPluginLoader>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <array>
#include <iostream>
#include <memory>

// QSettings decodes every value of a store when the store is first read, and Qt reports a value
// it cannot decode only as a warning. The warnings are therefore watched for the whole run: a
// store may be decoded by a probe long before its keys are copied.

namespace {

// Type ids of the values that failed to decode in this run. QMetaType::UnknownType stands for
// invalid values, once a value of a type unknown to this program has been met.
QSet<int> &unreadableTypes()
{
    static QSet<int> types;
    return types;
}

// While the GUI application starts, what it says about its own start-up is nobody's concern.
bool &quiet()
{
    static bool starting = false;
    return starting;
}

void watchMessages(QtMsgType, const QMessageLogContext &, const QString &message)
{
    // The value then has type N and holds nothing.
    static const QRegularExpression typeNotLoaded(QStringLiteral("^QVariant::load: unable to load type (\\d+)\\.$"));
    // The value is then invalid, like a value that was stored invalid (an empty string list is).
    static const QRegularExpression typeUnknown(QStringLiteral("^QVariant::load: unknown user type with name "));
    // Without a GUI application, pixmaps and the icons made of them arrive empty.
    static const QRegularExpression pixmapNotMade(QStringLiteral("^QPixmap\\b.*\\bQGuiApplication\\b"));

    const QRegularExpressionMatch notLoaded = typeNotLoaded.match(message);
    if (notLoaded.hasMatch())
        unreadableTypes().insert(notLoaded.captured(1).toInt());
    else if (typeUnknown.match(message).hasMatch())
        unreadableTypes().insert(QMetaType::UnknownType);
    else if (pixmapNotMade.match(message).hasMatch())
        unreadableTypes().unite({QMetaType::QPixmap, QMetaType::QBitmap, QMetaType::QIcon, QMetaType::QCursor,
                                 QMetaType::QBrush, QMetaType::QPen, QMetaType::QPalette, QMetaType::QTextFormat});
    else if (!quiet())
        std::cout << "warning: " << message.toStdString() << std::endl;
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

}  // namespace

QStringList startApplication(int &argc, char **argv)
{
    holdBackStandardError();
    qInstallMessageHandler(watchMessages);
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
    // Where no runtime folder is set up (as for an installer running as root), Qt GUI would make
    // one of its own in the temporary folder and leave it there; it gets a private one instead,
    // needed only while the application starts, and gone once it has.
    const QByteArray runtimeFolder = qgetenv("XDG_RUNTIME_DIR");
    const bool ownRuntimeFolder = !QFileInfo(QFile::decodeName(runtimeFolder)).isDir();
    const std::unique_ptr<QTemporaryDir> runtime(ownRuntimeFolder ? new QTemporaryDir : nullptr);
    if (ownRuntimeFolder)
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime->path()));
    quiet() = true;
    application() = new QGuiApplication(guiArgc, guiArgv.data());
    takeLibraryMessages();
    quiet() = false;
    if (ownRuntimeFolder)
        qputenv("XDG_RUNTIME_DIR", runtimeFolder);
}

void reportLibraryMessages()
{
    for (const QString &message : takeLibraryMessages())
        std::cout << "warning: " << message.toStdString() << std::endl;
}

bool isUnreadable(const QVariant &value)
{
    if (unreadableTypes().contains(value.userType()))
        return true;
    // A list or map holding an element that failed to decode would store that element as nothing.
    if (value.userType() == QMetaType::QVariantList) {
        const QVariantList elements = value.toList();
        return std::any_of(elements.cbegin(), elements.cend(), isUnreadable);
    }
    if (value.userType() == QMetaType::QVariantMap || value.userType() == QMetaType::QVariantHash) {
        const QVariantMap elements = value.toMap();
        return std::any_of(elements.cbegin(), elements.cend(), isUnreadable);
    }
    return false;
}
