// The man pages as a reader meets them: rendered by man without a warning, complete, linked to
// each other, quoting the programs' own texts, and installed beside their programs.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "runprog.h"

namespace {

using testutil::read_file;
using testutil::run;

// "a=b|c=d" into {a: b, c: d}.
std::map<std::string, std::string> parse_table(const std::string& text) {
    std::map<std::string, std::string> table;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('|', start);
        if (end == std::string::npos) end = text.size();
        std::string entry = text.substr(start, end - start);
        size_t eq = entry.find('=');
        if (eq != std::string::npos) table[entry.substr(0, eq)] = entry.substr(eq + 1);
        start = end + 1;
    }
    return table;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    return names;
}

// Every built page, as "name.section", with its compressed file.
std::map<std::string, std::string> built_pages() {
    std::map<std::string, std::string> pages;
    for (const char* section : {"1", "4", "8"}) {
        std::string dir = std::string(MAN_BUILD_DIR) + "/man" + section;
        for (const std::string& file : list_dir(dir)) {
            if (file.size() > 3 && file.compare(file.size() - 3, 3, ".gz") == 0)
                pages[file.substr(0, file.size() - 3)] = dir + "/" + file;
        }
    }
    return pages;
}

std::string page_name(const std::string& page) { return page.substr(0, page.rfind('.')); }

// Renders a page as a reader's man does; raw, the troff output as the Debian package checker asks
// for it (UTF-8, no formatting by grotty).
testutil::RunResult render(const std::string& file, int width, bool raw = false) {
    testutil::RunOptions options;
    options.argv = {"/usr/bin/man", "--warnings", "-l", file};
    if (raw) options.argv = {"/usr/bin/man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", file};
    options.env = {"MANWIDTH=" + std::to_string(width), "MANPAGER=cat", "PAGER=cat", "LC_ALL=C.UTF-8",
                   "MANROFFSEQ="};
    options.timeout_s = 60;
    return run(options);
}

// Whether a rendered line still shows scdoc markup that was not turned into bold or underline:
// an asterisk, or a word between two underscores that no letter or digit follows.
bool leftover_markup(const std::string& line) {
    if (line.find('*') != std::string::npos) return true;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '_') continue;
        size_t j = i + 1;
        while (j < line.size() && std::isalpha(static_cast<unsigned char>(line[j]))) ++j;
        if (j > i + 1 && j < line.size() && line[j] == '_' &&
            (j + 1 == line.size() || !std::isalnum(static_cast<unsigned char>(line[j + 1]))))
            return true;
    }
    return false;
}

// The section headings of a rendered page, in order.
std::vector<std::string> headings(const std::string& rendered) {
    std::vector<std::string> found;
    for (const std::string& line : testutil::split_lines(rendered)) {
        if (!line.empty() && line[0] >= 'A' && line[0] <= 'Z' && line.find("  ") == std::string::npos &&
            line.find('(') == std::string::npos)
            found.push_back(line);
    }
    return found;
}

// The lines of one "# SECTION" of a page's scdoc source, up to the next section.
std::vector<std::string> source_section(const std::string& source, const std::string& section) {
    std::vector<std::string> lines;
    bool inside = false;
    for (const std::string& line : testutil::split_lines(source)) {
        if (line.rfind("# ", 0) == 0) {
            inside = line == "# " + section;
            continue;
        }
        if (inside) lines.push_back(line);
    }
    return lines;
}

// The quoted texts of a message entry: the bold runs of a line indented by one tab, with scdoc's
// escapes removed. "\t*boardsim:* *no board in* _dir_" gives "boardsim:" and "no board in".
std::vector<std::string> quoted_texts(const std::vector<std::string>& lines) {
    std::vector<std::string> texts;
    bool continued = false;   // after a line ending in "++" an entry goes on at the margin
    for (std::string line : lines) {
        bool entry = (line.size() > 1 && line[0] == '\t' && line[1] == '*') || (continued && !line.empty() && line[0] == '*');
        continued = line.size() >= 2 && line.compare(line.size() - 2, 2, "++") == 0;
        if (!entry) continue;
        if (line[0] == '\t') line = line.substr(1);
        if (continued) line.resize(line.size() - 2);
        std::string text;
        bool bold = false;
        for (size_t i = 0; i < line.size(); ++i) {
            char c = line[i];
            if (c == '\\' && i + 1 < line.size()) {
                if (bold) text += line[++i];
                else ++i;
            } else if (c == '*') {
                if (bold && !text.empty()) texts.push_back(text);
                text.clear();
                bold = !bold;
            } else if (bold) {
                text += c;
            }
        }
    }
    return texts;
}

