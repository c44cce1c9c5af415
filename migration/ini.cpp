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

#include <QStringView>
#include <QVector>

#if defined(__GNUC__) && defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory_resource>
#include <numeric>
#include <optional>
#include <vector>

namespace {

enum Reader { Qt5, Qt6, Readers };

// What a line leaves open where it ends, so that text written after it would join it.
struct Tail {
    bool quoted = false;     // a quote runs to the end of the text
    bool backslash = false;  // a backslash is the text's last byte
    char escapedBreak = 0;   // the line ends with a line break a backslash escapes: the next break would pair with it
};

// FNV-1a over UTF-16 units: a key's hash goes on from its group path's, hashed once for all its keys.
constexpr uint unhashed = 2166136261U;
uint hashOn(uint hash, char16_t unit)
{
    return (hash ^ unit) * 16777619U;
}

// The hash that picks a table's slot: FNV's low bits depend on the last units alone.
uint mixed(uint hash)
{
    hash ^= hash >> 16;
    hash *= 0x85ebca6bU;
    return hash ^ (hash >> 13);
}

// A key or group path as one Qt names it. Most names are read from their bytes alike by both Qt
// (see plain()): those stay where they stand in the text, a stretch of its bytes read as Latin-1,
// so that a store of many thousand keys costs no copy of its names. The others are decoded into
// Parsed::names, all of a text's in one buffer rather than a string each.
struct Name {
    int at = 0;  // >= 0: the text's bytes [at, at + size), and "/" after them for a group's path; else
                 // Parsed::names from -1 - at
    int size = 0;
    uint hash = unhashed;  // of its text (before mixed())
};

const Name generalPath{-1, 0, unhashed};  // "": the keys outside any group

// The text of a Name: Latin-1 bytes or UTF-16 units, and "/" after them where it says so.
struct View {
    const char *bytes = nullptr;  // one of the two
    const QChar *units = nullptr;
    int size = 0;  // the slash included
    bool slash = false;

    char16_t at(int i) const
    {
        if (slash && i == size - 1)
            return u'/';
        return units ? units[i].unicode() : static_cast<unsigned char>(bytes[i]);
    }
    QString toString() const
    {
        QString text = units ? QString(units, size) : QString::fromLatin1(bytes, size - (slash ? 1 : 0));
        return slash ? text.append(QLatin1Char('/')) : text;
    }
};

// The same units in the same order (as QStringView compares them).
int compare(const View &a, const View &b)
{
    const int size = std::min(a.size, b.size);
    int i = 0;
    if (a.bytes && b.bytes) {  // (the bytes alike, up to a slash)
        i = std::min(size, std::min(a.size - (a.slash ? 1 : 0), b.size - (b.slash ? 1 : 0)));
        if (const int order = i == 0 ? 0 : std::memcmp(a.bytes, b.bytes, i))
            return order;
    }
    for (; i < size; ++i)
        if (a.at(i) != b.at(i))
            return a.at(i) < b.at(i) ? -1 : 1;
    return a.size < b.size ? -1 : a.size > b.size ? 1 : 0;
}

bool operator==(const View &a, const View &b)
{
    return a.size == b.size && compare(a, b) == 0;
}

struct Line {
    int start;  // the line's bytes, [start, end); 0 for a key Qt reads with the byte order mark
    int end;
    int equals;   // its '=': the value follows
    int section;  // index into Parsed::sections
    Name key;     // the key as Qt 5 names it, after its group's path (and hashed on from it)
    int qt6Key;   // index into Parsed::qt6Names of the key as Qt 6 names it, -1 where it is Qt 5's
    Tail tail;
};

// A full key path: a group's path and a key within it. The same path can be split differently
// ("a/" and "b/c", or "a/b/" and "c"): keys are the same where they join to the same text.
struct Key {
    View path;
    View name;
    QString toString() const { return path.toString().append(name.toString()); }
    char16_t at(int i) const { return i < path.size ? path.at(i) : name.at(i - path.size); }
};

bool operator==(const Key &a, const Key &b)
{
    const int size = a.path.size + a.name.size;
    if (size != b.path.size + b.name.size)
        return false;
    if (a.path.size == b.path.size)
        return a.path == b.path && a.name == b.name;
    for (int i = 0; i < size; ++i)
        if (a.at(i) != b.at(i))
            return false;
    return true;
}

bool operator!=(const Key &a, const Key &b)
{
    return !(a == b);
}

struct Section {
    Name path;        // as Qt 5 names it: "" for the keys outside any group, else "<group>/"
    int qt6Path;      // as key's qt6Key
    int headerStart;  // its "[...]" line, [headerStart, headerEnd); -1 for the keys before any
    int headerEnd;
    Tail headerTail;
    int last;  // index of its last key line, -1 if none
};

// Whether both Qt read the bytes as the same name, Latin-1 alike (most keys are).
constexpr std::array<bool, 256> plainBytes = [] {
    std::array<bool, 256> plain{};
    for (char c = ' '; c <= '~'; ++c)
        plain.at(static_cast<unsigned char>(c)) = c != '%' && c != '\\';
    return plain;
}();

bool plain(const char *from, const char *to)
{
    return from == to || (from[0] != ' ' && to[-1] != ' ' &&
                          std::all_of(from, to, [](char c) { return plainBytes[static_cast<unsigned char>(c)]; }));
}

// The working memory of a merge, taken at once and given back at once. A merge of stores of many
// thousand keys touches megabytes: page by page, the page faults cost as much as the merge's own
// work. Where the system offers large pages, they are asked for (the memory is only reserved:
// pages no one touches are not paid for); elsewhere, and beyond it, the memory comes from the heap.
class WorkingMemory
{
public:
    explicit WorkingMemory(std::size_t size)
    {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        constexpr std::size_t largePage = 2 << 20;
        mappedSize = size + largePage;
        mapped = mmap(nullptr, mappedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (mapped != MAP_FAILED) {
            void *start = mapped;
            std::size_t room = mappedSize;
            std::align(largePage, size, start, room);
            madvise(start, size, MADV_HUGEPAGE);  // (a hint: without it, the pages are small ones)
            arena.emplace(start, size, std::pmr::new_delete_resource());
            return;
        }
        mapped = nullptr;
#else
        Q_UNUSED(size)
#endif
        arena.emplace(std::pmr::new_delete_resource());
    }
    WorkingMemory(const WorkingMemory &) = delete;
    WorkingMemory &operator=(const WorkingMemory &) = delete;
    WorkingMemory(WorkingMemory &&) = delete;
    WorkingMemory &operator=(WorkingMemory &&) = delete;
    ~WorkingMemory()
    {
        arena.reset();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        if (mapped)
            munmap(mapped, mappedSize);
#endif
    }
    std::pmr::memory_resource *resource()
    {
        return &*arena;
    }

private:
    void *mapped = nullptr;
    std::size_t mappedSize = 0;
    std::optional<std::pmr::monotonic_buffer_resource> arena;
};

struct Parsed {
    explicit Parsed(std::pmr::memory_resource *memory) : sections(memory), lines(memory) {}

