#include "platform/profile.h"

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/utf8_text.h"
#include "platform/linux/whole_file.h"
#include "platform/native_path.h"

namespace vodarezazuv {

namespace {

// A settings file of more than this is not a settings file; it is read as empty and never
// overwritten, so that memory stays bounded (every call parses the whole file) and nothing
// of it is lost. A connection takes a few hundred bytes.
constexpr size_t kMaxFileBytes = 1u << 20;

// One line of the file as UTF-8, without its line end.
struct Line {
    std::string text;
    std::string_view end;  // "\r\n", "\n", "\r" or "" for a last line without one
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

std::string_view LineEndAt(const std::string& text, size_t stop) {
    if (text[stop] == '\n')
        return "\n";
    return stop + 1 < text.size() && text[stop + 1] == '\n' ? "\r\n" : "\r";
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
        std::string_view end = LineEndAt(text, stop);
        lines.push_back({text.substr(start, stop - start), end});
        start = stop + end.size();
    }
    return lines;
}

// --- The file --------------------------------------------------------------------------

ReadResult Load(const char16_t* path, IniFile& file) {
    std::string bytes;
    ReadResult result = ReadWholeFile(WideToNativePath(path), kMaxFileBytes, bytes);
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
    for (const Line& line : file.lines) {
        content += line.text;
        content += line.end;
    }
    return ReplaceWholeFile(WideToNativePath(path), content);
}

// The line end for new lines: the file's own, LF for a new file.
std::string_view LineEndOf(const IniFile& file) {
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

// Copies text into out (size elements), cut at size - 1 and terminated; a cut never leaves
// the first half of a surrogate pair at the end.
size_t CopyOut(const std::u16string& text, char16_t* out, size_t size) {
    size_t n = text.copy(out, size - 1);
    if (n > 0 && n < text.size() && out[n - 1] >= 0xD800 && out[n - 1] <= 0xDBFF)
        --n;
    out[n] = 0;
    return n;
}

// Writes the names as a list of terminated names ended by an empty one, whole names only.
size_t WriteNameList(const std::vector<std::string>& names, char16_t* out, size_t size) {
    if (size == 0)
        return 0;
    size_t used = 0;
    for (const std::string& name : names) {
        std::u16string wide = Utf8ToWide(name);
        if (used + wide.size() + 2 > size)  // the name, its terminator, the list's end
            break;
        wide.copy(out + used, wide.size());
        used += wide.size();
        out[used++] = 0;
    }
    out[used] = 0;
    if (used == 0 && size >= 2)
        out[1] = 0;
    return used;
}

// An empty name ("[]") would end the list early: it is left out.
void AddDistinct(std::vector<std::string>& names, std::string_view name) {
    if (name.empty())
        return;
    for (const std::string& known : names) {
        if (SameName(known, name))
            return;
    }
    names.emplace_back(name);
}

// --- Changes ---------------------------------------------------------------------------

// Whether the text reads back as written: no line break, no lone surrogate (which UTF-8
// cannot hold), no blank at either end (reading drops those).
bool StoresFaithfully(const char16_t* text) {
    std::u16string_view view(text);
    for (size_t i = 0; i < view.size(); ++i) {
        char16_t c = view[i];
        if (c == u'\r' || c == u'\n')
            return false;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < view.size() && view[i + 1] >= 0xDC00 &&
            view[i + 1] <= 0xDFFF) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return false;
        }
    }
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    return view.empty() || (!blank(view.front()) && !blank(view.back()));
}

bool ValidChange(const ProfileChange& change) {
    if (change.section == nullptr || change.section[0] == 0 || !StoresFaithfully(change.section))
        return false;
    if (change.key != nullptr) {
        std::u16string_view key(change.key);
        if (key.empty() || !StoresFaithfully(change.key) || key.find(u'=') != key.npos ||
            key[0] == u'[' || key[0] == u';' || key[0] == u'#') {
            return false;
        }
    }
    return change.value == nullptr || StoresFaithfully(change.value);
}

// Removes every section of that name from its header to its last key line. Comments and
// blank lines after the last key stay: they usually introduce what follows.
bool RemoveSection(IniFile& file, std::string_view section) {
    std::vector<bool> doomed(file.lines.size(), false);
    bool inside = false, removed = false;
    size_t start = 0;
    auto close = [&](size_t lastKept) {
        for (size_t i = start; i <= lastKept; ++i)
            doomed[i] = true;
    };
    size_t lastOfSection = 0;
    for (size_t i = 0; i < file.lines.size(); ++i) {
        ParsedLine parsed = Parse(file.lines[i].text);
        if (parsed.kind == LineKind::Section) {
            if (inside)
                close(lastOfSection);
            inside = SameName(parsed.name, section);
            if (inside) {
                start = lastOfSection = i;
                removed = true;
            }
        } else if (inside && parsed.kind == LineKind::Key) {
            lastOfSection = i;
        }
    }
    if (inside)
        close(lastOfSection);
    std::vector<Line> kept;
    for (size_t i = 0; i < file.lines.size(); ++i) {
        if (!doomed[i])
            kept.push_back(std::move(file.lines[i]));
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
    std::string_view end = LineEndOf(file);
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

bool Apply(IniFile& file, const ProfileChange& change) {
    std::string section = WideToUtf8(change.section);
    if (change.key == nullptr)
        return RemoveSection(file, section);
    std::string key = WideToUtf8(change.key);
    if (change.value == nullptr)
        return RemoveKey(file, section, key);
    return SetValue(file, section, key, WideToUtf8(change.value));
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
    if (loaded && FindValue(file, sectionName, Trim(WideToUtf8(key)), value))
        return CopyOut(Utf8ToWide(value), out, size);
    return CopyOut(defaultValue != nullptr ? defaultValue : u"", out, size);
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

bool ProfileWriteAll(const ProfileChange* changes, size_t count, const char16_t* path) {
    for (size_t i = 0; i < count; ++i) {
        if (!ValidChange(changes[i]))
            return false;
    }
    IniFile file;
    if (Load(path, file) == ReadResult::Failed)
        return false;
    bool changed = false;
    for (size_t i = 0; i < count; ++i)
        changed = Apply(file, changes[i]) || changed;
    return !changed || Save(path, file);
}

bool ProfileWriteString(const char16_t* section, const char16_t* key, const char16_t* value,
                        const char16_t* path) {
    ProfileChange change{section, key, value};
    return ProfileWriteAll(&change, 1, path);
}

}  // namespace vodarezazuv
