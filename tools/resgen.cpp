// Turns the resource data files of src/resources into one C++ source with the string and
// dialog tables of both languages.
//
//   resgen OUTPUT.cpp strings.en.txt strings.de.txt dialogs.en.txt dialogs.de.txt
//
// Data files are UTF-8, one record a line, fields separated by a tab; blank lines and lines
// starting with "#" are skipped. Texts use the escapes \n \r \t \" and \\.
//   strings:  ID <tab> TEXT
//   dialogs:  dialog <tab> ID <tab> WIDTH,HEIGHT <tab> FONT,POINTS <tab> TITLE
//             control <tab> ID or - <tab> KIND <tab> FLAGS or - <tab> X,Y,W,H <tab> TEXT
//   KIND:     label, groupbox, edit, button, checkbox, radio, dropdown
//   FLAGS:    comma-separated from default, password, readonly, autohscroll, hidden,
//             disabled, group, sorted
// A control line belongs to the dialog line above it. A file is a strings or a dialogs file
// by the start of its name; its language is the part of the name between the first and the
// last dot ("en" or "de").
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Failure {
    std::string message;
};

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

std::string Unescape(const std::string& text, const std::string& where) {
    std::string out;
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            throw Failure{where + ": text ends in a backslash"};
        switch (text[i]) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                throw Failure{where + ": unknown escape \\" + text[i]};
        }
    }
    return out;
}

// A UTF-16 literal for the compiler; the source stays UTF-8 and the compiler converts it.
std::string Literal(const std::string& text) {
    std::string out = "u\"";
    for (unsigned char c : text) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '?':
                out += "\\?";
                break;  // no trigraphs
            default:
                if (c < 0x20 || c == 0x7F)
                    throw Failure{"control character in a text"};
                out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::vector<int> Numbers(const std::string& field, size_t count, const std::string& where) {
    std::vector<int> values;
    std::stringstream in(field);
    std::string part;
    while (std::getline(in, part, ',')) {
        try {
            size_t used = 0;
            values.push_back(std::stoi(part, &used));
            if (used != part.size())
                throw Failure{""};
        } catch (...) {
            throw Failure{where + ": not a number list: " + field};
        }
    }
    if (values.size() != count)
        throw Failure{where + ": expected " + std::to_string(count) + " numbers in " + field};
    return values;
}

// Kinds and flags go into the table as they are written, so a misspelt one would reach the
// dialog code unnoticed; only the known words pass.
void CheckControlWords(const std::string& kind, const std::string& flags,
                       const std::string& where) {
    static const std::vector<std::string> kinds = {"label",    "groupbox", "edit",    "button",
                                                   "checkbox", "radio",    "dropdown"};
    static const std::vector<std::string> known = {"default", "password", "readonly", "autohscroll",
                                                   "hidden",  "disabled", "group",    "sorted"};
    if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end()) {
        throw Failure{where + ": unknown control kind " + kind};
    }
    if (flags == "-") {
        return;
    }
    std::stringstream in(flags);
    std::string flag;
    std::vector<std::string> seen;
    while (std::getline(in, flag, ',')) {
        if (std::find(known.begin(), known.end(), flag) == known.end()) {
            throw Failure{where + ": unknown control flag \"" + flag + "\""};
        }
        if (std::find(seen.begin(), seen.end(), flag) != seen.end()) {
            throw Failure{where + ": control flag " + flag + " given twice"};
        }
        seen.push_back(flag);
    }
    if (seen.empty() || flags.back() == ',') {
        throw Failure{where + ": bad flag list " + flags};
    }
}

std::string FileName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return path.substr(slash == std::string::npos ? 0 : slash + 1);
}

std::string LanguageOf(const std::string& path) {
    std::string name = FileName(path);
    auto first = name.find('.');
    auto last = name.rfind('.');
    if (first == std::string::npos || first == last)
        throw Failure{path + ": no language"};
    return name.substr(first + 1, last - first - 1);
}

std::vector<std::pair<int, std::vector<std::string>>> ReadRecords(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Failure{"cannot read " + path};
    std::vector<std::pair<int, std::vector<std::string>>> records;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        records.emplace_back(number, SplitTabs(line));
    }
    return records;
}

void EmitStrings(std::ostream& out, const std::string& path, const std::string& symbol) {
    std::map<int, std::string> strings;
    for (auto& [number, fields] : ReadRecords(path)) {
        std::string where = path + ":" + std::to_string(number);
        if (fields.size() != 2)
            throw Failure{where + ": expected ID<tab>TEXT"};
        int id = Numbers(fields[0], 1, where)[0];
        if (!strings.emplace(id, Unescape(fields[1], where)).second) {
            throw Failure{where + ": string " + fields[0] + " given twice"};
        }
    }
    out << "const StringResource " << symbol << "[] = {\n";
    for (auto& [id, text] : strings)
        out << "    {" << id << ", " << Literal(text) << "},\n";
    out << "};\n\n";
}

