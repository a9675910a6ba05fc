#include "common/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "common/text_format.h"
#include "encoding/utf16.h"
#include "fileio/file_access.h"

namespace kt {
namespace {

// ---- text encoding ----

enum class Encoding { Utf8, Utf8Bom, Utf16Le, Utf16Be };

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The file as UTF-8 text. A UTF-16 file's lone surrogates are carried as
// three-byte sequences, so converting back gives every code unit as it was.
struct Document {
    Encoding encoding = Encoding::Utf8;
    std::string text;
    std::string tail;  // odd last byte of a UTF-16 file, written back as found
};

std::string UnitsToText(std::u16string_view units) { return *Utf16ToUtf8(units, Unpaired::Keep); }

std::u16string TextToUnits(std::string_view text) { return Utf8ToUtf16(text, Unpaired::Keep); }

Document Decode(std::string_view bytes) {
    Document doc;
    const bool le = bytes.starts_with("\xFF\xFE");
    if (le || bytes.starts_with("\xFE\xFF")) {
        doc.encoding = le ? Encoding::Utf16Le : Encoding::Utf16Be;
        std::u16string units;
        std::size_t i = 2;
        for (; i + 1 < bytes.size(); i += 2) {
            const auto lo = static_cast<unsigned char>(bytes[le ? i : i + 1]);
            const auto hi = static_cast<unsigned char>(bytes[le ? i + 1 : i]);
            units += static_cast<char16_t>(hi << 8 | lo);
        }
        doc.text = UnitsToText(units);
        doc.tail = bytes.substr(i);
    } else if (bytes.starts_with(kUtf8Bom)) {
        doc.encoding = Encoding::Utf8Bom;
        doc.text = bytes.substr(kUtf8Bom.size());
    } else {
        doc.text = bytes;
    }
    return doc;
}

std::string Encode(const Document& doc) {
    switch (doc.encoding) {
        case Encoding::Utf8:
            return doc.text;
        case Encoding::Utf8Bom:
            return std::string(kUtf8Bom) + doc.text;
        case Encoding::Utf16Le:
        case Encoding::Utf16Be:
            break;
    }
    const bool le = doc.encoding == Encoding::Utf16Le;
    std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t u : TextToUnits(doc.text)) {
        const char lo = static_cast<char>(u & 0xFF);
        const char hi = static_cast<char>(u >> 8);
        out += le ? lo : hi;
        out += le ? hi : lo;
    }
    return out + doc.tail;
}

// ---- lines ----

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

enum class LineKind { Blank, Comment, Section, Entry, Other };

struct Line {
    std::size_t begin = 0, end = 0;  // the text without the line break
    std::size_t next = 0;            // where the following line starts
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name, trimmed
    // The part of an entry that a write replaces: the value without outer
    // blanks, or everything after "=" when the value is empty.
    std::size_t value_begin = 0, value_end = 0;
    std::size_t after_equals = 0;  // where the text after "=" starts
    bool HasBreak() const { return next != end; }
};

Line ParseLine(std::string_view text, std::size_t begin) {
    Line line;
    line.begin = begin;
    const std::size_t lf = text.find('\n', begin);
    line.next = lf == std::string_view::npos ? text.size() : lf + 1;
    line.end =
        lf == std::string_view::npos ? text.size() : (lf > begin && text[lf - 1] == '\r' ? lf - 1 : lf);
    const std::string_view content = text.substr(begin, line.end - begin);
    const std::string_view trimmed = Trim(content);
    if (trimmed.empty()) {
        line.kind = LineKind::Blank;
    } else if (trimmed.front() == ';' || trimmed.front() == '#') {
        line.kind = LineKind::Comment;
    } else if (trimmed.front() == '[') {
        const std::size_t close = trimmed.find(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = Trim(trimmed.substr(1, close - 1));
        }
    } else if (const std::size_t eq = content.find('='); eq != std::string_view::npos) {
        line.name = Trim(content.substr(0, eq));
        if (!line.name.empty()) {
            line.kind = LineKind::Entry;
            line.after_equals = begin + eq + 1;
            const std::string_view value = Trim(content.substr(eq + 1));
            if (value.empty()) {
                // An empty value is replaced together with any blanks after '='.
                line.value_begin = begin + eq + 1;
                line.value_end = line.end;
            } else {
                line.value_begin = static_cast<std::size_t>(value.data() - text.data());
                line.value_end = line.value_begin + value.size();
            }
        }
    }
    return line;
}

std::vector<Line> ParseLines(std::string_view text) {
    std::vector<Line> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        lines.push_back(ParseLine(text, pos));
        pos = lines.back().next;
    }
    return lines;
}

