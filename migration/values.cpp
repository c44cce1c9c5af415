#include "migration.h"

#include <QColor>
#include <QMetaType>
#include <QRegularExpression>
#include <QSet>
#include <QVariant>

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

QtMessageHandler &passOn()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

void recordUnreadableValues(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // The value then has type N and holds nothing.
    static const QRegularExpression typeNotLoaded(QStringLiteral("^QVariant::load: unable to load type (\\d+)\\.$"));
    // The value is then invalid, like a value that was stored invalid (an empty string list is).
    static const QRegularExpression typeUnknown(QStringLiteral("^QVariant::load: unknown user type with name "));
    // Pixmaps, and bitmaps and icons made of them, need a GUI application: they arrive empty.
    static const QRegularExpression pixmapNotMade(QStringLiteral("^QPixmap\\b.*\\bQGuiApplication\\b"));

    const QRegularExpressionMatch notLoaded = typeNotLoaded.match(message);
    if (notLoaded.hasMatch())
        unreadableTypes().insert(notLoaded.captured(1).toInt());
    else if (typeUnknown.match(message).hasMatch())
        unreadableTypes().insert(QMetaType::UnknownType);
    else if (pixmapNotMade.match(message).hasMatch())
        unreadableTypes().unite({QMetaType::QPixmap, QMetaType::QBitmap, QMetaType::QIcon});
    else
        passOn()(type, context, message);
}

}  // namespace

void watchForUnreadableValues()
{
    // Qt GUI registers the load and save operations of its value types (colours, fonts, key
    // sequences, brushes, ...) as it is loaded; using one of its symbols keeps linkers that drop
    // unused libraries from leaving it out. No GUI application or display is needed for them.
    static_cast<void>(QColor(Qt::black));
    passOn() = qInstallMessageHandler(recordUnreadableValues);
}

bool isUnreadable(const QVariant &value)
{
    return unreadableTypes().contains(value.userType());
}
