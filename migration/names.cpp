#include "migration.h"

#include <QRegularExpression>

QStringList settingsGroups()
{
    return {QStringLiteral("DefaultSettings"), QStringLiteral("DefaultSettingsModificationCounterSystem"),
            QStringLiteral("ForcedSettings")};
}

QStringList betaLevels()
{
    return {QString(), QStringLiteral("beta"), QStringLiteral("alpha"), QStringLiteral("prealpha")};
}

QString composeVersionName(const QString &applicationName, int major, int minor, const QString &betaLevel)
{
    QString name =
        applicationName + QLatin1Char(' ') + QString::number(major, 10) + QLatin1Char('.') + QString::number(minor, 10);
    if (!betaLevel.isEmpty() && betaLevel != QLatin1String("release"))
        name += QLatin1Char(' ') + betaLevel;
    return name;
}

QString composeCandidateName(const QString &applicationName, int major, int minor, int betaIndex)
{
    return composeVersionName(applicationName, major, minor, betaLevels().at(betaIndex));
}

QString ownOrganization()
{
    return QStringLiteral("Vantorel");
}

QString composeStoreName(const QString &versionName, const QString &group)
{
    return versionName + QLatin1Char('.') + group;
}

bool climbsOutOfFolder(const QString &name)
{
    static const QRegularExpression separator(QStringLiteral("[/\\\\]"));
    return name.split(separator).contains(QStringLiteral(".."));
}
