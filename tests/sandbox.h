#pragma once

// Every test keeps its settings stores in a temporary folder of its own: system-scope stores in
// system/, per-user stores in user/, for this process and for the programs it starts.

#include <QByteArray>
#include <QProcess>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

inline void enterSandbox(const QTemporaryDir &sandbox)
{
    QVERIFY(sandbox.isValid());
    const QString system = sandbox.filePath(QStringLiteral("system"));
    const QString user = sandbox.filePath(QStringLiteral("user"));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(system));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(user));
    // QSettings reads the environment once per process; later sandboxes are set directly.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::SystemScope, system);
        QSettings::setPath(format, QSettings::UserScope, user);
    }
}

inline QString storeFile(const QString &organization, const QString &applicationName)
{
    return QSettings(QSettings::SystemScope, organization, applicationName).fileName();
}

// A test class whose every test function starts in a sandbox of its own.
class SandboxedTest : public QObject
{
    Q_OBJECT

public slots:
    void init()  // QtTest calls it before each test function
    {
        sandbox.reset(new QTemporaryDir);
        enterSandbox(*sandbox);
    }

protected:
    QScopedPointer<QTemporaryDir> sandbox;
};

// Waits for a started program; checks that it exits normally with status 0 and writes nothing on
// standard error, and hands back what it wrote on standard output.
inline void finish(QProcess &process, QString *output)
{
    QVERIFY2(process.waitForFinished(120000), qPrintable(process.errorString()));
    *output = QString::fromUtf8(process.readAllStandardOutput());
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()), QString());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

inline void runProgram(const QString &program, const QStringList &arguments, QString *output,
                       const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    finish(process, output);
}
