// The application objects, and where Qt's messages go: Qt writes its warnings to standard error,
// which this program keeps silent, and says only by warnings that it failed to decode a value.

#include "migration.h"

#include <QCoreApplication>

namespace {

void printWarning(Run &run, const QString &message)
{
    if (run.printedWarnings.contains(message))
        return;
    run.printedWarnings.insert(message);
    printLine(QStringLiteral("warning: ") + printable(message));
}

// Qt hands its handler no context: the run is the one under way.
void routeMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    Run &run = Run::current();
    if (!noteMessage(run, message))
        printWarning(run, message);
}

}  // namespace

QStringList startApplication(Run &run, int &argc, char **argv)
{
    // The run must end with status 0 and its work done: no warning may abort it.
    qunsetenv("QT_FATAL_WARNINGS");
    qunsetenv("QT_FATAL_CRITICALS");
    prepareProcess(run);
    qInstallMessageHandler(routeMessage);
    run.application = new QCoreApplication(argc, argv);
    return QCoreApplication::arguments();
}

void reportLibraryMessages(Run &run)
{
    for (const QString &message : takeLibraryMessages(run)) {
        noteMessage(run, message);
        printWarning(run, message);
    }
}
