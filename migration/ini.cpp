// The text of INI stores, read the way QSettings reads it, so that keys can be carried from one
// store into another as their lines stand, never decoded and written back: what each application
// read from a value, whichever Qt and text encoding it uses, it reads again.
//
// Qt 5 and Qt 6 split a text into the same lines, but do not always read the same key from a
// line: Qt 5 takes a key's bytes as Latin-1, Qt 6 decodes them as UTF-8 (a byte order mark at
// the key's start dropped) and trims vertical tabs and form feeds too; in "%XX" escapes Qt 5
// takes a minus sign, Qt 6 does not. So every line has a key for each, and a merge has to serve
// both. (Qt 5 with a UTF-8 codec reads the keys as Qt 5 does.)

#include "migration.h"

#include <QHash>
#include <QStringView>
#include <QVector>

#include <algorithm>
#include <array>

namespace {

enum Reader { Qt5, Qt6, Readers };

// What a line leaves open where it ends, so that text written after it would join it.
struct Tail {
    bool quoted = false;     // a quote runs to the end of the text
    bool backslash = false;  // a backslash is the text's last byte
    char escapedBreak = 0;   // the line ends with a line break a backslash escapes: the next break would pair with it
};

struct Line {
    int start;  // the line's bytes, [start, end); 0 for a key Qt reads with the byte order mark
    int end;
    int section;                       // index into Parsed::sections
    std::array<QString, Readers> key;  // the full key path, as each Qt names it
    std::array<uint, Readers> hash;    // of each key
    Tail tail;
    bool ascii;  // the value holds no byte beyond ASCII (which Qt 5 reads by the store's encoding)
};

struct Section {
    std::array<QString, Readers> path;  // "" for the keys outside any group, else "<group>/"
    int headerStart;                    // its "[...]" line, [headerStart, headerEnd); -1 for the keys before any
    int headerEnd;
    Tail headerTail;
    int last;  // index of its last key line, -1 if none
};

struct Parsed {
    QVector<Section> sections;
    QVector<Line> lines;     // the key lines
    bool malformed = false;  // a line QSettings reports as a format error
    bool bom = false;        // a UTF-8 byte order mark: Qt 5 then reads every value of the text as UTF-8
    bool agree = true;       // Qt 5 and Qt 6 read every key and group alike
    int endLine = -2;        // the line that runs to the text's end: a key line, -1 another, -2 none
    Tail endTail;
    QByteArray lineBreak = "\n";  // the first the text uses
};

// Indexes by name (one name, or a group's two), over names kept elsewhere: an open-addressing
// table, which a store of many thousand keys fills far faster than a hash with a node per name.
class Names
{
public:
    explicit Names(int count = 0) : table(capacity(count)) {}
    // The value under the name, or -1.
    int value(QStringView name, uint hash, QStringView second = {}) const
    {
        const Slot &slot = table.at(find(name, hash, second));
        return slot.used ? slot.value : -1;
    }
    // The value under the name, made `value` where the name has none yet.
    int &insert(QStringView name, uint hash, QStringView second, int value)
    {
        Slot *slot = table.data() + find(name, hash, second);
        if (!slot->used) {
            slot->name = name;
            slot->second = second;
            slot->hash = hash;
            slot->value = value;
            slot->used = true;
        }
        return slot->value;
    }
    QVector<int> values() const
    {
        QVector<int> found;
        for (const Slot &slot : table)
            if (slot.used)
                found.append(slot.value);
        return found;
    }

private:
    struct Slot {
        QStringView name;
        QStringView second;
        uint hash = 0;
        int value = -1;
        bool used = false;
    };
    static int capacity(int count)
    {
        int size = 16;
        while (size < 2 * count)
            size *= 2;
        return size;
    }
    int find(QStringView name, uint hash, QStringView second) const
    {
        const int mask = static_cast<int>(table.size()) - 1;
        for (int i = static_cast<int>(hash & static_cast<uint>(mask));; i = (i + 1) & mask) {
            const Slot &slot = table.at(i);
            if (!slot.used || (slot.hash == hash && slot.name == name && slot.second == second))
                return i;
        }
    }
    QVector<Slot> table;
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isSpecial(char c)
{
    return c == '\n' || c == '\r' || c == '"' || c == ';' || c == '=' || c == '\\';
}

bool isBreak(char c)
{
    return c == '\n' || c == '\r';
}

// The next logical line from `position`, as QSettings splits them: comments (";" first) are
// skipped, a backslash escapes the character after it (a line break with its partner: "\r\n" or
// "\n\r"), and quotes hold line breaks and ";".
bool readLine(const QByteArray &data, int &position, int &lineStart, int &lineEnd, int &equalsAt, Tail &tail)
{
    const int size = static_cast<int>(data.size());
    bool inQuotes = false;
    bool backslash = false;
    int escapedBreakEnd = -1;
    char escapedBreak = 0;
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
        } else if (isBreak(c)) {
            if (i == lineStart + 1) {
                ++lineStart;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i == size) {
                backslash = true;
                break;
            }
            const char next = data.at(i++);
            if (i < size && ((next == '\n' && data.at(i) == '\r') || (next == '\r' && data.at(i) == '\n'))) {
                ++i;
            } else if (isBreak(next)) {
                escapedBreak = next;
                escapedBreakEnd = i;
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (i == lineStart + 1) {  // ';' opens a comment line
            while (i < size && !isBreak(data.at(i)))
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
    tail = {inQuotes, backslash, escapedBreakEnd == i ? escapedBreak : char(0)};
    return lineEnd > lineStart;
}

// What to write after a line that ends open before `next` (0: anything) is: its value reads as
// before ("\ " reads as nothing, and keeps the spaces before it as a backslash at the end did).
QByteArray closing(const Tail &tail, char next = 0)
{
    QByteArray text;
    if (tail.backslash)
        text += ' ';
    if (tail.quoted)
        text += '"';
    else if (tail.escapedBreak && (next == 0 || next == (tail.escapedBreak == '\n' ? '\r' : '\n')))
        text += tail.escapedBreak;  // a break after it can no longer pair with it
    return text;
}

bool isWhite(QChar c)
{
    return c == QLatin1Char(' ') || (c >= QLatin1Char('\t') && c <= QLatin1Char('\r'));
}

// The character a "%XX" or "%UXXXX" escape stands for, as Qt reads its digits (QByteArray::toInt,
// QString::toUShort, base 16): up to a NUL, white space around them, "+" (Qt 5 also "-"), "0x";
// -1 when they are no number.
int escapedCharacter(QString digits, Reader reader)
{
    if (const int nul = static_cast<int>(digits.indexOf(QChar(0))); nul >= 0)
        digits.truncate(nul);
    int from = 0;
    int to = static_cast<int>(digits.size());
    while (from < to && isWhite(digits.at(from)))
        ++from;
    while (to > from && isWhite(digits.at(to - 1)))
        --to;
    const bool negative = from < to && reader == Qt5 && digits.at(from) == QLatin1Char('-');
    if (from < to && (negative || digits.at(from) == QLatin1Char('+')))
        ++from;
    if (to - from > 2 && digits.at(from) == QLatin1Char('0') && digits.at(from + 1).toLower() == QLatin1Char('x'))
        from += 2;
    bool ok = from < to;
    int code = 0;
    for (; ok && from < to; ++from) {
        const int digit = QStringLiteral("0123456789abcdef").indexOf(digits.at(from).toLower());
        ok = digit >= 0;
        code = code * 16 + digit;
    }
    return !ok ? -1 : negative ? (-code) & 0xffff : code;
}

// A key or group name as one Qt reads it: "\" separates groups, %XX and %UXXXX escape characters.
QString unescapedKey(QByteArray bytes, Reader reader)
{
    QString text;
    if (reader == Qt5) {
        text = QString::fromLatin1(bytes);
    } else {
        bytes = bytes.trimmed();
        text = QString::fromUtf8(bytes);  // (which drops a byte order mark at the start)
    }
    QString result;
    const int size = static_cast<int>(text.size());
    for (int i = 0; i < size;) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\')) {
            result += QLatin1Char('/');
            ++i;
            continue;
        }
        const int digits = i + 1 < size && text.at(i + 1) == QLatin1Char('U') ? 4 : 2;
        const int first = i + (digits == 4 ? 2 : 1);
        const int code = c == QLatin1Char('%') && i + 1 < size && first + digits <= size
                             ? escapedCharacter(text.mid(first, digits), reader)
                             : -1;
        if (code >= 0) {
            result += QChar(code);
            i = first + digits;
        } else {
            result += c;
            ++i;
        }
    }
    return result;
}

// Whether both Qt read the bytes as the same name, Latin-1 alike (most keys are).
bool plain(const char *from, const char *to)
{
    return from == to || (from[0] != ' ' && to[-1] != ' ' &&
                          std::all_of(from, to, [](char c) { return c >= ' ' && c <= '~' && c != '%' && c != '\\'; }));
}

// The name as each Qt reads it; `agree` turns false where they differ.
std::array<QString, Readers> keys(const QByteArray &data, int from, int to, int trimmedTo, bool &agree)
{
    if (plain(data.constData() + from, data.constData() + trimmedTo)) {
        const QString name = QString::fromLatin1(data.constData() + from, trimmedTo - from);
        return {name, name};
    }
    std::array<QString, Readers> names{unescapedKey(data.mid(from, trimmedTo - from), Qt5),
                                       unescapedKey(data.mid(from, to - from), Qt6)};
    agree = agree && names[Qt5] == names[Qt6];
    return names;
}

std::array<QString, Readers> sectionPaths(const QByteArray &data, int lineStart, int lineEnd, bool &agree)
{
    int close = static_cast<int>(data.indexOf(']', lineStart));
    if (close == -1 || close >= lineEnd)
        close = lineEnd;
    int from = lineStart + 1;
    while (from < close && isWhite(QLatin1Char(data.at(from))))
        ++from;
    while (close > from && isWhite(QLatin1Char(data.at(close - 1))))
        --close;
    if (plain(data.constData() + from, data.constData() + close) && close - from != 7 && close - from != 8) {
        QString path;
        path.reserve(close - from + 1);
        path += QLatin1String(data.constData() + from, close - from);
        path += QLatin1Char('/');
        return {path, path};
    }
    const QByteArray name = data.mid(from, close - from);
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        return {};
    if (name.compare("%general", Qt::CaseInsensitive) == 0) {
        const QString path = QString::fromLatin1(name.mid(1)) + QLatin1Char('/');
        return {path, path};
    }
    std::array<QString, Readers> paths =
        keys(name, 0, static_cast<int>(name.size()), static_cast<int>(name.size()), agree);
    paths[Qt5] += QLatin1Char('/');
    paths[Qt6] = paths[Qt6] == paths[Qt5].chopped(1) ? paths[Qt5] : paths[Qt6] + QLatin1Char('/');
    return paths;
}

// The text's groups and keys; with `firstKeyOnly`, up to the first key.
Parsed parse(const QByteArray &data, bool firstKeyOnly = false)
{
    Parsed parsed;
    parsed.bom = data.startsWith("\xef\xbb\xbf");
    const char *const breakAt = std::find_if(data.constData(), data.constData() + data.size(), isBreak);
    if (breakAt != data.constData() + data.size() && *breakAt == '\r')
        parsed.lineBreak = breakAt + 1 != data.constData() + data.size() && breakAt[1] == '\n' ? "\r\n" : "\r";
    int position = parsed.bom ? 3 : 0;
    if (!firstKeyOnly) {
        const int lines = static_cast<int>(data.size() / 16) + 1;  // (a guess)
        parsed.sections.reserve(lines);
        parsed.lines.reserve(lines);
    }
    parsed.sections.append({{QString(), QString()}, -1, -1, {}, -1});  // keys before any group header
    int lineStart = 0;
    int lineEnd = 0;
    int equalsAt = 0;
    Tail tail;
    bool first = true;
    while (readLine(data, position, lineStart, lineEnd, equalsAt, tail)) {
        const bool header = data.at(lineStart) == '[';
        if (first && parsed.bom) {
            // Qt finds the groups after the mark, but reads the keys before any group from the
            // text's start: the mark joins a key on the same line, or is a line of its own.
            int at = 3;
            while (at < lineStart && !isBreak(data.at(at)))
                ++at;
            if (!header && at == lineStart)
                lineStart = 0;
            else
                parsed.malformed = true;
        }
        first = false;
        parsed.endLine = lineEnd == data.size() ? -1 : -2;
        parsed.endTail = tail;
        if (header) {
            const int close = static_cast<int>(data.indexOf(']', lineStart));
            parsed.malformed = parsed.malformed || close == -1 || close >= lineEnd;
            parsed.sections.append(
                {sectionPaths(data, lineStart, lineEnd, parsed.agree), lineStart, lineEnd, tail, -1});
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
        const bool ascii = std::all_of(data.constData() + equalsAt, data.constData() + lineEnd,
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        std::array<QString, Readers> key;
        if (section.path[Qt5].constData() == section.path[Qt6].constData() &&
            plain(data.constData() + lineStart, data.constData() + keyEnd)) {
            key[Qt5].reserve(static_cast<int>(section.path[Qt5].size()) + keyEnd - lineStart);
            key[Qt5] += section.path[Qt5];
            key[Qt5] += QLatin1String(data.constData() + lineStart, keyEnd - lineStart);
            key[Qt6] = key[Qt5];
        } else {
            key = keys(data, lineStart, equalsAt, keyEnd, parsed.agree);
            key[Qt5].prepend(section.path[Qt5]);
            key[Qt6].prepend(section.path[Qt6]);
        }
        const uint hash = static_cast<uint>(qHash(key[Qt5]));
        parsed.lines.append({lineStart,
                             lineEnd,
                             static_cast<int>(parsed.sections.size()) - 1,
                             key,
                             {hash, key[Qt5] == key[Qt6] ? hash : static_cast<uint>(qHash(key[Qt6]))},
                             tail,
                             ascii});
        section.last = static_cast<int>(parsed.lines.size()) - 1;
        if (parsed.endLine == -1)
            parsed.endLine = section.last;
        if (firstKeyOnly)
            break;
    }
    if (first && parsed.bom)
        parsed.malformed = true;  // the mark alone is a line
    return parsed;
}

// For each reader and key, the line that reader takes its value from. QSettings reads the groups
// in the order of their names, a group's lines (wherever they stand) in the order they stand,
// and the last line read for a key wins.
// (Where both read every key alike, for Qt 5 alone, and Qt 6's the same.)
std::array<Names, Readers> valueLines(const Parsed &parsed, int readers)
{
    std::array<Names, Readers> lines;
    for (int reader = Qt5; reader < readers; ++reader) {
        const auto path = [&](int line) -> const QString & {
            return parsed.sections.at(parsed.lines.at(line).section).path[reader];
        };
        lines[reader] = Names(static_cast<int>(parsed.lines.size()));
        for (int i = 0; i < parsed.lines.size(); ++i) {
            const Line &line = parsed.lines.at(i);
            int &found = lines[reader].insert(line.key[reader], line.hash[reader], {}, i);
            if (!(path(i) < path(found)))
                found = i;
        }
    }
    if (readers == Qt6)
        lines[Qt6] = lines[Qt5];
    return lines;
}

int root(QVector<int> &parents, int i)
{
    while (parents.at(i) != i)
        i = parents[i] = parents.at(parents.at(i));
    return i;
}

// Where a line stands in the merged text, as Qt reads it: after the lines of groups named before
// its own, and after those of its own group's name that come before it.
struct Place {
    const QString *path;
    int at;     // the destination's byte it stands at or is added after
    int order;  // among the lines added there
};

bool before(const Place &a, const Place &b)
{
    if (*a.path != *b.path)
        return *a.path < *b.path;
    return a.at < b.at || (a.at == b.at && a.order < b.order);
}

struct Edit {
    int at;  // bytes [at, at + length) of the text are replaced
    int length;
    QByteArray text;
};

}  // namespace

IniKeys iniKeys(const QByteArray &text, bool prefix)
{
    const Parsed parsed = parse(text, true);
    if (!parsed.lines.isEmpty())
        return IniKeys::Some;
    return parsed.malformed && !prefix ? IniKeys::Malformed : IniKeys::None;
}

QByteArray mergeIniText(const QByteArray &into, const QByteArray &from, QStringList *leftOut)
{
    const Parsed target = parse(into);
    const Parsed source = parse(from);
    const int readers = target.agree && source.agree ? Qt6 : Readers;  // how many tell keys apart
    const auto targetValues = valueLines(target, readers);
    const auto sourceValues = valueLines(source, readers);
    const int sourceSize = static_cast<int>(source.lines.size());
    const int targetSize = static_cast<int>(target.lines.size());

    // The source's lines some reader takes a value from are carried, in the order they stand.
    // Lines that share a key for either reader are carried or left out together.
    QVector<int> parents(sourceSize, -1);
    for (int reader = Qt5; reader < readers; ++reader)
        for (const int line : sourceValues.at(reader).values())
            parents[line] = line;
    for (int reader = Qt5; reader < readers && readers > Qt6; ++reader) {  // (else no two share a key)
        Names first(sourceSize);
        for (int i = 0; i < sourceSize; ++i) {
            if (parents.at(i) >= 0)
                parents[root(parents, i)] =
                    root(parents, first.insert(source.lines.at(i).key[reader], source.lines.at(i).hash[reader], {}, i));
        }
    }
    QVector<int> members(sourceSize, 0);
    for (int i = 0; i < sourceSize; ++i)
        if (parents.at(i) >= 0)
            ++members[root(parents, i)];

    // Where each carried line goes: in place of the destination's line where both readers take
    // the key's value from that line and name it as the source's, in a group read by the same
    // name; otherwise after the last line of the destination's last group of the same names, or
    // into a group added at the end.
    // The destination's group of the same names, or -2 - the index of a new one.
    Names groups(static_cast<int>(target.sections.size() + source.sections.size()));
    for (int i = 0; i < target.sections.size(); ++i)
        if (target.sections.at(i).last >= 0)
            groups.insert(target.sections.at(i).path[Qt5], static_cast<uint>(qHash(target.sections.at(i).path[Qt5])),
                          target.sections.at(i).path[Qt6], -1) = i;
    int newSections = 0;
    QVector<int> sourceGroups(source.sections.size(), -1);
    QVector<int> replaces(sourceSize, -1);
    QVector<int> anchors(sourceSize, -1);
    // Lines are added to a group after its last line that stays, or its last line: where they are
    // added to each group of the destination, and after which line.
    QVector<int> addedAt(target.sections.size(), -1);
    QVector<int> addedAfter(target.sections.size(), -1);
    for (int i = 0; i < sourceSize; ++i) {
        if (parents.at(i) < 0)
            continue;
        const Line &line = source.lines.at(i);
        const Section &section = source.sections.at(line.section);
        const int replaced = targetValues.at(Qt5).value(line.key[Qt5], line.hash[Qt5]);
        if (members.at(root(parents, i)) == 1 && replaced >= 0 &&
            (readers == Qt6 || targetValues.at(Qt6).value(line.key[Qt6], line.hash[Qt6]) == replaced) &&
            target.sections.at(target.lines.at(replaced).section).path == section.path) {
            replaces[i] = replaced;
            continue;
        }
        if (sourceGroups.at(line.section) == -1) {
            sourceGroups[line.section] = groups.insert(section.path[Qt5], static_cast<uint>(qHash(section.path[Qt5])),
                                                       section.path[Qt6], -2 - newSections);
            newSections += sourceGroups.at(line.section) == -2 - newSections ? 1 : 0;
        }
        anchors[i] = sourceGroups.at(line.section);
    }

    const auto sourcePlace = [&](int i, int reader) -> Place {
        const QString *path = &source.sections.at(source.lines.at(i).section).path[reader];
        if (replaces.at(i) >= 0)
            return {path, target.lines.at(replaces.at(i)).start, 0};
        if (anchors.at(i) >= 0)
            return {path, addedAt.at(anchors.at(i)), i + 1};
        return {path, static_cast<int>(into.size()) + 1 - anchors.at(i), i + 1};
    };
    const auto targetPlace = [&](int i, int reader) -> Place {
        return {&target.sections.at(target.lines.at(i).section).path[reader], target.lines.at(i).start, 0};
    };

    // A destination line goes once every key it names is carried. Where one that stays would be
    // read after the source's line for a key it shares with it (in a group of a later name), or
    // where the encoding of the destination's text would change a value (a byte order mark in one
    // store only makes Qt 5 read the whole text as UTF-8, or not), no one text serves every
    // reader: the key is left as the destination has it.
    QVector<bool> left(sourceSize, false);  // by the root of the lines carried together
    for (const int i : source.bom != target.bom ? sourceValues.at(Qt5).values() : QVector<int>())
        if (!source.lines.at(i).ascii)
            left[root(parents, i)] = true;
    QVector<bool> removed(targetSize, false);
    for (bool changed = true; changed;) {
        changed = false;
        const auto carried = [&](int reader, const Line &from) {
            const int line = sourceValues.at(reader).value(from.key[reader], from.hash[reader]);
            return line >= 0 && !left.at(root(parents, line)) ? line : -1;
        };
        addedAfter.fill(-1);
        for (int i = 0; i < targetSize; ++i) {
            const Line &line = target.lines.at(i);
            removed[i] = carried(Qt5, line) >= 0 && (readers == Qt6 || carried(Qt6, line) >= 0);
            if (!removed.at(i) || addedAfter.at(line.section) < 0 || removed.at(addedAfter.at(line.section)))
                addedAfter[line.section] = i;
        }
        for (int section = 0; section < target.sections.size(); ++section) {
            if (addedAfter.at(section) < 0)
                continue;
            int at = target.lines.at(addedAfter.at(section)).end;
            if (at < into.size() && into.at(at) == ';')  // after the comment on its line
                while (at < into.size() && !isBreak(into.at(at)))
                    ++at;
            addedAt[section] = at;
        }
        const auto check = [&](const Place &place, int value, int reader) {
            if (value >= 0 && !before(place, sourcePlace(value, reader))) {
                left[root(parents, value)] = true;
                changed = true;
            }
        };
        for (int reader = Qt5; reader < readers; ++reader) {
            for (int i = 0; i < targetSize; ++i)
                if (!removed.at(i))
                    check(targetPlace(i, reader), carried(reader, target.lines.at(i)), reader);
            for (int i = 0; i < sourceSize; ++i) {
                if (parents.at(i) < 0 || left.at(root(parents, i)))
                    continue;
                const int value = carried(reader, source.lines.at(i));
                if (value != i)
                    check(sourcePlace(i, reader), value, reader);
            }
        }
    }

    const QByteArray &lineBreak = target.lineBreak;
    const auto text = [&](int i, char next, QByteArray before = {}) {
        const Line &line = source.lines.at(i);
        return before.append(from.constData() + line.start, line.end - line.start).append(closing(line.tail, next));
    };
    QVector<Edit> edits;
    QVector<bool> receives(target.sections.size(), false);
    for (int i = 0; i < sourceSize; ++i)
        if (parents.at(i) >= 0 && !left.at(root(parents, i)) && replaces.at(i) < 0 && anchors.at(i) >= 0)
            receives[anchors.at(i)] = true;
    QVector<bool> replaced(targetSize, false);
    QVector<int> added(target.sections.size(), -1);  // index into edits
    QVector<QByteArray> sections(newSections);
    for (int i = 0; i < sourceSize; ++i) {
        if (parents.at(i) < 0)
            continue;
        if (left.at(root(parents, i))) {
            const QString &key = source.lines.at(i).key[QT_VERSION_MAJOR == 5 ? Qt5 : Qt6];
            if (leftOut &&
                sourceValues.at(QT_VERSION_MAJOR == 5 ? Qt5 : Qt6)
                        .value(key, source.lines.at(i).hash[QT_VERSION_MAJOR == 5 ? Qt5 : Qt6]) == i &&
                !leftOut->contains(key))
                leftOut->append(key);
            continue;
        }
        if (replaces.at(i) >= 0) {
            const Line &old = target.lines.at(replaces.at(i));
            // (Lines added to its group may follow it directly.)
            const bool followed = addedAfter.at(old.section) == replaces.at(i) && addedAt.at(old.section) == old.end &&
                                  receives.at(old.section);
            const char next = followed ? lineBreak.at(0) : old.end < into.size() ? into.at(old.end) : ' ';
            edits.append({old.start, old.end - old.start, text(i, next)});
            replaced[replaces.at(i)] = true;
        } else if (anchors.at(i) >= 0) {
            const int section = anchors.at(i);
            if (added.at(section) < 0) {
                added[section] = static_cast<int>(edits.size());
                const int last = addedAfter.at(section);
                const bool open = addedAt.at(section) == target.lines.at(last).end && !removed.at(last);
                edits.append({addedAt.at(section), 0,
                              open ? closing(target.lines.at(last).tail, lineBreak.at(0)) : QByteArray()});
            }
            edits[added.at(section)].text += text(i, 0, lineBreak);
        } else {
            QByteArray &section = sections[-2 - anchors.at(i)];
            if (section.isEmpty()) {
                const Section &header = source.sections.at(source.lines.at(i).section);
                section = header.headerStart < 0 ? QByteArray("[General]")
                                                 : from.mid(header.headerStart, header.headerEnd - header.headerStart) +
                                                       closing(header.headerTail, lineBreak.at(0));
            }
            section += text(i, 0, lineBreak);
        }
    }
    for (int i = 0; i < targetSize; ++i) {
        if (!removed.at(i) || replaced.at(i))
            continue;
        const Line &line = target.lines.at(i);
        // The mark stays (and with it how Qt 5 reads the text). Lines added after the last line of
        // a group take its place; any other line goes with its line break.
        const int start = line.start == 0 && target.bom ? 3 : line.start;
        const int section = line.section;
        if (addedAfter.at(section) == i && added.at(section) >= 0 && addedAt.at(section) == line.end) {
            Edit &edit = edits[added.at(section)];
            edit = {start, line.end - start, start == line.start ? edit.text.mid(lineBreak.size()) : edit.text};
            continue;
        }
        int end = line.end;
        if (start == line.start && end < into.size() && isBreak(into.at(end)))
            end += into.mid(end, 2) == "\r\n" ? 2 : 1;
        edits.append({start, end - start, QByteArray()});
    }
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.at < b.at; });
    QByteArray result;
    result.reserve(static_cast<int>(into.size() + from.size()));
    int copied = 0;
    bool endsAdded = false;  // the text ends with a line the merge wrote
    for (const Edit &edit : edits) {
        result.append(into.constData() + copied, edit.at - copied).append(edit.text);
        copied = edit.at + edit.length;
        endsAdded = copied == into.size() && !edit.text.isEmpty();
    }
    result.append(into.constData() + copied, static_cast<int>(into.size()) - copied);
    if (!target.bom && result.startsWith("\xef\xbb\xbf"))
        result.prepend(lineBreak);     // a key's bytes, now at the start, would read as a mark
    sections.removeAll(QByteArray());  // (groups whose keys were all left out)
    if (sections.isEmpty())
        return result;
    if (!endsAdded && (target.endLine == -1 || (target.endLine >= 0 && !removed.at(target.endLine))))
        result += closing(target.endTail, lineBreak.at(0));
    if (!result.isEmpty() && (endsAdded || !isBreak(result.at(result.size() - 1))))
        result += lineBreak;
    for (const QByteArray &section : sections)
        result += (result.isEmpty() ? QByteArray() : lineBreak) + section + lineBreak;
    return result;
}
