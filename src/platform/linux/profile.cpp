#include "platform/profile.h"

#include "platform/native_path.h"

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/utf8_text.h"
#include "platform/linux/whole_file.h"

namespace vodarezazuv {

namespace {

// A settings file of more than this is not a settings file; it is read as empty and never
// overwritten, so that memory stays bounded and nothing of it is lost.
constexpr size_t kMaxFileBytes = 16u << 20;

// One line of the file as UTF-8, without its line end.
struct Line {
    std::string text;
    std::string end;  // "\r\n", "\n", "\r" or "" for a last line without one
};

struct IniFile {
    std::vector<Line> lines;
    bool byteOrderMark = false;
};

enum class LineKind { Section, Key, Other };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key name, blanks trimmed
    std::string_view value;  // value of a key, blanks trimmed
};

// --- Lines -----------------------------------------------------------------------------

std::string_view Trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

ParsedLine Parse(const std::string& text) {
    ParsedLine parsed;
    std::string_view line = Trim(text);
    if (line.empty() || line[0] == ';' || line[0] == '#')
        return parsed;
    if (line[0] == '[') {
        // The last "]" closes the name, so that a name may hold "]" itself.
        size_t close = line.rfind(']');
        if (close != std::string_view::npos && close > 0) {
            parsed.kind = LineKind::Section;
            parsed.name = Trim(line.substr(1, close - 1));
        }
        return parsed;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return parsed;
    parsed.name = Trim(line.substr(0, equals));
    if (parsed.name.empty())
        return parsed;
    parsed.kind = LineKind::Key;
    parsed.value = Trim(line.substr(equals + 1));
    return parsed;
}

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string::npos) {
            lines.push_back({text.substr(start), ""});
            break;
        }
        size_t endLength =
            (text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n') ? 2 : 1;
        lines.push_back({text.substr(start, stop - start), text.substr(stop, endLength)});
        start = stop + endLength;
    }
    return lines;
}

// --- The file --------------------------------------------------------------------------

std::string NativePath(const char16_t* path) {
    return WideToNativePath(path);
}

ReadResult Load(const char16_t* path, IniFile& file) {
    std::string bytes;
    ReadResult result = ReadWholeFile(NativePath(path), kMaxFileBytes, bytes);
    if (result != ReadResult::Read)
        return result;
    std::string text;
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        text = DecodeUtf16(std::string_view(bytes).substr(2), bytes[0] == '\xFE');
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        file.byteOrderMark = true;
        text = DecodeUtf8OrAnsi(std::string_view(bytes).substr(3));
    } else {
        text = DecodeUtf8OrAnsi(bytes);
    }
    file.lines = SplitLines(text);
    return ReadResult::Read;
}

bool Save(const char16_t* path, const IniFile& file) {
    std::string content = file.byteOrderMark ? "\xEF\xBB\xBF" : "";
    for (const Line& line : file.lines)
        content += line.text + line.end;
    return ReplaceWholeFile(NativePath(path), content);
}

// The line end for new lines: the file's own, LF for a new file.
std::string LineEndOf(const IniFile& file) {
    for (const Line& line : file.lines) {
        if (!line.end.empty())
            return line.end;
    }
    return "\n";
}

// Calls visit(index, parsed) for every key line of the sections named `section`; stops when
// visit returns false.
template <typename Visit>
void ForEachKeyLine(const IniFile& file, std::string_view section, Visit visit) {
    bool inside = false;
    for (size_t i = 0; i < file.lines.size(); ++i) {
        ParsedLine parsed = Parse(file.lines[i].text);
        if (parsed.kind == LineKind::Section) {
            inside = SameName(parsed.name, section);
        } else if (inside && parsed.kind == LineKind::Key && !visit(i, parsed)) {
            return;
        }
    }
}

bool FindValue(const IniFile& file, std::string_view section, std::string_view key,
               std::string& value) {
    bool found = false;
    ForEachKeyLine(file, section, [&](size_t, const ParsedLine& parsed) {
        if (!SameName(parsed.name, key))
            return true;
        value = parsed.value;
        found = true;
        return false;
    });
    return found;
}

// Writes the names as a list of terminated names ended by an empty one, whole names only.
size_t WriteNameList(const std::vector<std::string>& names, char16_t* out, size_t size) {
    if (size == 0)
        return 0;
    size_t used = 0;
    for (const std::string& name : names) {
        std::u16string wide = Utf8ToWide(name);
        if (used + wide.size() + 2 > size)
            break;  // the name, its terminator, the list's end
        wide.copy(out + used, wide.size());
        used += wide.size();
        out[used++] = 0;
    }
    out[used] = 0;
    if (used == 0 && size >= 2)
        out[1] = 0;
    return used;
}