// Where a key lives. Only the first section of a name counts, and in it
// the first entry of a key, for reading and writing alike.
struct Location {
    std::optional<std::size_t> section;  // index of the header line
    std::optional<std::size_t> entry;    // index of the key's line
    std::size_t last_content = 0;        // header or last entry line of the section
};

Location Find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location at;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == LineKind::Section) {
            if (at.section) break;
            if (SameName(line.name, section)) at.section = at.last_content = i;
            continue;
        }
        if (!at.section) continue;
        if (line.kind == LineKind::Entry || line.kind == LineKind::Other) at.last_content = i;
        if (line.kind == LineKind::Entry && !at.entry && SameName(line.name, key)) at.entry = i;
    }
    return at;
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// A value that would not read back as written (outer blanks, matching
// quotes of its own) is stored in double quotes, which the read removes.
std::string StoredValue(std::string_view v) {
    const bool quote =
        !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) || Unquote(v).size() != v.size());
    return quote ? "\"" + std::string(v) + "\"" : std::string(v);
}

bool Storable(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// Names match byte for byte, and a UTF-16 file cannot hold bytes that are no
// UTF-8: such a name would be stored as another one, never found again.
bool Utf8Name(std::string_view s) { return UnitsToText(TextToUnits(s)) == s; }

// ---- files ----

enum class FileState { Read, Missing, Unreadable, TooLarge };

// Every lookup reads the whole file: a huge one would cost seconds per key, or all memory.
// A FIFO in the file's place is refused without blocking.
FileState ReadSettings(const std::string& path, std::string& bytes, std::string& why) {
    int error = 0;
    std::optional<std::string> read = fileio::ReadWhole(path, kSettingsFileLimit, why, &error);
    if (read) bytes = std::move(*read);
    if (read) return FileState::Read;
    if (error == ENOENT) return FileState::Missing;
    return error == EFBIG ? FileState::TooLarge : FileState::Unreadable;
}

// The value of a key as stored, or nullopt when the file, section or key
// is missing.
std::optional<std::string> Lookup(const std::string& path, std::string_view section, std::string_view key) {
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || key.empty()) return std::nullopt;
    std::string bytes;
    std::string why;
    if (ReadSettings(path, bytes, why) != FileState::Read) return std::nullopt;
    const Document doc = Decode(bytes);
    const std::vector<Line> lines = ParseLines(doc.text);
    const Location at = Find(lines, section, key);
    if (!at.entry) return std::nullopt;
    const Line& line = lines[*at.entry];
    const std::string_view stored =
        std::string_view(doc.text).substr(line.value_begin, line.value_end - line.value_begin);
    return std::string(Unquote(Trim(stored)));
}

}  // namespace

std::string SettingsFileRefusal(const std::string& path) {
    std::string bytes;
    std::string why;
    if (ReadSettings(path, bytes, why) != FileState::TooLarge) return {};
    return Format("%s: larger than %zu MiB, the limit of a settings file; its settings are not used",
                  path.c_str(), kSettingsFileLimit >> 20);
}