bool ident_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A string literal of a C++ source: where it starts, and its text with the escapes decoded.
struct Literal {
    size_t start;
    std::string text;
};

// The string literals of a C++ source, outside comments and character literals.
std::vector<Literal> string_literals(const std::string& source) {
    std::vector<Literal> literals;
    size_t i = 0;
    const size_t n = source.size();
    while (i < n) {
        char c = source[i];
        if (c == '/' && i + 1 < n && source[i + 1] == '/') {
            i = source.find('\n', i);
            if (i == std::string::npos) break;
        } else if (c == '/' && i + 1 < n && source[i + 1] == '*') {
            i = source.find("*/", i + 2);
            if (i == std::string::npos) break;
            i += 2;
        } else if (c == '\'') {
            for (++i; i < n && source[i] != '\''; ++i)
                if (source[i] == '\\') ++i;
            ++i;
        } else if (c == '"') {
            Literal literal{i, ""};
            for (++i; i < n && source[i] != '"' && source[i] != '\n'; ++i) {
                if (source[i] == '\\' && i + 1 < n) {
                    char e = source[++i];
                    literal.text += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                } else {
                    literal.text += source[i];
                }
            }
            ++i;
            literals.push_back(literal);
        } else {
            ++i;
        }
    }
    return literals;
}

// The texts a program prints as messages: literals handed straight to an output call, and the
// named message constants (kMsg..., ..._MESSAGE).
std::vector<std::string> printed_texts(const std::string& source) {
    static const char* const calls[] = {"puts(", "reportError(", "Platform::log(", "error(", "fprintf(stderr,"};
    std::vector<std::string> texts;
    for (const Literal& literal : string_literals(source)) {
        // What stands before the literal, with blanks kept only between two words.
        std::string before;
        bool blank = false;
        for (size_t i = literal.start > 80 ? literal.start - 80 : 0; i < literal.start; ++i) {
            char c = source[i];
            if (std::isspace(static_cast<unsigned char>(c))) {
                blank = true;
                continue;
            }
            if (blank && !before.empty() && ident_char(before.back()) && ident_char(c)) before += ' ';
            blank = false;
            before += c;
        }
        bool printed = false;
        for (const char* call : calls) {
            if (!ends_with(before, call)) continue;
            size_t at = before.size() - std::string(call).size();
            printed = printed || at == 0 || !ident_char(before[at - 1]);
        }
        if (ends_with(before, "[]=")) {
            size_t end = before.size() - 3, begin = end;
            while (begin > 0 && ident_char(before[begin - 1])) --begin;
            std::string name = before.substr(begin, end - begin);
            printed = printed || name.rfind("kMsg", 0) == 0 || ends_with(name, "_MESSAGE");
        }
        if (printed) texts.push_back(literal.text);
    }
    return texts;
}

// The fixed pieces of a printf format: the text between its conversions, trimmed.
std::vector<std::string> fixed_pieces(const std::string& format) {
    std::vector<std::string> pieces;
    std::string piece;
    auto keep = [&]() {
        size_t b = piece.find_first_not_of(" \n");
        size_t e = piece.find_last_not_of(" \n");
        if (b != std::string::npos) pieces.push_back(piece.substr(b, e - b + 1));
        piece.clear();
    };
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            piece += format[i];
            continue;
        }
        size_t j = i + 1;
        while (j < format.size() && std::strchr("-+ #0123456789.lhz", format[j])) ++j;
        if (j < format.size() && std::strchr("diouxXscp", format[j])) {
            keep();
            i = j;
        } else {
            piece += format[i];
        }
    }
    keep();
    return pieces;
}