    const char *data = nullptr;  // the text
    std::pmr::vector<Section> sections;
    std::pmr::vector<Line> lines;  // the key lines
    std::vector<Name> qt6Names;    // the few names Qt 6 reads otherwise than Qt 5
    // The text of every decoded Name, in its first `used` characters; the rest is room for more,
    // left unwritten (QString::resize() does not fill it: pages not touched are not paid for).
    QString names;
    int used = 0;
    bool malformed = false;  // a line QSettings reports as a format error
    bool bom = false;        // a UTF-8 byte order mark: Qt 5 then reads every value of the text as UTF-8
    bool agree = true;       // Qt 5 and Qt 6 read every key and group alike
    int endLine = -2;        // the line that runs to the text's end: a key line, -1 another, -2 none
    Tail endTail;
    QByteArray lineBreak = "\n";  // the first the text uses

    View text(const Name &name, bool path = false) const
    {
        if (name.at >= 0)
            return {data + name.at, nullptr, name.size + (path ? 1 : 0), path};
        return {nullptr, names.constData() - 1 - name.at, name.size, false};
    }
    const Name &keyName(const Line &line, int reader) const
    {
        return reader == Qt6 && line.qt6Key >= 0 ? qt6Names[line.qt6Key] : line.key;
    }
    const Name &pathName(const Section &section, int reader) const
    {
        return reader == Qt6 && section.qt6Path >= 0 ? qt6Names[section.qt6Path] : section.path;
    }
    Key key(int line, int reader) const
    {
        const Line &keyLine = lines[line];
        return {path(keyLine.section, reader), text(keyName(keyLine, reader))};
    }
    View path(int section, int reader) const { return text(pathName(sections[section], reader), true); }
    // The index into qt6Names of `name`.
    int qt6(const Name &name)
    {
        qt6Names.push_back(name);
        return static_cast<int>(qt6Names.size()) - 1;
    }