bool HasSetting(const std::string& path, std::string_view section, std::string_view key) {
    return Lookup(path, section, key).has_value();
}

int ReadSettingInt(const std::string& path, std::string_view section, std::string_view key,
                   int default_value) {
    const std::optional<std::string> value = Lookup(path, section, key);
    if (!value || value->empty()) return default_value;
    std::string_view s = *value;
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::uint32_t n = 0;
    for (; !s.empty() && s.front() >= '0' && s.front() <= '9'; s.remove_prefix(1))
        n = n * 10u + static_cast<std::uint32_t>(s.front() - '0');
    if (negative) n = 0u - n;
    return static_cast<int>(n);
}

std::string ReadSettingString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view default_value, std::size_t buffer_chars) {
    if (buffer_chars == 0) return {};
    const std::optional<std::string> value = Lookup(path, section, key);
    std::u16string units = TextToUnits(value ? std::string_view(*value) : default_value);
    const std::size_t keep = buffer_chars - 1;
    if (units.size() > keep) {
        std::size_t n = keep;
        if (n > 0 && units[n - 1] >= 0xD800 && units[n - 1] <= 0xDBFF && units[n] >= 0xDC00 &&
            units[n] <= 0xDFFF)
            --n;
        units.resize(n);
    }
    return Utf16ToUtf8(units);
}

bool WriteSettingString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, std::string* why) {
    std::string reason;
    const auto refuse = [&](std::string text) {
        if (why != nullptr) *why = std::move(text);
        return false;
    };
    section = Trim(section);
    key = Trim(key);
    // Names and values that would read back as something else are refused
    // rather than written into the wrong place.
    if (section.empty() || key.empty() || !Storable(section) || !Storable(key) || !Storable(value) ||
        !Utf8Name(section) || !Utf8Name(key) || section.find(']') != std::string_view::npos ||
        key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';' ||
        key.front() == '#')
        return refuse("a name or value that cannot be stored");

    std::string bytes;
    const FileState state = ReadSettings(path, bytes, reason);
    // Never replace what could not be read; the reason says why: a FIFO, a folder, no permission.
    if (state == FileState::Unreadable) return refuse(reason);
    if (state == FileState::TooLarge) {
        errno = EFBIG;  // the caller's message gives the system's words for it
        return refuse(std::generic_category().message(EFBIG));
    }
    if (state == FileState::Read && access(path.c_str(), W_OK) != 0)
        return refuse(std::generic_category().message(errno));
    Document doc = Decode(bytes);
    std::string& text = doc.text;
    const std::vector<Line> lines = ParseLines(text);
    const Location at = Find(lines, section, key);
    const std::size_t lf = text.find('\n');
    const std::string eol = lf != std::string::npos && lf > 0 && text[lf - 1] == '\r' ? "\r\n" : "\n";
    const std::string entry = std::string(key) + "=" + StoredValue(value) + eol;

    std::string edited = text;
    if (at.entry) {
        const Line& line = lines[*at.entry];
        // An empty value takes the blanks around the old one with it, as an
        // empty value is found: written again, it then changes nothing.
        const std::size_t from = value.empty() ? line.after_equals : line.value_begin;
        const std::size_t to = value.empty() ? line.end : line.value_end;
        edited.replace(from, to - from, StoredValue(value));
    } else if (at.section) {
        const Line& anchor = lines[at.last_content];
        edited.insert(anchor.next, (anchor.HasBreak() ? "" : eol) + entry);
    } else {
        if (!edited.empty() && edited.back() != '\n') edited += eol;
        edited += "[" + std::string(section) + "]" + eol + entry;
    }
    if (state == FileState::Read && edited == text) return true;
    text = std::move(edited);
    // The old file stays whole until the new one is complete on disk; a file
    // we may write in a folder that refuses new files is rewritten in place.
    return fileio::ReplaceWhole(path, Encode(doc), reason) || refuse(reason);
}

}  // namespace kt
