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
    QString path;     // "" for the keys outside any group, else "<group>/"
    int headerStart;  // its "[...]" line, [headerStart, headerEnd); -1 for the keys before any
    int headerEnd;
    int end;  // where its last line ends
    bool used;
};

struct Parsed {
    QVector<Section> sections;
    QVector<Entry> entries;
    bool malformed = false;  // a line QSettings reports as a format error
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

// The text's groups and keys; with `firstKeyOnly`, up to the first key.
Parsed parse(const QByteArray &data, bool firstKeyOnly = false)
{
    Parsed parsed;
    // After a byte order mark, as QSettings reads it. (Qt 5 then reads the mark as part of a key
    // on the first line, Qt 6 does not: such a key cannot be matched for both.)
    int position = data.startsWith("\xef\xbb\xbf") ? 3 : 0;
    parsed.sections.append({QString(), -1, -1, position, false});  // keys before any group header
    int lineStart = 0;
    int lineEnd = 0;
    int equalsAt = 0;
    while (readLine(data, position, lineStart, lineEnd, equalsAt)) {
        if (data.at(lineStart) == '[') {
            const int close = data.indexOf(']', lineStart);
            parsed.malformed = parsed.malformed || close == -1 || close >= lineEnd;
            parsed.sections.append({sectionPath(data, lineStart, lineEnd), lineStart, lineEnd, lineEnd, true});
            continue;
        }
        if (equalsAt == -1) {
            parsed.malformed = true;  // no key: QSettings passes over it, and says so
            continue;
        }
        int keyEnd = equalsAt;
        while (keyEnd > lineStart && (data.at(keyEnd - 1) == ' ' || data.at(keyEnd - 1) == '\t'))
            --keyEnd;
        Section &section = parsed.sections.last();
        parsed.entries.append({section.path + unescapedKey(data, lineStart, keyEnd),
                               static_cast<int>(parsed.sections.size()) - 1, lineStart, lineEnd});
        section.end = lineEnd;
        section.used = true;
        if (firstKeyOnly)
            break;
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

// For each key, the line QSettings takes its value from. It reads the groups in the order of
// their names, a group's lines (wherever they stand) in the order they stand, and the last line
// read for a key wins.
QHash<QString, int> valueLines(const Parsed &parsed)
{
    QHash<QString, int> lines;
    const auto path = [&](int entry) { return parsed.sections.at(parsed.entries.at(entry).section).path; };
    for (int i = 0; i < parsed.entries.size(); ++i) {
        const auto found = lines.constFind(parsed.entries.at(i).key);
        if (found == lines.cend() || !(path(i) < path(*found)))
            lines.insert(parsed.entries.at(i).key, i);
    }
    return lines;
}

// Where the line holding `position` ends, after any comment that follows on it.
int physicalLineEnd(const QByteArray &text, int position)
{
    const int end = text.indexOf('\n', position);
    return end < 0 ? static_cast<int>(text.size()) : end;
}

struct Edit {
    int at;  // bytes [at, at + length) of the text are replaced
    int length;
    bool newSection;  // a group added at the end, after the lines added to the text's last group
    QByteArray text;
};

QByteArray applied(const QByteArray &text, QVector<Edit> edits)
{
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) {
        return a.at < b.at || (a.at == b.at && !a.newSection && b.newSection);
    });
    QByteArray result;
    int copied = 0;
    for (const Edit &edit : edits) {
        result += text.mid(copied, edit.at - copied) + edit.text;
        copied = edit.at + edit.length;
    }
    return result + text.mid(copied);
}

}  // namespace

IniKeys iniKeys(const QByteArray &text, bool prefix)
{
    const Parsed parsed = parse(text, true);
    if (!parsed.entries.isEmpty())
        return IniKeys::Some;
    return parsed.malformed && !prefix ? IniKeys::Malformed : IniKeys::None;
}

QByteArray mergeIniText(const QByteArray &into, const QByteArray &from)
{
    const Parsed target = parse(into);
    const Parsed source = parse(from);
    const QHash<QString, int> targetValues = valueLines(target);
    QHash<QString, QVector<int>> targetLines;
    for (int i = 0; i < target.entries.size(); ++i)
        targetLines[target.entries.at(i).key].append(i);
    QVector<Edit> edits;
    QHash<QString, int> newSections;  // groups `into` lacks, each an edit at its end
    const QList<int> values = valueLines(source).values();
    QVector<int> carried(values.cbegin(), values.cend());
    std::sort(carried.begin(), carried.end());  // in the order the source has them
    for (const int i : carried) {
        const Entry &entry = source.entries.at(i);
        const QByteArray line = from.mid(entry.start, entry.end - entry.start);
        const QString &path = source.sections.at(entry.section).path;
        // The destination's lines for the key go; the one it reads stands in for the source's
        // where both lie in the same group ("a\k=" outside any group names the same key as "k="
        // in the group "a", but cannot be swapped for it).
        bool placed = false;
        for (const int old : targetLines.value(entry.key)) {
            const Entry &replaced = target.entries.at(old);
            const bool here = old == targetValues.value(entry.key) && target.sections.at(replaced.section).path == path;
            edits.append({replaced.start, replaced.end - replaced.start, false, here ? line : QByteArray()});
            placed = placed || here;
        }
        if (placed)
            continue;
        if (const int at = lastSection(target, path); at >= 0) {
            edits.append({physicalLineEnd(into, target.sections.at(at).end), 0, false, '\n' + line});
            continue;
        }
        if (!newSections.contains(path)) {
            const Section &section = source.sections.at(entry.section);
            const bool first = newSections.isEmpty();
            const QByteArray gap = first && into.isEmpty() ? "" : first && !into.endsWith('\n') ? "\n\n" : "\n";
            const QByteArray header = section.headerStart < 0
                                          ? QByteArray("[General]")
                                          : from.mid(section.headerStart, section.headerEnd - section.headerStart);
            newSections.insert(path, static_cast<int>(edits.size()));
            edits.append({static_cast<int>(into.size()), 0, true, gap + header});
        }
        edits[newSections.value(path)].text += '\n' + line;
    }
    for (const int index : newSections)
        edits[index].text += '\n';
    return applied(into, edits);
}