    // A new Name, decoded: the bytes [from, to) as Latin-1, then the `rest`, hashed on from `hash`
    // (its group path's, for a key).
    Name name(uint hash, const char *from, const char *to, std::initializer_list<QStringView> rest = {})
    {
        const int size = std::accumulate(rest.begin(), rest.end(), static_cast<int>(to - from),
                                         [](int sum, QStringView part) { return sum + static_cast<int>(part.size()); });
        if (used + size > names.size())
            names.resize(2 * (used + size));
        QChar *unit = names.data() + used;
        for (; from != to; ++from, ++unit) {
            *unit = QLatin1Char(*from);
            hash = hashOn(hash, unit->unicode());
        }
        for (const QStringView part : rest) {
            for (const QChar c : part) {
                *unit++ = c;
                hash = hashOn(hash, c.unicode());
            }
        }
        const Name made{-1 - used, size, hash};
        used += size;
        return made;
    }
    Name name(uint hash, std::initializer_list<QStringView> parts) { return name(hash, nullptr, nullptr, parts); }
    // The bytes [from, to) where they stand, for bytes both Qt read alike (see plain()), hashed with
    // "/" after them for a group's path; for others, the Name's size is -1.
    Name plainName(uint hash, const char *from, const char *to, bool slash = false) const
    {
        const Name none{0, -1, 0};
        if (from != to && (from[0] == ' ' || to[-1] == ' '))
            return none;
        const Name made{static_cast<int>(from - data), static_cast<int>(to - from), 0};
        bool plainSoFar = true;
        for (; from != to; ++from) {
            plainSoFar &= plainBytes[static_cast<unsigned char>(*from)];
            hash = hashOn(hash, static_cast<unsigned char>(*from));
        }
        if (!plainSoFar)
            return none;
        return {made.at, made.size, slash ? hashOn(hash, u'/') : hash};
    }
};

// Values indexed by the hash of a name kept elsewhere: an open-addressing table, which a store of
// many thousand keys fills far faster than a hash with a node per name. `matches(value)` says
// whether a value stored under the same hash stands for the name sought.
class Table
{
public:
    Table(int count, std::pmr::memory_resource *memory) : entries(capacity(count), Slot(), memory) {}
    // The value under the name, or -1.
    template <typename Matches> int value(uint hash, Matches matches) const
    {
        const Slot &slot = entries.at(find(hash, matches));
        return slot.value != unused ? slot.value : -1;
    }
    // The value under the name, made `value` where the name has none yet.
    template <typename Matches> int &insert(uint hash, Matches matches, int value)
    {
        Slot *slot = entries.data() + find(hash, matches);
        if (slot->value == unused)
            *slot = {hash, value};
        return slot->value;
    }
    // Lookups of many names in turn wait for memory, one slot after another: a slot asked for a
    // few names ahead is there when its name's turn comes.
    void prefetch(uint hash) const
    {
#if defined(__GNUC__)
        __builtin_prefetch(entries.data() + (mixed(hash) & static_cast<uint>(entries.size() - 1)));
#else
        Q_UNUSED(hash)
#endif
    }

private:
    static constexpr int unused = std::numeric_limits<int>::min();  // (no value stored is)
    struct Slot {
        uint hash = 0;
        int value = unused;
    };
    static int capacity(int count)
    {
        int size = 16;
        while (size < count + count / 2)  // (linear probing stays short up to two thirds full)
            size *= 2;
        return size;
    }
    template <typename Matches> int find(uint hash, Matches matches) const
    {
        const int mask = static_cast<int>(entries.size()) - 1;
        for (int i = static_cast<int>(mixed(hash) & static_cast<uint>(mask));; i = (i + 1) & mask) {
            const Slot &slot = entries.at(i);
            if (slot.value == unused || (slot.hash == hash && matches(slot.value)))
                return i;
        }
    }
    std::pmr::vector<Slot> entries;
};

// The key lines of a text by the key one reader names.
class Keys
{
public:
    // (Not `indexed`: a place held for a reader that reads every key as another does.)
    Keys(const Parsed &parsed, int reader, std::pmr::memory_resource *memory, bool indexed = true)
        : parsed(&parsed), reader(reader), table(indexed ? static_cast<int>(parsed.lines.size()) : 0, memory),
          overridden(indexed ? parsed.lines.size() : 0, false, memory)
    {
    }
    // The line with the key line `line` of `text` names, or -1.
    // (Keys are compared only where their hashes are the same: most lookups find none such.)
    int line(const Parsed &text, int line) const
    {
        return table.value(text.keyName(text.lines[line], reader).hash, [&](int found) {
            return (&text == parsed && found == line) || parsed->key(found, reader) == text.key(line, reader);
        });
    }
    // The line under the key of this text's line `line`, made `line` where the key has none yet.
    int &insert(int line)
    {
        return table.insert(
            parsed->keyName(parsed->lines[line], reader).hash,
            [&](int found) { return parsed->key(found, reader) == parsed->key(line, reader); }, line);
    }
    // Whether the reader takes the value of its key from this text's line `line`.
    bool wins(int line) const { return overridden.at(line) == 0; }
    // The line whose value the reader takes for the key of this text's line `line`: most often
    // the line itself, known without a lookup.
    int value(int line) const { return overridden.at(line) ? this->line(*parsed, line) : line; }
    void override(int line) { overridden[line] = true; }
    // The slot of the key the line `line` of `text` names, asked for ahead of line().
    void prefetch(const Parsed &text, int line) const
    {
        if (line < static_cast<int>(text.lines.size()))
            table.prefetch(text.keyName(text.lines[line], reader).hash);
    }

private:
    const Parsed *parsed = nullptr;
    int reader = Qt5;
    Table table;
    std::pmr::vector<char> overridden;  // the lines whose key a later line of the text gives its value
};

constexpr int ahead = 8;  // names looked up ahead (see Table::prefetch())

// Bytes the line splitting has to look at; it passes over any other.
constexpr std::array<bool, 256> specials = [] {
    std::array<bool, 256> special{};
    for (const char c : {'\n', '\r', '"', ';', '=', '\\'})
        special.at(static_cast<unsigned char>(c)) = true;
    return special;
}();

// The first byte from `at` the line splitting has to look at, or `end`. Most lines hold two (their
// "=" and their line break): sixteen bytes are looked at a time where the processor can.
const char *nextSpecial(const char *at, const char *end)
{
#if defined(__GNUC__) && defined(__SSE2__)
    const auto any = [](__m128i bytes, std::initializer_list<char> sought) {
        __m128i found = _mm_setzero_si128();
        for (const char c : sought)
            found = _mm_or_si128(found, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)));
        return _mm_movemask_epi8(found);
    };
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        if (const int found = any(bytes, {'\n', '\r', '"', ';', '=', '\\'}))
            return at + __builtin_ctz(static_cast<unsigned>(found));
    }
#endif
    return std::find_if(at, end, [](char c) { return specials[static_cast<unsigned char>(c)]; });
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isBreak(char c)
{
    return c == '\n' || c == '\r';
}

// The first byte from `i` that is no white space, or `size`.
int spacesEnd(const char *text, int i, int size)
{
    while (i < size && isSpace(text[i]))
        ++i;
    return i;
}

// Past the escaped character at `i` (a backslash before it): with its partner where it is a line
// break with one; an escaped break on its own is noted, with where it ends.
int escapeEnd(const char *text, int i, int size, char &escapedBreak, int &escapedBreakEnd)
{
    const char next = text[i++];
    if (i < size && ((next == '\n' && text[i] == '\r') || (next == '\r' && text[i] == '\n')))
        return i + 1;
    if (isBreak(next)) {
        escapedBreak = next;
        escapedBreakEnd = i;
    }
    return i;
}

