// Plays an application version the way a real one keeps its machine-wide settings: a GUI
// application with a value type of its own, writing every kind of value it may store, or reading
// them back as the next version would.
//
//   fixture_app write|check <organization> <store> qt|all
//
// "qt" keeps Qt's value types only, "all" adds the application's own type and a pixmap, which a
// console program cannot carry. check prints one line per value that did not arrive as written
// and exits 0 either way.

#include <QBrush>
#include <QColor>
#include <QDataStream>
#include <QDateTime>
#include <QFont>
#include <QGuiApplication>
#include <QKeySequence>
#include <QPixmap>
#include <QRect>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>
#include <QUrl>

#include <iostream>

struct Gadget {
    qint32 number = 0;
    QString label;
    bool operator==(const Gadget &other) const { return number == other.number && label == other.label; }
};
Q_DECLARE_METATYPE(Gadget)

QDataStream &operator<<(QDataStream &stream, const Gadget &gadget)
{
    return stream << gadget.number << gadget.label;
}
// cppcheck-suppress constParameter
QDataStream &operator>>(QDataStream &stream, Gadget &gadget)
{
    return stream >> gadget.number >> gadget.label;
}

namespace {

QVariantMap fixture()
{
    QVariantMap values;
    values[QStringLiteral("colour")] = QColor(10, 20, 30, 40);
    values[QStringLiteral("font")] = QFont(QStringLiteral("DejaVu Sans"), 13, QFont::Bold, true);
    values[QStringLiteral("shortcut")] = QKeySequence(QStringLiteral("Ctrl+Shift+K"));
    values[QStringLiteral("brush")] = QBrush(QColor(1, 2, 3), Qt::Dense4Pattern);
    values[QStringLiteral("when")] = QDateTime(QDate(2026, 12, 6), QTime(19, 37, 10, 123), Qt::UTC);
    values[QStringLiteral("bytes")] = QByteArray("\x00\xff\x01,\"=\n", 7);
    values[QStringLiteral("list")] =
        QStringList{QStringLiteral("a,b"), QStringLiteral("\"quoted\""), QStringLiteral("semi;colon"), QString()};
    values[QStringLiteral("emptyList")] = QStringList();
    values[QStringLiteral("rect")] = QRect(1, -2, 300, 400);
    values[QStringLiteral("size")] = QSize(640, 480);
    values[QStringLiteral("url")] = QUrl(QStringLiteral("https://example.com/a b?x=\u00fc"));
    values[QStringLiteral("int")] = 42;
    values[QStringLiteral("bool")] = true;
    values[QStringLiteral("double")] = 0.1;
    values[QStringLiteral("gr\u00f6\u00dfe/\u043a\u043b\u044e\u0447")] =
        QStringLiteral("\u0437\u043d\u0430\u0447 \u2713 \U0001F600");
    values[QStringLiteral("Window/Layout/Splitter")] = QByteArray("\x01\x02", 2);
    return values;
}

QVariantMap ownTypes()
{
    QPixmap pixmap(4, 3);
    pixmap.fill(Qt::red);
    return {{QStringLiteral("custom"), QVariant::fromValue(Gadget{7, QStringLiteral("seven")})},
            {QStringLiteral("pixmap"), pixmap}};
}

}  // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "minimal");
    const QTemporaryDir runtime;  // a GUI application wants a private runtime folder
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QGuiApplication application(argc, argv);
    qRegisterMetaTypeStreamOperators<Gadget>("Gadget");
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 5)
        return 2;
    const bool all = arguments.at(4) == QLatin1String("all");
    QSettings store(QSettings::SystemScope, arguments.at(2), arguments.at(3));

    const QVariantMap values = fixture();
    if (arguments.at(1) == QLatin1String("write")) {
        const QVariantMap extra = all ? ownTypes() : QVariantMap();
        for (const QVariantMap &map : {values, extra})
            for (auto value = map.cbegin(); value != map.cend(); ++value)
                store.setValue(value.key(), value.value());
        return 0;
    }

    // The next version reads each value as the type it expects. Once the store met values that a
    // console program cannot read, the empty list (stored as an invalid value) must be left out too.
    const QStringList missing =
        all ? QStringList{QStringLiteral("custom"), QStringLiteral("pixmap"), QStringLiteral("emptyList")}
            : QStringList();
    for (auto expected = values.cbegin(); expected != values.cend(); ++expected) {
        if (missing.contains(expected.key()))
            continue;
        QVariant stored = store.value(expected.key());
        // Qt keeps an empty string list as an invalid value.
        if (!stored.isValid() && expected.value() == QVariant(QStringList()))
            continue;
        if (!stored.convert(expected.value().userType()) || stored != expected.value())
            std::cout << "changed: " << expected.key().toStdString() << std::endl;
    }
    for (const QString &key : missing)
        if (store.contains(key))
            std::cout << "present: " << key.toStdString() << std::endl;
    return 0;
}