// The pages of the suite's sections (1 and 8) that a page names: "*name*(section)" as "name.section".
std::vector<std::string> page_references(const std::string& source) {
    std::vector<std::string> references;
    for (size_t i = source.find("*("); i != std::string::npos; i = source.find("*(", i + 1)) {
        if (i + 3 >= source.size() || (source[i + 2] != '1' && source[i + 2] != '8') || source[i + 3] != ')')
            continue;
        size_t begin = i;
        while (begin > 0 && (std::islower(static_cast<unsigned char>(source[begin - 1])) || source[begin - 1] == '-'))
            --begin;
        if (begin == i || begin == 0 || source[begin - 1] != '*') continue;
        references.push_back(source.substr(begin, i - begin) + "." + source[i + 2]);
    }
    return references;
}

// A source file, or every C++ source and header of a folder, relative to the source tree.
std::vector<std::string> source_files(const std::string& entry) {
    std::string path = testutil::source_dir() + "/" + entry;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {path};
    std::vector<std::string> files;
    for (const std::string& name : list_dir(path)) {
        size_t dot = name.rfind('.');
        std::string ext = dot == std::string::npos ? "" : name.substr(dot);
        if (ext == ".cpp" || ext == ".h") files.push_back(path + "/" + name);
    }
    return files;
}

std::string expanded_source(const std::string& page) {
    return read_file(std::string(MAN_EXPANDED_DIR) + "/" + page_name(page) + ".scd");
}

TEST(ManPages, EveryProgramHasABuiltPage) {
    std::map<std::string, std::string> pages = built_pages();
    for (const char* page : {"pcmcapture.8", "otgpower.8", "otgpoweriddq.8", "otgpowersave.8", "wlanpower.8",
                             "bringup-check.8", "lanterna.1", "veilglass.1", "tilemosaic.1", "configlist.1",
                             "boardsim.1", "bringup_sim.4"})
        EXPECT_TRUE(pages.count(page)) << page;
}

TEST(ManPages, RenderWithoutWarningsAndWithEverySection) {
    const std::vector<std::string> required = {"NAME", "SYNOPSIS", "DESCRIPTION", "FILES", "EXIT STATUS",
                                               "EXAMPLES", "SEE ALSO"};
    for (const auto& [page, file] : built_pages()) {
        SCOPED_TRACE(page);
        for (int width : {80, 60}) {
            testutil::RunResult r = render(file, width);
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_EQ(r.err, "") << "at width " << width;
            if (width == 60) {
                testutil::RunResult raw = render(file, width, true);
                EXPECT_EQ(raw.exit_code, 0);
                EXPECT_EQ(raw.err, "") << "as troff output";
            }
            if (width != 80) continue;
            for (const std::string& line : testutil::split_lines(r.out))
                EXPECT_FALSE(leftover_markup(line)) << line;
            std::vector<std::string> found = headings(r.out);
            for (const std::string& section : required)
                EXPECT_NE(std::find(found.begin(), found.end(), section), found.end()) << section;
            // Arguments, and what the program says.
            bool arguments = false, messages = false;
            for (const std::string& h : found) {
                arguments = arguments || h == "OPTIONS" || h == "ARGUMENTS" || h == "COMMANDS";
                messages = messages || h == "MESSAGES" || h == "OUTPUT";
            }
            EXPECT_TRUE(arguments);
            EXPECT_TRUE(messages);
            // The page's title names it, and so does its whatis entry (what apropos and mandb read).
            std::string name = page_name(page), section = page.substr(page.rfind('.') + 1);
            EXPECT_EQ(r.out.rfind(name + "(" + section + ")", 0), 0u) << r.out.substr(0, 80);
            testutil::RunOptions whatis;
            whatis.argv = {"/usr/bin/lexgrog", file};
            testutil::RunResult w = run(whatis);
            EXPECT_EQ(w.exit_code, 0) << w.out << w.err;
            EXPECT_NE(w.out.find(": \"" + name + " - "), std::string::npos) << w.out;
        }
    }
}

TEST(ManPages, SeeAlsoNamesOnlyPagesOfTheSuite) {
    std::map<std::string, std::string> pages = built_pages();
    for (const auto& entry : pages) {
        const std::string& page = entry.first;
        SCOPED_TRACE(page);
        std::string source = expanded_source(page);
        ASSERT_FALSE(source.empty());
        int references = 0;
        for (const std::string& target : page_references(source)) {
            EXPECT_TRUE(pages.count(target)) << target;
            EXPECT_NE(target, page) << "a page names itself";
            ++references;
        }
        EXPECT_GT(references, 0);
    }
}