// The next logical line from `position`, as QSettings splits them: comments (";" first) are
// skipped, a backslash escapes the character after it (a line break with its partner: "\r\n" or
// "\n\r"), and quotes hold line breaks and ";".
bool readLine(const QByteArray &data, int &position, int &lineStart, int &lineEnd, int &equalsAt, Tail &tail)
{
    const int size = static_cast<int>(data.size());
    const char *const text = data.constData();
    bool inQuotes = false;
    bool backslash = false;
    int escapedBreakEnd = -1;
    char escapedBreak = 0;
    equalsAt = -1;
    lineStart = spacesEnd(text, position, size);
    int i = lineStart;
    while (i < size) {
        i = static_cast<int>(nextSpecial(text + i, text + size) - text);
        if (i == size)
            break;
        const char c = text[i++];
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
            backslash = i == size;
            if (backslash)
                break;
            i = escapeEnd(text, i, size, escapedBreak, escapedBreakEnd);
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (i == lineStart + 1) {  // ';' opens a comment line
            i = spacesEnd(text, static_cast<int>(std::find_if(text + i, text + size, isBreak) - text), size);
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
// (At most two bytes, written at `out`; returns their end.)
char *writeClosing(char *out, const Tail &tail, char next = 0)
{
    if (tail.backslash)
        *out++ = ' ';
    if (tail.quoted)
        *out++ = '"';
    else if (tail.escapedBreak && (next == 0 || next == (tail.escapedBreak == '\n' ? '\r' : '\n')))
        *out++ = tail.escapedBreak;  // a break after it can no longer pair with it
    return out;
}

void appendClosing(QByteArray &text, const Tail &tail, char next = 0)
{
    std::array<char, 2> closing{};
    text.append(closing.data(), static_cast<int>(writeClosing(closing.data(), tail, next) - closing.data()));
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

// The group path of the header [lineStart, close), close its ']' or the line's end: Qt 5's, and
// where Qt 6's differs, its index into qt6Names.
std::pair<Name, int> sectionPaths(Parsed &parsed, const QByteArray &data, int lineStart, int close)
{
    int from = lineStart + 1;
    while (from < close && isWhite(QLatin1Char(data.at(from))))
        ++from;
    while (close > from && isWhite(QLatin1Char(data.at(close - 1))))
        --close;
    const char *const bytes = data.constData();
    // cppcheck-suppress knownConditionTrueFalse ; (seven or eight bytes may name the general group)
    if (close - from != 7 && close - from != 8) {
        const Name path = parsed.plainName(unhashed, bytes + from, bytes + close, true);
        if (path.size >= 0)
            return {path, -1};
    }
    const QByteArray name = data.mid(from, close - from);
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        return {generalPath, -1};
    if (name.compare("%general", Qt::CaseInsensitive) == 0)
        return {parsed.plainName(unhashed, bytes + from + 1, bytes + close, true), -1};
    const std::array<QString, Readers> names =
        keys(name, 0, static_cast<int>(name.size()), static_cast<int>(name.size()), parsed.agree);
    const Name path = parsed.name(unhashed, {names[Qt5], u"/"});
    return {path, names[Qt6] == names[Qt5] ? -1 : parsed.qt6(parsed.name(unhashed, {names[Qt6], u"/"}))};
}

// The line break the text's first line ends with ("\n" where it has none).
QByteArray firstLineBreak(const QByteArray &data)
{
    const char *const text = data.constData();
    const char *const end = text + data.size();
    const char *const breakAt = std::find_if(text, end, isBreak);
    if (breakAt == end || *breakAt != '\r')
        return "\n";
    return breakAt + 1 != end && breakAt[1] == '\n' ? "\r\n" : "\r";
}

// Where the text's first line begins once its byte order mark is read. Qt finds the groups after
// the mark, but reads the keys before any group from the text's start: the mark joins a key on
// the same line, or is a line of its own.
int firstLineStart(Parsed &parsed, const char *text, int lineStart, bool header)
{
    int at = 3;
    while (at < lineStart && !isBreak(text[at]))
        ++at;
    if (!header && at == lineStart)
        return 0;
    parsed.malformed = true;
    return lineStart;
}

// The key of the line [lineStart, lineEnd), its "=" at equalsAt, in the text's last group.
void addKeyLine(Parsed &parsed, const QByteArray &data, int lineStart, int lineEnd, int equalsAt, const Tail &tail)
{
    const char *const text = data.constData();
    int keyEnd = equalsAt;
    while (keyEnd > lineStart && (text[keyEnd - 1] == ' ' || text[keyEnd - 1] == '\t'))
        --keyEnd;
    Section &section = parsed.sections.back();
    Name key{0, -1, 0};
    int qt6Key = -1;
    if (section.qt6Path < 0)
        key = parsed.plainName(section.path.hash, text + lineStart, text + keyEnd);
    if (key.size < 0) {
        const std::array<QString, Readers> names = keys(data, lineStart, equalsAt, keyEnd, parsed.agree);
        key = parsed.name(section.path.hash, {names[Qt5]});
        const Name &qt6Path = parsed.pathName(section, Qt6);
        const Name second = parsed.name(qt6Path.hash, {names[Qt6]});
        if (Key{parsed.text(qt6Path, true), parsed.text(second)} !=
            Key{parsed.text(section.path, true), parsed.text(key)})
            qt6Key = parsed.qt6(second);
        else
            parsed.used = -1 - second.at;  // (the same as Qt 5's)
    }
    parsed.lines.push_back(
        {lineStart, lineEnd, equalsAt, static_cast<int>(parsed.sections.size()) - 1, key, qt6Key, tail});
    section.last = static_cast<int>(parsed.lines.size()) - 1;
    if (parsed.endLine == -1)
        parsed.endLine = section.last;
}

// The text's groups and keys; with `firstKeyOnly`, up to the first key.
Parsed parse(const QByteArray &data, bool firstKeyOnly = false,
             std::pmr::memory_resource *memory = std::pmr::get_default_resource())
{
    Parsed parsed(memory);
    parsed.data = data.constData();
    parsed.bom = data.startsWith("\xef\xbb\xbf");
    parsed.lineBreak = firstLineBreak(data);
    const char *const text = data.constData();
    int position = parsed.bom ? 3 : 0;
    if (!firstKeyOnly) {
        const int lines = static_cast<int>(data.size() / 16) + 1;  // (guesses)
        parsed.sections.reserve(lines);
        parsed.lines.reserve(lines);
    }
    parsed.sections.push_back({generalPath, -1, -1, -1, {}, -1});  // keys before any group header
    int lineStart = 0;
    int lineEnd = 0;
    int equalsAt = 0;
    Tail tail;
    bool first = true;
    while (readLine(data, position, lineStart, lineEnd, equalsAt, tail)) {
        const bool header = text[lineStart] == '[';
        if (first && parsed.bom)
            lineStart = firstLineStart(parsed, text, lineStart, header);
        first = false;
        parsed.endLine = lineEnd == data.size() ? -1 : -2;
        parsed.endTail = tail;
        if (header) {
            const auto *close = static_cast<const char *>(std::memchr(text + lineStart, ']', lineEnd - lineStart));
            parsed.malformed = parsed.malformed || close == nullptr;
            const int closeAt = close == nullptr ? lineEnd : static_cast<int>(close - text);
            const auto path = sectionPaths(parsed, data, lineStart, closeAt);
            parsed.sections.push_back({path.first, path.second, lineStart, lineEnd, tail, -1});
        } else if (equalsAt == -1) {
            parsed.malformed = true;  // no key: QSettings passes over it, and says so
        } else {
            addKeyLine(parsed, data, lineStart, lineEnd, equalsAt, tail);
            if (firstKeyOnly)
                break;
        }
    }
    if (first && parsed.bom)
        parsed.malformed = true;  // the mark alone is a line
    return parsed;
}

// For each reader and key, the line that reader takes its value from. QSettings reads the groups
// in the order of their names, a group's lines (wherever they stand) in the order they stand,
// and the last line read for a key wins.
// (Where both read every key alike, for Qt 5 alone: Qt 6's is the same.)
std::array<Keys, Readers> valueLines(const Parsed &parsed, int readers, std::pmr::memory_resource *memory)
{
    std::array<Keys, Readers> lines{Keys(parsed, Qt5, memory), Keys(parsed, Qt6, memory, readers > Qt6)};
    for (int reader = Qt5; reader < readers; ++reader) {
        const auto path = [&](int line) { return parsed.path(parsed.lines.at(line).section, reader); };
        Keys &index = lines.at(reader);
        for (int i = 0; i < static_cast<int>(parsed.lines.size()); ++i) {
            index.prefetch(parsed, i + ahead);
            int &found = index.insert(i);
            if (found == i)
                continue;
            const int overridden = compare(path(i), path(found)) < 0 ? i : found;
            index.override(overridden);
            // cppcheck-suppress danglingTempReference ; (a slot of the table, which outlives the loop)
            found = overridden == i ? found : i;
        }
    }
    return lines;
}

int root(std::pmr::vector<int> &parents, int i)
{
    while (parents.at(i) != i)
        i = parents[i] = parents.at(parents.at(i));
    return i;
}

// Where a line stands in the merged text, as Qt reads it: after the lines of groups named before
// its own, and after those of its own group's name that come before it.
struct Place {
    View path;
    int at;     // the destination's byte it stands at or is added after
    int order;  // among the lines added there
};

bool before(const Place &a, const Place &b)
{
    if (const int order = compare(a.path, b.path))
        return order < 0;
    return a.at < b.at || (a.at == b.at && a.order < b.order);
}

struct Edit {
    int at;  // bytes [at, at + length) of the text are replaced
    int length;
    QByteArray text;
};

// A merge of the source's keys into the destination's text, in stages: the keys of both texts
// indexed, the source's lines carried together grouped, each carried line placed, the keys no
// one text serves for every reader left as they are, then the edits of the destination's text
// written and applied.
class Merge
{
public:
    Merge(const QByteArray &into, const QByteArray &from);
    Merge(const Merge &) = delete;  // (its indexes point into its texts)
    Merge &operator=(const Merge &) = delete;
    Merge(Merge &&) = delete;
    Merge &operator=(Merge &&) = delete;
    ~Merge() = default;

    QByteArray merged(QStringList *leftOut)
    {
        groupLinesCarriedTogether();
        placeSourceLines();
        leaveKeysNoTextServes();
        writeEdits(leftOut);
        return applyEdits();
    }

private:
    void groupLinesCarriedTogether();
    void placeSourceLines();
    void findWhereLinesAreAdded();
    void leaveKeysNoTextServes();
    void writeEdits(QStringList *leftOut);
    void nameLeftOut(int i, QStringList &leftOut) const;
    void replaceLine(int i, const std::pmr::vector<char> &receives);
    void addToGroup(int i, std::pmr::vector<int> &added);
    void removeLines(const std::pmr::vector<char> &replaced, const std::pmr::vector<int> &added);
    QByteArray applyEdits() const;
    int addedGroupsMostSize() const;
    void appendAddedGroups(QByteArray &result) const;

    static bool samePaths(const Parsed &a, const Section &x, const Parsed &b, const Section &y)
    {
        return a.text(x.path, true) == b.text(y.path, true) &&
               a.text(a.pathName(x, Qt6), true) == b.text(b.pathName(y, Qt6), true);
    }
    int rootOf(int i) { return root(parents, i); }
    // A reader's index of a text's keys (one serves both where they read every key alike).
    const Keys &keysOf(const std::array<Keys, Readers> &values, int reader) const
    {
        return values.at(readers == Qt6 ? Qt5 : reader);
    }
    bool carried(int i) { return parents.at(i) >= 0 && !left.at(rootOf(i)); }
    // The source's line a reader takes the value of line i's key from, where it is carried; else -1.
    int carriedValue(int reader, const Parsed &text, int i)
    {
        const int line = &text == &target    ? valueInSource.at(reader).at(i)
                         : parents.at(i) < 0 ? -1
                                             : sourceValues.at(reader).value(i);
        return line >= 0 && !left.at(rootOf(line)) ? line : -1;
    }
    Place sourcePlace(int i, int reader) const
    {
        const View path = source.path(source.lines.at(i).section, reader);
        if (replaces.at(i) >= 0)
            return {path, target.lines.at(replaces.at(i)).start, 0};
        if (anchors.at(i) >= 0)
            return {path, addedAt.at(anchors.at(i)), i + 1};
        return {path, static_cast<int>(into.size()) + 1 - anchors.at(i), i + 1};
    }
    Place targetPlace(int i, int reader) const
    {
        return {target.path(target.lines.at(i).section, reader), target.lines.at(i).start, 0};
    }
    void appendLine(QByteArray &text, int i, char next) const
    {
        const Line &line = source.lines.at(i);
        text.append(from.constData() + line.start, line.end - line.start);
        appendClosing(text, line.tail, next);
    }

    WorkingMemory memory;  // (first: the rest is made in it)
    const QByteArray &into;
    const QByteArray &from;
    const Parsed target;
    const Parsed source;
    const int readers;  // how many tell keys apart
    // For each reader and key of each text, the line the reader takes the key's value from.
    const std::array<Keys, Readers> targetValues;
    const std::array<Keys, Readers> sourceValues;
    const int sourceSize;
    const int targetSize;
    const int targetSections;
    const QByteArray &lineBreak;  // the destination's

    // The source's lines carried together, by a union-find over their indexes: -1 for a line no
    // reader takes a value from.
    std::pmr::vector<int> parents{memory.resource()};
    // By root: the lines carried together (where lines can share a key).
    std::pmr::vector<int> members{memory.resource()};
    // Where each carried line goes: the destination's line it replaces, or -1; else the
    // destination's group it is added to, or -2 - the index of a new group, whose names are those
    // of the source's group newSources[index].
    std::pmr::vector<int> replaces{memory.resource()};
    std::pmr::vector<int> anchors{memory.resource()};
    std::pmr::vector<int> newSources{memory.resource()};
    // Lines are added to a group after its last line that stays, or its last line: where they are
    // added to each group of the destination, and after which line.
    std::pmr::vector<int> addedAt{memory.resource()};
    std::pmr::vector<int> addedAfter{memory.resource()};
    // By root: the keys left as the destination has them (a byte each, not a bit: read often).
    std::pmr::vector<char> left{memory.resource()};
    std::pmr::vector<char> removed{memory.resource()};  // the destination's lines that go
    // The source's line each reader takes the value of each of the destination's keys from, or -1.
    std::array<std::pmr::vector<int>, Readers> valueInSource{std::pmr::vector<int>(memory.resource()),
                                                             std::pmr::vector<int>(memory.resource())};
    QVector<Edit> edits;
    // The lines of each group added at the end, in the order they stand: the first of each, and
    // the next after each.
    std::pmr::vector<int> firstAdded{memory.resource()};
    std::pmr::vector<int> nextAdded{memory.resource()};
};

// Both texts read, and their keys indexed: which line each reader takes each key's value from.
Merge::Merge(const QByteArray &into, const QByteArray &from)
    : memory(8 * (static_cast<std::size_t>(into.size()) + static_cast<std::size_t>(from.size())) + (4 << 20)),
      into(into), from(from), target(parse(into, false, memory.resource())),
      source(parse(from, false, memory.resource())), readers(target.agree && source.agree ? Qt6 : Readers),
      targetValues(valueLines(target, readers, memory.resource())),
      sourceValues(valueLines(source, readers, memory.resource())), sourceSize(static_cast<int>(source.lines.size())),
      targetSize(static_cast<int>(target.lines.size())), targetSections(static_cast<int>(target.sections.size())),
      lineBreak(target.lineBreak)
{
}

// The source's lines some reader takes a value from are carried, in the order they stand. Lines
// that share a key for either reader are carried or left out together.
void Merge::groupLinesCarriedTogether()
{
    parents.assign(sourceSize, -1);
    for (int reader = Qt5; reader < readers; ++reader)
        for (int i = 0; i < sourceSize; ++i)
            if (sourceValues.at(reader).wins(i))
                parents[i] = i;
    for (int reader = Qt5; reader < readers && readers > Qt6; ++reader) {  // (else no two share a key)
        Keys first(source, reader, memory.resource());
        for (int i = 0; i < sourceSize; ++i) {
            if (parents.at(i) >= 0)
                parents[rootOf(i)] = rootOf(first.insert(i));
        }
    }
    if (readers == Qt6)
        return;  // (each line is carried on its own)
    members.assign(sourceSize, 0);
    for (int i = 0; i < sourceSize; ++i)
        if (parents.at(i) >= 0)
            ++members[rootOf(i)];
}

// Each carried line goes in place of the destination's line where both readers take the key's
// value from that line and name it as the source's, in a group read by the same name; otherwise
// after the last line of the destination's last group of the same names, or into a group added at
// the end.
void Merge::placeSourceLines()
{
    const auto groupOf = [&](const Parsed &parsed, const Section &section) {
        return [&](int group) {
            if (group >= 0)
                return samePaths(target, target.sections.at(group), parsed, section);
            // cppcheck-suppress invalidFunctionArg ; (a new group is numbered -2 - index, never -1)
            return samePaths(source, source.sections.at(newSources.at(-2 - group)), parsed, section);
        };
    };
    Table groups(targetSections + static_cast<int>(source.sections.size()), memory.resource());
    for (int i = 0; i < targetSections; ++i) {
        if (i + ahead < targetSections)
            groups.prefetch(target.sections[i + ahead].path.hash);
        const Section &section = target.sections.at(i);
        if (section.last >= 0)
            groups.insert(section.path.hash, groupOf(target, section), -1) = i;
    }
    newSources.reserve(source.sections.size());
    std::pmr::vector<int> sourceGroups(static_cast<int>(source.sections.size()), -1, memory.resource());
    replaces.assign(sourceSize, -1);
    anchors.assign(sourceSize, -1);
    for (int i = 0; i < sourceSize; ++i) {
        targetValues.at(Qt5).prefetch(source, i + ahead);
        if (i + ahead < sourceSize)
            groups.prefetch(source.sections[source.lines[i + ahead].section].path.hash);
        if (parents.at(i) < 0)
            continue;
        const Line &line = source.lines.at(i);
        const Section &section = source.sections.at(line.section);
        const int replaced = targetValues.at(Qt5).line(source, i);
        if ((readers == Qt6 || members.at(rootOf(i)) == 1) && replaced >= 0 &&
            (readers == Qt6 || targetValues.at(Qt6).line(source, i) == replaced) &&
            samePaths(target, target.sections.at(target.lines.at(replaced).section), source, section)) {
            replaces[i] = replaced;
            continue;
        }
        if (sourceGroups.at(line.section) == -1) {
            const int added = -2 - static_cast<int>(newSources.size());
            sourceGroups[line.section] = groups.insert(section.path.hash, groupOf(source, section), added);
            if (sourceGroups.at(line.section) == added)
                newSources.push_back(line.section);
        }
        anchors[i] = sourceGroups.at(line.section);
    }
}

// The destination's lines that go, and after which line of each group lines are added.
void Merge::findWhereLinesAreAdded()
{
    addedAfter.assign(targetSections, -1);
    for (int i = 0; i < targetSize; ++i) {
        const Line &line = target.lines.at(i);
        removed[i] = static_cast<char>(carriedValue(Qt5, target, i) >= 0 &&
                                       (readers == Qt6 || carriedValue(Qt6, target, i) >= 0));
        if (!removed.at(i) || addedAfter.at(line.section) < 0 || removed.at(addedAfter.at(line.section)))
            addedAfter[line.section] = i;
    }
    for (int section = 0; section < targetSections; ++section) {
        if (addedAfter.at(section) < 0)
            continue;
        int at = target.lines.at(addedAfter.at(section)).end;
        if (at < into.size() && into.at(at) == ';')  // after the comment on its line
            while (at < into.size() && !isBreak(into.at(at)))
                ++at;
        addedAt[section] = at;
    }
}

// A destination line goes once every key it names is carried. Where one that stays would be read
// after the source's line for a key it shares with it (in a group of a later name), or where the
// encoding of the destination's text would change a value (a byte order mark in one store only
// makes Qt 5 read the whole text as UTF-8, or not), no one text serves every reader: the key is
// left as the destination has it.
void Merge::leaveKeysNoTextServes()
{
    left.assign(sourceSize, false);
    for (int i = 0; i < sourceSize && source.bom != target.bom; ++i) {
        if (!sourceValues.at(Qt5).wins(i))
            continue;
        const Line &line = source.lines.at(i);
        if (!std::all_of(from.constData() + line.equals, from.constData() + line.end,
                         [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            left[rootOf(i)] = true;  // (Qt 5 reads a value of ASCII alike in either encoding)
    }
    removed.assign(targetSize, false);
    addedAt.assign(targetSections, -1);
    // (Looked up once for all rounds.)
    for (int reader = Qt5; reader < readers; ++reader) {
        const Keys &sourceKeys = sourceValues.at(reader);
        std::pmr::vector<int> &targetLines = valueInSource.at(reader);
        targetLines.resize(targetSize);
        for (int i = 0; i < targetSize; ++i) {
            sourceKeys.prefetch(target, i + ahead);
            targetLines[i] = sourceKeys.line(target, i);
        }
    }
    for (bool changed = true; changed;) {
        changed = false;
        findWhereLinesAreAdded();
        const auto check = [&](const Place &place, int value, int reader) {
            if (value >= 0 && !before(place, sourcePlace(value, reader))) {
                left[rootOf(value)] = true;
                changed = true;
            }
        };
        for (int reader = Qt5; reader < readers; ++reader) {
            for (int i = 0; i < targetSize; ++i) {
                const int value = removed.at(i) ? -1 : carriedValue(reader, target, i);
                if (value >= 0)  // (most lines of the destination share no key with the source)
                    check(targetPlace(i, reader), value, reader);
            }
            for (int i = 0; i < sourceSize; ++i) {
                if (!carried(i))
                    continue;
                const int value = carriedValue(reader, source, i);
                if (value != i)
                    check(sourcePlace(i, reader), value, reader);
            }
        }
    }
}

// The edits of the destination's text: the lines replaced, added to its groups and removed; and
// the lines of the groups added at the end, in their order. The keys left out are named.
void Merge::writeEdits(QStringList *leftOut)
{
    std::pmr::vector<char> receives(targetSections, false, memory.resource());
    for (int i = 0; i < sourceSize; ++i)
        if (carried(i) && replaces.at(i) < 0 && anchors.at(i) >= 0)
            receives[anchors.at(i)] = true;
    std::pmr::vector<char> replaced(targetSize, false, memory.resource());
    std::pmr::vector<int> added(targetSections, -1, memory.resource());  // index into edits
    firstAdded.assign(newSources.size(), -1);
    std::pmr::vector<int> lastAdded(newSources.size(), -1, memory.resource());
    nextAdded.assign(sourceSize, -1);
    for (int i = 0; i < sourceSize; ++i) {
        if (parents.at(i) < 0)
            continue;
        if (left.at(rootOf(i))) {
            if (leftOut)
                nameLeftOut(i, *leftOut);
        } else if (replaces.at(i) >= 0) {
            replaceLine(i, receives);
            replaced[replaces.at(i)] = true;
        } else if (anchors.at(i) >= 0) {
            addToGroup(i, added);
        } else {
            const int section = -2 - anchors.at(i);  // (a new group, numbered -2 - index: never -1)
            // cppcheck-suppress invalidFunctionArg
            (firstAdded.at(section) < 0 ? firstAdded[section] : nextAdded[lastAdded.at(section)]) = i;
            lastAdded[section] = i;
        }
    }
    removeLines(replaced, added);
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.at < b.at; });
}

// The key of the source's line `i`, once, where it is the line this program reads it from.
void Merge::nameLeftOut(int i, QStringList &leftOut) const
{
    constexpr int reading = QT_VERSION_MAJOR == 5 ? Qt5 : Qt6;  // (this program's own, for the names it reports)
    if (keysOf(sourceValues, reading).value(i) != i)
        return;
    const QString key = source.key(i, reading).toString();
    if (!leftOut.contains(key))
        leftOut.append(key);
}

// The source's line `i` in place of the destination's line it replaces.
void Merge::replaceLine(int i, const std::pmr::vector<char> &receives)
{
    const Line &old = target.lines.at(replaces.at(i));
    // (Lines added to its group may follow it directly.)
    const bool followed =
        addedAfter.at(old.section) == replaces.at(i) && addedAt.at(old.section) == old.end && receives.at(old.section);
    const char next = followed ? lineBreak.at(0) : old.end < into.size() ? into.at(old.end) : ' ';
    Edit edit{old.start, old.end - old.start, QByteArray()};
    appendLine(edit.text, i, next);
    edits.append(std::move(edit));
}

// The source's line `i` added to its group of the destination, in the one edit that adds all the
// group's lines (`added`: its index into edits, by group).
void Merge::addToGroup(int i, std::pmr::vector<int> &added)
{
    const int section = anchors.at(i);
    if (added.at(section) < 0) {
        added[section] = static_cast<int>(edits.size());
        const int last = addedAfter.at(section);
        Edit edit{addedAt.at(section), 0, QByteArray()};
        if (addedAt.at(section) == target.lines.at(last).end && !removed.at(last))  // (open)
            appendClosing(edit.text, target.lines.at(last).tail, lineBreak.at(0));
        edits.append(std::move(edit));
    }
    QByteArray &text = edits[added.at(section)].text;
    text += lineBreak;
    appendLine(text, i, 0);
}

// The destination's lines that go and are not replaced.
void Merge::removeLines(const std::pmr::vector<char> &replaced, const std::pmr::vector<int> &added)
{
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
            end += end + 1 < into.size() && into.at(end) == '\r' && into.at(end + 1) == '\n' ? 2 : 1;
        edits.append({start, end - start, QByteArray()});
    }
}

// The destination's text with the edits, and the groups added at the end.
QByteArray Merge::applyEdits() const
{
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
        result.prepend(lineBreak);  // a key's bytes, now at the start, would read as a mark
    // (Groups whose keys were all left out are not added.)
    if (std::all_of(firstAdded.cbegin(), firstAdded.cend(), [](int line) { return line < 0; }))
        return result;
    if (!endsAdded && (target.endLine == -1 || (target.endLine >= 0 && !removed.at(target.endLine))))
        appendClosing(result, target.endTail, lineBreak.at(0));
    if (!result.isEmpty() && (endsAdded || !isBreak(result.at(result.size() - 1))))
        result += lineBreak;
    appendAddedGroups(result);
    return result;
}

// The most bytes the groups added at the end take: their lines, headers and line breaks, and two
// for what closes each line that ends open.
int Merge::addedGroupsMostSize() const
{
    const auto breakSize = static_cast<int>(lineBreak.size());
    int most = 0;
    for (const int first : firstAdded) {
        if (first < 0)
            continue;
        const Section &header = source.sections.at(source.lines.at(first).section);
        most += 3 * breakSize + 9 + header.headerEnd - header.headerStart + 2;  // (9: "[General]")
        for (int i = first; i >= 0; i = nextAdded.at(i))
            most += breakSize + source.lines.at(i).end - source.lines.at(i).start + 2;
    }
    return most;
}

// They are written into room made for the most they can take: a store of many thousand groups
// would otherwise grow the text by as many small appends.
void Merge::appendAddedGroups(QByteArray &result) const
{
    const int written = static_cast<int>(result.size());
    const auto breakSize = static_cast<int>(lineBreak.size());
    result.resize(written + addedGroupsMostSize());
    char *out = result.data() + written;
    const auto write = [&out](const char *bytes, int size) { out = std::copy_n(bytes, size, out); };
    for (const int first : firstAdded) {
        if (first < 0)
            continue;
        if (out != result.constData())
            write(lineBreak.constData(), breakSize);
        const Section &header = source.sections.at(source.lines.at(first).section);
        if (header.headerStart < 0) {
            write("[General]", 9);
        } else {
            write(from.constData() + header.headerStart, header.headerEnd - header.headerStart);
            out = writeClosing(out, header.headerTail, lineBreak.at(0));
        }
        for (int i = first; i >= 0; i = nextAdded.at(i)) {
            const Line &line = source.lines.at(i);
            write(lineBreak.constData(), breakSize);
            write(from.constData() + line.start, line.end - line.start);
            out = writeClosing(out, line.tail);
        }
        write(lineBreak.constData(), breakSize);
    }
    result.resize(static_cast<int>(out - result.constData()));
}

}  // namespace

IniKeys iniKeys(const QByteArray &text, bool prefix)
{
    const Parsed parsed = parse(text, true);
    if (!parsed.lines.empty())
        return IniKeys::Some;
    return parsed.malformed && !prefix ? IniKeys::Malformed : IniKeys::None;
}

QByteArray mergeIniText(const QByteArray &into, const QByteArray &from, QStringList *leftOut)
{
    return Merge(into, from).merged(leftOut);
}