void AddDistinct(std::vector<std::string>& names, std::string_view name) {
    for (const std::string& known : names) {
        if (SameName(known, name))
            return;
    }
    names.emplace_back(name);
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool ValidNames(std::string_view section, const char16_t* key, std::string_view keyName) {
    if (section.empty() || HasLineBreak(section))
        return false;
    if (key == nullptr)
        return true;
    return !keyName.empty() && !HasLineBreak(keyName) &&
           keyName.find('=') == std::string_view::npos && keyName[0] != '[' && keyName[0] != ';' &&
           keyName[0] != '#';
}

bool RemoveSection(IniFile& file, std::string_view section) {
    bool inside = false, removed = false;
    std::vector<Line> kept;
    for (Line& line : file.lines) {
        ParsedLine parsed = Parse(line.text);
        if (parsed.kind == LineKind::Section)
            inside = SameName(parsed.name, section);
        if (inside) {
            removed = true;
        } else {
            kept.push_back(std::move(line));
        }
    }
    file.lines = std::move(kept);
    return removed;
}

bool RemoveKey(IniFile& file, std::string_view section, std::string_view key) {
    std::vector<size_t> doomed;
    ForEachKeyLine(file, section, [&](size_t i, const ParsedLine& parsed) {
        if (SameName(parsed.name, key))
            doomed.push_back(i);
        return true;
    });
    for (auto i = doomed.rbegin(); i != doomed.rend(); ++i) {
        file.lines.erase(file.lines.begin() + static_cast<std::ptrdiff_t>(*i));
    }
    return !doomed.empty();
}

void InsertLine(IniFile& file, size_t at, std::string text) {
    std::string end = LineEndOf(file);
    if (at > 0 && file.lines[at - 1].end.empty())
        file.lines[at - 1].end = end;
    file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(at),
                      Line{std::move(text), end});
}

// Sets the value; returns false when the file already held exactly that.
bool SetValue(IniFile& file, std::string_view section, std::string_view key,
              const std::string& value) {
    bool changed = true, done = false;
    ForEachKeyLine(file, section, [&](size_t i, const ParsedLine& parsed) {
        if (!SameName(parsed.name, key))
            return true;
        changed = parsed.value != value;
        if (changed)
            file.lines[i].text = std::string(parsed.name) + "=" + value;
        done = true;
        return false;
    });
    if (done)
        return changed;
    // A new key goes after the last key of the last section of that name.
    size_t insertAt = file.lines.size();
    bool inside = false, sectionFound = false;
    for (size_t i = 0; i < file.lines.size(); ++i) {
        ParsedLine parsed = Parse(file.lines[i].text);
        if (parsed.kind == LineKind::Section) {
            inside = SameName(parsed.name, section);
            if (inside) {
                sectionFound = true;
                insertAt = i + 1;
            }
        } else if (inside && parsed.kind == LineKind::Key) {
            insertAt = i + 1;
        }
    }
    if (!sectionFound)
        InsertLine(file, insertAt++, "[" + std::string(section) + "]");
    InsertLine(file, insertAt, std::string(key) + "=" + value);
    return true;
}

}  // namespace

size_t ProfileGetString(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                        char16_t* out, size_t size, const char16_t* path) {
    if (size == 0)
        return 0;
    IniFile file;
    bool loaded = Load(path, file) == ReadResult::Read;
    std::string sectionName(Trim(WideToUtf8(section)));
    if (key == nullptr) {
        std::vector<std::string> names;
        if (loaded) {
            ForEachKeyLine(file, sectionName, [&](size_t, const ParsedLine& parsed) {
                AddDistinct(names, parsed.name);
                return true;
            });
        }
        return WriteNameList(names, out, size);
    }
    std::string value;
    std::u16string wide = loaded && FindValue(file, sectionName, Trim(WideToUtf8(key)), value)
                              ? Utf8ToWide(value)
                              : std::u16string(defaultValue != nullptr ? defaultValue : u"");
    size_t n = wide.copy(out, size - 1);
    out[n] = 0;
    return n;
}

bool ProfileSectionHasKeys(const char16_t* section, const char16_t* path) {
    IniFile file;
    bool found = false;
    if (Load(path, file) == ReadResult::Read) {
        ForEachKeyLine(file, Trim(WideToUtf8(section)), [&](size_t, const ParsedLine&) {
            found = true;
            return false;
        });
    }
    return found;
}

size_t ProfileGetSectionNames(char16_t* out, size_t size, const char16_t* path) {
    IniFile file;
    std::vector<std::string> names;
    if (Load(path, file) == ReadResult::Read) {
        for (const Line& line : file.lines) {
            ParsedLine parsed = Parse(line.text);
            if (parsed.kind == LineKind::Section)
                AddDistinct(names, parsed.name);
        }
    }
    return WriteNameList(names, out, size);
}

int32_t ProfileGetInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                      const char16_t* path) {
    IniFile file;
    std::string value;
    if (Load(path, file) != ReadResult::Read ||
        !FindValue(file, Trim(WideToUtf8(section)), Trim(WideToUtf8(key)), value)) {
        return defaultValue;
    }
    int64_t number = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            break;
        number = number * 10 + (c - '0');
        if (number > INT32_MAX)
            return INT32_MAX;
    }
    return static_cast<int32_t>(number);
}

bool ProfileWriteString(const char16_t* section, const char16_t* key, const char16_t* value,
                        const char16_t* path) {
    if (section == nullptr)
        return false;
    std::string sectionName(Trim(WideToUtf8(section)));
    std::string keyName(Trim(WideToUtf8(key)));
    std::string text(Trim(WideToUtf8(value)));
    if (!ValidNames(sectionName, key, keyName) || HasLineBreak(text))
        return false;

    IniFile file;
    ReadResult read = Load(path, file);
    if (read == ReadResult::Failed)
        return false;
    bool changed = key == nullptr     ? RemoveSection(file, sectionName)
                   : value == nullptr ? RemoveKey(file, sectionName, keyName)
                                      : SetValue(file, sectionName, keyName, text);
    if (!changed)
        return true;
    return Save(path, file);
}

}  // namespace vodarezazuv