// Every text a page quotes is one the program prints, and every text the program prints is
// quoted by its page, so a message changed in one place shows here.
TEST(ManPages, MessagesAreTheProgramsOwn) {
    for (const auto& [name, files] : parse_table(MAN_SOURCES)) {
        SCOPED_TRACE(name);
        std::string page;
        for (const auto& entry : built_pages())
            if (page_name(entry.first) == name) page = entry.first;
        ASSERT_FALSE(page.empty());
        std::string source = expanded_source(page);
        std::vector<std::string> quoted;
        for (const char* section : {"MESSAGES", "REPORT"})
            for (const std::string& text : quoted_texts(source_section(source, section))) quoted.push_back(text);
        ASSERT_FALSE(quoted.empty());

        std::vector<std::string> literals, printed;
        for (const std::string& entry : split(files, ',')) {
            std::vector<std::string> paths = source_files(entry);
            ASSERT_FALSE(paths.empty()) << entry;
            for (const std::string& path : paths) {
                std::string code = read_file(path);
                ASSERT_FALSE(code.empty()) << path;
                for (const Literal& literal : string_literals(code)) literals.push_back(literal.text);
                for (const std::string& s : printed_texts(code)) printed.push_back(s);
            }
        }
        for (const std::string& text : quoted) {
            bool found = false;
            for (const std::string& literal : literals) found = found || literal.find(text) != std::string::npos;
            EXPECT_TRUE(found) << "the page quotes \"" << text << "\", which the program never prints";
        }
        for (const std::string& format : printed) {
            if (format == "Error: ") continue;   // the prefix of every error report, told once
            for (const std::string& piece : fixed_pieces(format)) {
                bool found = false;
                for (const std::string& text : quoted) found = found || text.find(piece) != std::string::npos;
                EXPECT_TRUE(found) << "the program prints \"" << format << "\", which its page does not quote";
            }
        }
    }
}

bool executable_file(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR);
}

// In the installed tree each program has its page in share/man, and each page there has its
// program beside it.
TEST(ManPages, InstalledProgramsAndPagesMatch) {
    const std::string stage = testutil::stage_dir();
    std::map<std::string, std::string> installed_pages;   // name -> name.section
    for (const char* section : {"1", "8"}) {
        for (const std::string& file : list_dir(stage + "/share/man/man" + section)) {
            ASSERT_GT(file.size(), 3u);
            ASSERT_EQ(file.substr(file.size() - 3), ".gz") << file;
            std::string page = file.substr(0, file.size() - 3);
            EXPECT_EQ(page.substr(page.rfind('.') + 1), section) << file;
            EXPECT_FALSE(installed_pages.count(page_name(page))) << "two sections for " << page;
            installed_pages[page_name(page)] = page;
            // What is installed is what was built: compressed, and readable by man.
            EXPECT_TRUE(read_file(stage + "/share/man/man" + section + "/" + file) ==
                        read_file(std::string(MAN_BUILD_DIR) + "/man" + section + "/" + file))
                << file << " differs from the page built";
        }
    }
    std::set<std::string> programs;
    for (const char* dir : {"/bin", "/sbin"}) {
        for (const std::string& program : list_dir(stage + dir)) {
            if (!executable_file(stage + dir + "/" + program)) continue;
            programs.insert(program);
            EXPECT_TRUE(installed_pages.count(program)) << program << " has no page";
        }
    }
    EXPECT_FALSE(programs.empty());

    std::map<std::string, std::string> expected = parse_table(MAN_INSTALLED);
    for (const auto& [name, page] : installed_pages) {
        EXPECT_TRUE(programs.count(name)) << page << " is installed without its program";
        auto it = expected.find(page);
        ASSERT_NE(it, expected.end()) << page << " is installed but its program is not built";
        EXPECT_TRUE(executable_file(it->second)) << it->second;
    }
    for (const auto& entry : expected)
        EXPECT_TRUE(installed_pages.count(page_name(entry.first))) << entry.first << " is not installed";
}

}  // namespace
