// The text of INI stores, read the way QSettings reads it, so that keys can be carried from one
// store into another as their lines stand, never decoded and written back: what each application
// read from a value, whichever Qt and text encoding it uses, it reads again.

#include "migration.h"

#include <QHash>
#include <QVector>

#include <algorithm>

namespace {

struct Entry {
    QString key;  // the full key path, as QSettings names it
    int section;  // index into Parsed::sections
    int start;    // the line's bytes, [start, end)
    int end;
};

struct Section {
    QString path;  // "" for the keys outside any group, else "<group>/"
    int headerStart;  // its "[...]" line, [headerStart, headerEnd); -1 for the keys before any
    int headerEnd;
    int end;  // where its last line ends
    bool used;
};

struct Parsed {
    QVector<Section> sections;
    QVector<Entry> entries;
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isSpecial(char c)
{
    return c == '\n' || c == '\r' || c == '"' || c == ';' || c == '=' || c == '\\';
}

// The next logical line from `position`, as QSettings splits them: comments (";" first) are
// skipped, a backslash escapes the line break after it, and quotes hold line breaks and ";".
bool readLine(const QByteArray &data, int &position, int &lineStart, int &lineEnd, int &equalsAt)
{
    const int size = data.size();
    bool inQuotes = false;
    equalsAt = -1;
    lineStart = position;
    while (lineStart < size && isSpace(data.at(lineStart)))
        ++lineStart;
    int i = lineStart;
    while (i < size) {
        const char c = data.at(i++);
        if (!isSpecial(c))
            continue;
        if (c == '=') {
            if (!inQuotes && equalsAt == -1)
                equalsAt = i - 1;
        } else if (c == '\n' || c == '\r') {
            if (i == lineStart + 1) {
                ++lineStart;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i < size) {
                const char next = data.at(i++);
                if (i < size && ((next == '\n' && data.at(i) == '\r') || (next == '\r' && data.at(i) == '\n')))
                    ++i;
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (i == lineStart + 1) {  // ';' opens a comment line
            while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
                ++i;
            while (i < size && isSpace(data.at(i)))
                ++i;
            lineStart = i;
        } else if (!inQuotes) {  // ';' ends the line
            --i;
            break;
        }
    }
    position = i;
    lineEnd = i;
    return lineEnd > lineStart;
}

// A key or group name as QSettings reads it: "\" separates groups, %XX and %UXXXX escape
// characters; other bytes stand for themselves.
QString unescapedKey(const QByteArray &data, int from, int to)
{
    QString result;
    for (int i = from; i < to;) {
        const char c = data.at(i);
        if (c == '\\') {
            result += QLatin1Char('/');
            ++i;
            continue;
        }
        const int digits = i + 1 < to && data.at(i + 1) == 'U' ? 4 : 2;
        const int first = i + (digits == 4 ? 2 : 1);
        bool ok = false;
        const int code = c == '%' && first + digits <= to ? data.mid(first, digits).toInt(&ok, 16) : 0;
        if (ok) {
            result += QChar(code);
            i = first + digits;
        } else {
            result += QLatin1Char(c);
            ++i;
        }
    }
    return result;
}

QString sectionPath(const QByteArray &data, int lineStart, int lineEnd)
{
    int close = data.indexOf(']', lineStart);
    if (close == -1 || close >= lineEnd)
        close = lineEnd;
    const QByteArray name = data.mid(lineStart + 1, close - lineStart - 1).trimmed();
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        return {};
    if (name.compare("%general", Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(name.mid(1)) + QLatin1Char('/');
    return unescapedKey(name, 0, name.size()) + QLatin1Char('/');
}

bool hasByteOrderMark(const QByteArray &data)
{
    return data.startsWith("\xef\xbb\xbf");
}

Parsed parse(const QByteArray &data)
{
    Parsed parsed;
    int position = hasByteOrderMark(data) ? 3 : 0;
    parsed.sections.append({QString(), -1, -1, position, false});  // keys before any group header
    int lineStart = 0;
    int lineEnd = 0;
    int equalsAt = 0;
    while (readLine(data, position, lineStart, lineEnd, equalsAt)) {
        if (data.at(lineStart) == '[') {
            parsed.sections.append({sectionPath(data, lineStart, lineEnd), lineStart, lineEnd, lineEnd, true});
            continue;
        }
        if (equalsAt == -1)
            continue;  // no key: QSettings passes over it
        int keyEnd = equalsAt;
        while (keyEnd > lineStart && (data.at(keyEnd - 1) == ' ' || data.at(keyEnd - 1) == '\t'))
            --keyEnd;
        Section &section = parsed.sections.last();
        parsed.entries.append({section.path + unescapedKey(data, lineStart, keyEnd),
                               static_cast<int>(parsed.sections.size()) - 1, lineStart, lineEnd});
        section.end = lineEnd;
        section.used = true;
    }
    return parsed;
}

// The last section of `parsed` with this path that lines can be added to, or -1.
int lastSection(const Parsed &parsed, const QString &path)
{
    for (int i = static_cast<int>(parsed.sections.size()) - 1; i >= 0; --i)
        if (parsed.sections.at(i).used && parsed.sections.at(i).path == path)
            return i;
    return -1;
}

}  // namespace

bool iniHoldsKeys(const QByteArray &text)
{
    return !parse(text).entries.isEmpty();
}

QByteArray mergeIniText(const QByteArray &into, const QByteArray &from)
{
    const Parsed target = parse(into);
    const Parsed source = parse(from);
    QHash<QString, int> targetLines;  // the line QSettings takes a key's value from: its last
    for (int i = 0; i < target.entries.size(); ++i)
        targetLines.insert(target.entries.at(i).key, i);
    QHash<QString, int> sourceLines;
    for (int i = 0; i < source.entries.size(); ++i)
        sourceLines.insert(source.entries.at(i).key, i);

    struct Edit {
        int at;
        int length;
        QByteArray text;
    };
    QVector<Edit> edits;
    QVector<QString> newSections;           // in the order the source has them
    QHash<QString, QByteArray> newSectionText;  // header and lines
    for (int i = 0; i < source.entries.size(); ++i) {
        const Entry &entry = source.entries.at(i);
        if (sourceLines.value(entry.key) != i)
            continue;  // a later line of the source holds the key's value
        const QByteArray line = from.mid(entry.start, entry.end - entry.start);
        const Section &section = source.sections.at(entry.section);
        if (targetLines.contains(entry.key)) {
            const Entry &replaced = target.entries.at(targetLines.value(entry.key));
            edits.append({replaced.start, replaced.end - replaced.start, line});
        } else if (const int at = lastSection(target, section.path); at >= 0) {
            edits.append({target.sections.at(at).end, 0, '\n' + line});
        } else {
            if (!newSectionText.contains(section.path)) {
                newSections.append(section.path);
                newSectionText.insert(section.path,
                                      section.headerStart < 0
                                          ? QByteArray("[General]")
                                          : from.mid(section.headerStart, section.headerEnd - section.headerStart));
            }
            newSectionText[section.path] += '\n' + line;
        }
    }
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.at < b.at; });

    QByteArray merged = hasByteOrderMark(from) && !hasByteOrderMark(into) ? QByteArray("\xef\xbb\xbf") : QByteArray();
    int copied = 0;
    for (const Edit &edit : edits) {
        merged += into.mid(copied, edit.at - copied) + edit.text;
        copied = edit.at + edit.length;
    }
    merged += into.mid(copied);
    for (const QString &path : newSections) {
        if (!merged.isEmpty() && !merged.endsWith('\n'))
            merged += '\n';
        if (!merged.isEmpty())
            merged += '\n';
        merged += newSectionText.value(path) + '\n';
    }
    return merged;
}