void EmitDialogs(std::ostream& out, const std::string& path, const std::string& symbol) {
    struct Dialog {
        int id;
        std::string header;
        std::vector<std::string> controls;
    };
    std::vector<Dialog> dialogs;
    for (auto& [number, f] : ReadRecords(path)) {
        std::string where = path + ":" + std::to_string(number);
        if (f[0] == "dialog") {
            if (f.size() != 5)
                throw Failure{where + ": a dialog line has five fields"};
            auto size = Numbers(f[2], 2, where);
            auto comma = f[3].rfind(',');
            if (comma == std::string::npos)
                throw Failure{where + ": font needs NAME,POINTS"};
            auto points = Numbers(f[3].substr(comma + 1), 1, where)[0];
            std::ostringstream header;
            header << Literal(Unescape(f[4], where)) << ", " << Literal(f[3].substr(0, comma))
                   << ", " << points << ", " << size[0] << ", " << size[1];
            dialogs.push_back({Numbers(f[1], 1, where)[0], header.str(), {}});
        } else if (f[0] == "control") {
            if (dialogs.empty())
                throw Failure{where + ": control before any dialog"};
            if (f.size() != 5 && f.size() != 6)
                throw Failure{where + ": bad control line"};
            int id = f[1] == "-" ? -1 : Numbers(f[1], 1, where)[0];
            CheckControlWords(f[2], f[3], where);
            auto box = Numbers(f[4], 4, where);
            std::string flags = f[3] == "-" ? "" : f[3];
            std::ostringstream control;
            control << "{" << id << ", \"" << f[2] << "\", \"" << flags << "\", " << box[0] << ", "
                    << box[1] << ", " << box[2] << ", " << box[3] << ", "
                    << Literal(f.size() == 6 ? Unescape(f[5], where) : "") << "}";
            dialogs.back().controls.push_back(control.str());
        } else {
            throw Failure{where + ": unknown record " + f[0]};
        }
    }
    for (auto& dialog : dialogs) {
        out << "const DialogControlResource " << symbol << "_" << dialog.id << "[] = {\n";
        for (auto& control : dialog.controls)
            out << "    " << control << ",\n";
        out << "};\n";
    }
    out << "const DialogResource " << symbol << "[] = {\n";
    for (auto& dialog : dialogs) {
        out << "    {" << dialog.id << ", " << dialog.header << ", " << symbol << "_" << dialog.id
            << ", " << dialog.controls.size() << "},\n";
    }
    out << "};\n\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: resgen OUTPUT.cpp DATAFILE...\n";
        return 2;
    }
    try {
        std::ostringstream out;
        out << "// Generated by resgen from src/resources; do not edit.\n"
            << "#include \"resources/resource_table.h\"\n\n"
            << "namespace vodarezazuv {\nnamespace {\n\n";
        const std::vector<std::string> languages = {"en", "de"};
        for (int i = 2; i < argc; ++i) {
            std::string path = argv[i];
            std::string language = LanguageOf(path);
            if (std::find(languages.begin(), languages.end(), language) == languages.end()) {
                throw Failure{path + ": unknown language " + language};
            }
            // Decided by the file name alone: a directory above may have any name.
            std::string name = FileName(path);
            bool strings = name.rfind("strings.", 0) == 0;
            if (!strings && name.rfind("dialogs.", 0) != 0) {
                throw Failure{path + ": neither a strings nor a dialogs file"};
            }
            std::string symbol = std::string(strings ? "kStrings_" : "kDialogs_") + language;
            if (strings) {
                EmitStrings(out, path, symbol);
            } else {
                EmitDialogs(out, path, symbol);
            }
        }
        out << "}  // namespace\n\n"
            << "const ResourceTables kResourceTables[2] = {\n";
        for (auto& language : languages) {
            out << "    {kStrings_" << language << ", std::size(kStrings_" << language
                << "), kDialogs_" << language << ", std::size(kDialogs_" << language << ")},\n";
        }
        out << "};\n\n}  // namespace vodarezazuv\n";
        std::ofstream file(argv[1], std::ios::binary);
        file << out.str();
        if (!file)
            throw Failure{std::string("cannot write ") + argv[1]};
    } catch (const Failure& failure) {
        std::cerr << "resgen: " << failure.message << "\n";
        return 1;
    }
    return 0;
}
