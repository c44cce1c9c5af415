// The application objects, and where Qt's messages go: Qt writes its warnings to standard error,
// which this program keeps silent, and says only by warnings that it failed to decode a value.

#include "migration.h"

#include <QCoreApplication>
#include <QSet>

#include <iostream>

namespace {

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
    if (!noteMessage(message))
        printWarning(message);
}

}  // namespace

QCoreApplication *&ownApplication()
{
    // Lives until the process ends: it is never destroyed at exit, when Qt's own globals go.
    static QCoreApplication *instance = nullptr;
    return instance;
}

QStringList startApplication(int &argc, char **argv)
{
    // The run must end with status 0 and its work done: no warning may abort it.
    qunsetenv("QT_FATAL_WARNINGS");
    qunsetenv("QT_FATAL_CRITICALS");
    prepareProcess();
    qInstallMessageHandler(routeMessage);
    ownApplication() = new QCoreApplication(argc, argv);
    return QCoreApplication::arguments();
}

void reportLibraryMessages()
{
    for (const QString &message : takeLibraryMessages()) {
        noteMessage(message);
        printWarning(message);
    }
}
