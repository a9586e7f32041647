// Folder and file name templates: every field, widths, and titles from hostile pages, which must
// never make a name outside the save folder, a hidden one or one of the program's own.
#include "download/name_templates.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "core/printable.h"
#include "tests/support/scoped_env.h"

namespace velnoria {
namespace {

using Kind = NameTemplate::Kind;

NameFields fields(std::string title = "My thread", std::string ruleName = "photo.jpg") {
    NameFields f;
    f.title = std::move(title);
    f.host = "forum.test";
    f.page = 2;
    f.index = 5;
    f.ruleName = std::move(ruleName);
    f.date = "2026-12-07";
    return f;
}

std::string expand(std::string_view text, Kind kind, const NameFields& with) {
    std::string problem;
    const auto made = NameTemplate::parse(text, kind, problem);
    EXPECT_TRUE(made) << text << ": " << problem;
    return made ? made->expand(with) : "(not parsed)";
}

std::string repeated(std::string_view text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

const std::string kLongTitle = repeated("\xc3\xa9", 150);  // 300 bytes of "é"

TEST(NameTemplates, FieldsAndWidths) {
    struct Case {
        const char* text;
        Kind kind;
        NameFields with;
        std::string expected;
    };
    const Case cases[] = {
        {"{title}", Kind::Folder, fields(), "My thread"},
        {"{host}/{title}", Kind::Folder, fields(), "forum.test/My thread"},
        {"pics/{date} {title}", Kind::Folder, fields(), "pics/2026-12-07 My thread"},
        {"p{page:03}", Kind::Folder, fields(), "p002"},
        {"a//b/", Kind::Folder, fields(), "a/b"},
        {"{host}/{title}", Kind::Folder, fields(""), "forum.test"},
        {"{title}", Kind::Folder, fields(""), ""},
        {"{index:03} {name}.{ext}", Kind::FileName, fields(), "005 photo.jpg"},
        {"{page}-{index:2}-{index:1}", Kind::FileName, fields(), "2- 5-5"},
        {"{date}_{page}_{index}.{ext}", Kind::FileName, fields(), "2026-12-07_2_5.jpg"},
        {"{name}|{ext}", Kind::FileName, fields("", "archive.tar.gz"), "archive.tar|gz"},
        {"{name}|{ext}", Kind::FileName, fields("", "noext"), "noext|"},
        {"{name}|{ext}", Kind::FileName, fields("", "dir/sub\\x.png"), "x|png"},
        {"{name}|{ext}", Kind::FileName, fields("", ".htaccess"), "_htaccess|"},
        {"{name}.{ext}", Kind::FileName, fields("", ""), ""},
        {"{{{index}}}.jpg", Kind::FileName, fields(), "{5}.jpg"},
        {"{index:020}", Kind::FileName, fields(), "00000000000000000005"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(expand(c.text, c.kind, c.with), c.expected) << c.text;
    }
}

TEST(NameTemplates, UnsafeTitlesStayInsideTheSaveFolder) {
    struct Case {
        std::string title;
        std::string folder;  // from "{title}"
        std::string name;    // from "{title}.jpg"
    };
    const Case cases[] = {
        {"../x", "_._x", "_._x.jpg"},
        {"../../../etc", "_._.._.._etc", "_._.._.._etc.jpg"},
        {"..", "", "_..jpg"},
        {".", "", "_.jpg"},
        {"/", "_", "_.jpg"},
        {"a/b\\c", "a_b_c", "a_b_c.jpg"},
        {".hidden", "_hidden", "_hidden.jpg"},
        {"settings", "settings", "settings.jpg"},
        {"settings.dat", "_settings.dat", "settings.dat.jpg"},
        {"Choices.Conf", "_Choices.Conf", "Choices.Conf.jpg"},
        {"archive.sqlite-wal", "_archive.sqlite-wal", "archive.sqlite-wal.jpg"},
        {"caf\xe9 \xff\xfe", "caf_ __", "caf_ __.jpg"},
        {"\n\t  Thread\r\n title \x01\x1b[31m\x7f\xc2\x9b ", "Thread title __[31m___",
         "Thread title __[31m___.jpg"},
        {kLongTitle, repeated("\xc3\xa9", 100), repeated("\xc3\xa9", 98) + ".jpg"},
        {"a" + kLongTitle, "a" + repeated("\xc3\xa9", 99), "a" + repeated("\xc3\xa9", 97) + ".jpg"},
    };
    std::string problem;
    const auto folder = NameTemplate::parse("{title}", Kind::Folder, problem);
    const auto nested = NameTemplate::parse("{title}/.{title}/{host}", Kind::Folder, problem);
    const auto name = NameTemplate::parse("{title}.jpg", Kind::FileName, problem);
    ASSERT_TRUE(folder && nested && name) << problem;
    for (const Case& c : cases) {
        const std::string shown = printableText(c.title);
        EXPECT_EQ(folder->expand(fields(c.title)), c.folder) << shown;
        EXPECT_EQ(name->expand(fields(c.title)), c.name) << shown;
        // Every part of a deeper folder is a plain name of its own.
        const std::string path = nested->expand(fields(c.title));
        std::size_t start = 0;
        for (std::size_t end; start <= path.size(); start = end + 1) {
            end = std::min(path.find('/', start), path.size());
            const std::string part = path.substr(start, end - start);
            EXPECT_FALSE(part.empty() || part == "." || part == ".." || part.front() == '.')
                << shown << " -> " << path;
            EXPECT_TRUE(isControlFreeUtf8(part) && part.size() <= kLongestTemplateName)
                << shown << " -> " << path;
        }
    }
    // A name from a template is never one of the program's own files.
    const auto bare = NameTemplate::parse("{title}", Kind::FileName, problem);
    ASSERT_TRUE(bare) << problem;
    EXPECT_EQ(bare->expand(fields("settings.dat")), "_settings.dat");
    EXPECT_EQ(bare->expand(fields("FAILED.txt")), "_FAILED.txt");
    EXPECT_EQ(bare->expand(fields("archive.sqlite")), "_archive.sqlite");
}

TEST(NameTemplates, MistakesAreToldWhenTheTemplateIsRead) {
    struct Case {
        std::string text;
        Kind kind;
        std::string problem;
    };
    const Case cases[] = {
        {"", Kind::Folder, "the template is empty"},
        {"{titel}", Kind::Folder,
         "unknown field \"{titel}\" (the fields are {title} {host} {page} {index} {name} {ext} "
         "{date})"},
        {"{}", Kind::FileName, "unknown field \"{}\""},
        {"{Title}", Kind::FileName, "unknown field \"{Title}\""},
        {"a{title", Kind::Folder,
         "\"{\" at position 2 of \"a{title\" has no \"}\" (\"{{\" stands for a brace)"},
        {"title}", Kind::FileName,
         "\"}\" at position 6 of \"title}\" has no \"{\" (\"}}\" stands for a brace)"},
        {"{title:03}", Kind::Folder, "\"{title:03}\": only {page} and {index} take a width"},
        {"{index:}", Kind::FileName, "\"{index:}\": the width must be a number from 1 to 20"},
        {"{index:x}", Kind::FileName, "\"{index:x}\": the width must be a number from 1 to 20"},
        {"{index:0}", Kind::FileName, "\"{index:0}\": the width must be a number from 1 to 20"},
        {"{page:21}", Kind::FileName, "\"{page:21}\": the width must be a number from 1 to 20"},
        {"{page:99999999999}", Kind::FileName, "the width must be a number from 1 to 20"},
        {"{index}/{name}", Kind::FileName,
         "the file name \"{index}/{name}\" cannot hold \"/\" (folders come from the folder "
         "template)"},
        {"a\\b", Kind::Folder, "the template \"a\\b\" cannot hold \"\\\""},
        {"/{title}", Kind::Folder,
         "the folder \"/{title}\" must stay inside the save folder: no \"/\" at its start"},
        {"../{title}", Kind::Folder,
         "the folder \"../{title}\" must stay inside the save folder: no \"..\" in it"},
        {"{host}/./{title}", Kind::Folder, "must stay inside the save folder: no \".\" in it"},
        {"{host}/{{}}/..", Kind::Folder, "must stay inside the save folder: no \"..\" in it"},
        {"a\tb", Kind::FileName,
         "the template \"a\\x09b\" holds a control character or bytes that are not UTF-8"},
        {"caf\xe9", Kind::Folder, "holds a control character or bytes that are not UTF-8"},
    };
    for (const Case& c : cases) {
        std::string problem;
        EXPECT_FALSE(NameTemplate::parse(c.text, c.kind, problem)) << c.text;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << ": " << problem;
    }
    // Near misses that are fine.
    for (const char* fine : {"{{title}}", "..{title}", "{host}/.{title}", "x.{ext}"}) {
        std::string problem;
        EXPECT_TRUE(NameTemplate::parse(fine, Kind::Folder, problem)) << fine << ": " << problem;
    }
}

TEST(NameTemplates, TheJobDateIsTheLocalDay) {
    {
        const testing::ScopedEnv zone("TZ", "UTC0");
        ::tzset();
        EXPECT_EQ(jobDate(1780000000), "2026-05-28");  // 20:26 there
    }
    {
        const testing::ScopedEnv zone("TZ", "JST-9");
        ::tzset();
        EXPECT_EQ(jobDate(1780000000), "2026-05-29");
    }
    ::tzset();
}

}  // namespace
}  // namespace velnoria
