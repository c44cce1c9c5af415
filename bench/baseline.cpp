// The settings facility's own cost: the store operations a migration run performs, called on
// QSettings directly in the tightest loop, with nothing else around them.
//
//   settings_baseline search <organization> <application> <major> <minor>
//   settings_baseline migrate <organization> <application> <major> <minor>
//   settings_baseline seed <organization> <store> <keys> [<groups> [<group name>]]
//   settings_baseline forget <organization> <version>     removes the version's stores
//
// It loads Qt Core alone, as the migrator does.

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <array>

namespace {

const std::array<const char *, 3> groups{"DefaultSettings", "DefaultSettingsModificationCounterSystem",
                                         "ForcedSettings"};
const std::array<const char *, 4> levels{"", " beta", " alpha", " prealpha"};

QString versionName(const QString &application, int major, int minor)
{
    return application + QLatin1String(" x64 ") + QString::number(major) + '.' + QString::number(minor);
}

// The probe of one store: its own keys, and an empty store cleared.
bool probe(const QString &organization, const QString &store)
{
    QSettings settings(QSettings::SystemScope, organization, store);
    settings.setFallbacksEnabled(false);
    if (!settings.allKeys().isEmpty())
        return true;
    settings.remove(QString());
    return false;
}

bool probeVersion(const QString &organization, const QString &version)
{
    for (const char *group : groups)
        if (probe(organization, version + '.' + QLatin1String(group)))
            return true;
    return false;
}

// What a run does before it copies: the write probe, the new version's stores, then the candidates.
QString search(const QString &organization, const QString &application, int major, int minor)
{
    static_cast<void>(
        QSettings(QSettings::SystemScope, QStringLiteral("Vantorel"), QStringLiteral("probe")).isWritable());
    if (probeVersion(organization, versionName(application, major, minor)))
        return {};
    int top = minor == 0 ? 20 : minor - 1;
    for (int m = minor == 0 ? major - 1 : major; m >= 3; --m, top = 20)
        for (int n = top; n >= 0; --n)
            for (const char *level : levels) {
                QString candidate = versionName(application, m, n) + QLatin1String(level);
                if (probeVersion(organization, candidate))
                    return candidate;
            }
    return {};
}

}  // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 6 && arguments.at(1) == QLatin1String("search")) {
        search(arguments.at(2), arguments.at(3), arguments.at(4).toInt(), arguments.at(5).toInt());
    } else if (arguments.size() == 6 && arguments.at(1) == QLatin1String("migrate")) {
        const QString &organization = arguments.at(2);
        const QString from = search(organization, arguments.at(3), arguments.at(4).toInt(), arguments.at(5).toInt());
        const QString to = versionName(arguments.at(3), arguments.at(4).toInt(), arguments.at(5).toInt());
        for (const char *group : groups) {
            QSettings source(QSettings::SystemScope, organization, from + '.' + QLatin1String(group));
            source.setFallbacksEnabled(false);
            QSettings destination(QSettings::SystemScope, organization, to + '.' + QLatin1String(group));
            for (const QString &key : source.allKeys())
                destination.setValue(key, source.value(key));
        }
    } else if (arguments.size() >= 5 && arguments.size() <= 7 && arguments.at(1) == QLatin1String("seed")) {
        QSettings store(QSettings::SystemScope, arguments.at(2), arguments.at(3));
        const int sections = arguments.size() >= 6 ? arguments.at(5).toInt() : 50;
        const QString section = arguments.size() == 7 ? arguments.at(6) : QStringLiteral("Section");
        for (int key = 0; key < arguments.at(4).toInt(); ++key)
            store.setValue(section + QStringLiteral("%1/key%2").arg(key % sections).arg(key),
                           QStringLiteral("value %1").arg(key));
    } else if (arguments.size() == 4 && arguments.at(1) == QLatin1String("forget")) {
        for (const char *group : groups) {
            QSettings store(QSettings::SystemScope, arguments.at(2), arguments.at(3) + '.' + QLatin1String(group));
            store.remove(QString());
            store.sync();
            QFile::remove(store.fileName());  // where stores are files
        }
    } else {
        return 2;
    }
    return 0;
}
