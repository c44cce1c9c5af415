#include "migration.h"

#include <QMetaType>
#include <QRegularExpression>
#include <QVariant>

#include <algorithm>

// QSettings decodes the values of a store as it reads them, and Qt reports a value it cannot
// decode only as a warning: the warnings are therefore watched for the whole run (see
// application.cpp), and the run remembers of each store whether reading it produced one
// (store.cpp).

namespace {

bool isEmptyContainer(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::QVariantList:
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        return value.toList().isEmpty() && value.toMap().isEmpty() && value.toHash().isEmpty();
    default:
        return false;
    }
}

}  // namespace

bool noteMessage(Run &run, const QString &message)
{
    // The value then has type N and holds nothing.
    static const QRegularExpression typeNotLoaded(QStringLiteral("^QVariant::load: unable to load type (\\d+)\\.$"));
    // The value is then invalid, and every list or map around it empty.
    static const QRegularExpression typeUnknown(QStringLiteral("^QVariant::load: unknown user type with name "));
    // Without a GUI application, pixmaps and the icons made of them arrive empty.
    static const QRegularExpression pixmapNotMade(QStringLiteral("^QPixmap\\b.*\\bQGuiApplication\\b"));

    ++run.messagesNoted;
    const QRegularExpressionMatch notLoaded = typeNotLoaded.match(message);
    if (notLoaded.hasMatch()) {
        run.undecodableTypes.insert(notLoaded.captured(1).toInt());
        return true;
    }
    if (pixmapNotMade.match(message).hasMatch()) {
        run.undecodableTypes.unite({QMetaType::QPixmap, QMetaType::QBitmap, QMetaType::QIcon, QMetaType::QCursor,
                                    QMetaType::QBrush, QMetaType::QPen, QMetaType::QPalette, QMetaType::QTextFormat});
        return true;
    }
    return typeUnknown.match(message).hasMatch();
}

int messagesNoted()
{
    return Run::current().messagesNoted;
}

bool isUndecodable(const QVariant &value, bool decodeFailed)
{
    if (Run::current().undecodableTypes.contains(value.userType()))
        return true;
    // An empty string list is also stored as an invalid value, and an empty list is empty: only
    // where Qt said it failed are they taken for what it emptied.
    if (decodeFailed && (value.isNull() || isEmptyContainer(value)))
        return true;
    const auto undecodable = [decodeFailed](const QVariant &element) { return isUndecodable(element, decodeFailed); };
    if (value.userType() == QMetaType::QVariantList) {
        const QVariantList elements = value.toList();
        return std::any_of(elements.cbegin(), elements.cend(), undecodable);
    }
    if (value.userType() == QMetaType::QVariantMap || value.userType() == QMetaType::QVariantHash) {
        const QVariantMap elements = value.toMap();
        return std::any_of(elements.cbegin(), elements.cend(), undecodable);
    }
    return false;
}

QString printable(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar character : text) {
        if (character.unicode() < 0x20 || character.unicode() == 0x7f)
            result += QStringLiteral("\\x%1").arg(character.unicode(), 2, 16, QLatin1Char('0'));
        else
            result += character;
    }
    return result;
}
