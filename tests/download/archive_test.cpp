// The archive of saved files on real files: what it keeps across openings, how it tells
// addresses apart, the files it refuses (left exactly as they were), and its size on disk.
#include "download/archive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "download/sha256.h"
#include "tests/support/sqlite_rows.h"
#include "tests/support/temp_folder.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using testing::namesIn;
using testing::readFile;
using testing::sqliteRows;
using testing::TempFolder;
using testing::writeFile;

std::unique_ptr<DownloadArchive> openArchive(const fs::path& file) {
    std::string problem;
    auto archive = DownloadArchive::open(file, problem);
    EXPECT_TRUE(archive) << problem;
    return archive;
}

SavedFile savedFile(const std::string& entry, const std::string& full, const std::string& name) {
    SavedFile file;
    file.entryAddress = entry;
    file.fullAddress = full;
    file.fileName = name;
    file.folder = "/home/someone/pictures";
    file.size = 8192;
    file.sha256 = sha256Of(full);
    file.threadAddress = "http://forum.test/thread/1";
    file.pageNumber = 3;
    file.savedAt = 1780000000;
    return file;
}

// The files of the 2,000-image bench, and a long shape of a real image service.
SavedFile benchFile(int k) {
    const std::string base = "http://s01.radikal.ru/i1/img" + std::to_string(k);
    return savedFile(base + "t.jpg", base + ".jpg", "img" + std::to_string(k) + ".jpg");
}
SavedFile longFile(int k) {
    const std::string hex = hexText(sha256Of(std::to_string(k)));
    const std::string path = hex.substr(0, 2) + "/" + hex.substr(2, 2) + "/" + hex.substr(4, 2) +
                             "/" + hex.substr(0, 16);
    return savedFile("https://thumbs2.imagebam.com/" + path + "_t.jpg",
                     "https://images2.imagebam.com/" + path + ".jpg", hex.substr(0, 16) + ".jpg");
}

TEST(Sha256, KnownDigestsWholeInPiecesAndFromAFile) {
    EXPECT_EQ(hexText(sha256Of("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexText(sha256Of("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    std::string bytes;
    std::mt19937 random(7);
    for (int i = 0; i < 1'000'003; ++i) bytes += static_cast<char>(random());
    const Sha256Digest whole = sha256Of(bytes);
    Sha256 pieces;
    for (std::size_t at = 0, size = 1; at < bytes.size(); at += size, size = size * 3 + 1) {
        pieces.add(std::string_view(bytes).substr(at, size));
    }
    EXPECT_EQ(pieces.finish(), whole);
    // finish starts over.
    pieces.add("abc");
    EXPECT_EQ(pieces.finish(), sha256Of("abc"));

    TempFolder folder;
    writeFile(folder / "f.bin", bytes);
    const auto file = sha256OfFile(folder / "f.bin");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->sha256, whole);
    EXPECT_EQ(file->size, bytes.size());
    EXPECT_FALSE(sha256OfFile(folder / "missing"));
}

TEST(DownloadArchive, KeepsWhatWasSavedAcrossOpenings) {
    const SavedFile files[] = {
        benchFile(1),
        longFile(2),
        savedFile("https://forum.test/attachments/9/?thumb=1", "https://forum.test/attachments/9/",
                  "9.jpg"),
        savedFile("http://[::1]:8080/t.jpg", "http://[::1]:8080", "index.jpg"),
        savedFile("thumbs/relative.jpg", "no scheme at all", "caf\xc3\xa9 2.jpg"),
        savedFile("http://h.test/caf\xc3\xa9/a_t.jpg", "http://h.test/caf\xc3\xa9/a.jpg", "a.jpg"),
    };
    TempFolder folder;
    const fs::path file = folder / kArchiveFileName;
    {
        const auto archive = openArchive(file);
        ASSERT_TRUE(archive);
        for (const SavedFile& saved : files) {
            std::string problem;
            EXPECT_TRUE(archive->record(saved, problem)) << problem;
        }
    }
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{kArchiveFileName});

    const auto archive = openArchive(file);
    ASSERT_TRUE(archive);
    for (const SavedFile& saved : files) {
        EXPECT_TRUE(archive->hasEntry(saved.entryAddress)) << saved.entryAddress;
        EXPECT_TRUE(archive->hasFullAddress(saved.fullAddress)) << saved.fullAddress;
        // An entry is not a full-size address, and the other way round.
        EXPECT_FALSE(archive->hasFullAddress(saved.entryAddress)) << saved.entryAddress;
        EXPECT_FALSE(archive->hasEntry(saved.fullAddress)) << saved.fullAddress;
    }
    for (const char* other : {"http://s01.radikal.ru/i1/img1t.jpg?", "http://s01.radikal.ru/i1/",
                              "HTTP://s01.radikal.ru/i1/img1t.jpg",
                              "http://s02.radikal.ru/i1/img1t.jpg", "", "http://[::1]:8080/"}) {
        EXPECT_FALSE(archive->hasEntry(other)) << other;
        EXPECT_FALSE(archive->hasFullAddress(other)) << other;
    }

    // The file holds the texts as they came, readable with the sqlite3 tool.
    EXPECT_EQ(sqliteRows(file, "SELECT * FROM saved_file WHERE id = 3"),
              std::vector<std::string>{
                  "3|https://forum.test/attachments/9/?thumb=1|https://forum.test/attachments/9/|"
                  "9.jpg|/home/someone/pictures|8192|" +
                  hexText(files[2].sha256) + "|http://forum.test/thread/1|3|2026-05-28 20:26:40"});
    EXPECT_EQ(
        sqliteRows(file, "SELECT entry, full_address, file_name FROM saved_file WHERE id >= 4"),
        (std::vector<std::string>{
            "http://[::1]:8080/t.jpg|http://[::1]:8080|index.jpg",
            "thumbs/relative.jpg|no scheme at all|caf\xc3\xa9 2.jpg",
            "http://h.test/caf\xc3\xa9/a_t.jpg|http://h.test/caf\xc3\xa9/a.jpg|a.jpg"}));
    EXPECT_EQ(sqliteRows(file, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
}

TEST(DownloadArchive, RecordsAnEntryOnceAndFullAddressesFromAnyEntry) {
    TempFolder folder;
    const fs::path file = folder / kArchiveFileName;
    const auto archive = openArchive(file);
    ASSERT_TRUE(archive);
    std::string problem;
    const SavedFile first = savedFile("http://t.test/a_t.jpg", "http://i.test/a.jpg", "a.jpg");
    SavedFile again = first;
    again.fullAddress = "http://i.test/other.jpg";
    again.fileName = "other.jpg";
    // A quoted post: another thumbnail of the same full-size image.
    SavedFile quoted = first;
    quoted.entryAddress = "http://t.test/a_small.jpg";

    EXPECT_TRUE(archive->record(first, problem)) << problem;
    EXPECT_TRUE(archive->record(again, problem)) << problem;
    EXPECT_TRUE(archive->record(quoted, problem)) << problem;
    EXPECT_EQ(sqliteRows(file, "SELECT entry, full_address, file_name FROM saved_file ORDER BY id"),
              (std::vector<std::string>{"http://t.test/a_t.jpg|http://i.test/a.jpg|a.jpg",
                                        "http://t.test/a_small.jpg|http://i.test/a.jpg|a.jpg"}));
    EXPECT_FALSE(archive->hasFullAddress("http://i.test/other.jpg"));

    // What was saved from a full-size address, whole, to record another entry of it with.
    const auto saved = archive->savedFrom("http://i.test/a.jpg");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->entryAddress, first.entryAddress);
    EXPECT_EQ(saved->fullAddress, first.fullAddress);
    EXPECT_EQ(saved->fileName, first.fileName);
    EXPECT_EQ(saved->folder, first.folder);
    EXPECT_EQ(saved->size, first.size);
    EXPECT_EQ(saved->sha256, first.sha256);
    EXPECT_EQ(saved->threadAddress, first.threadAddress);
    EXPECT_EQ(saved->pageNumber, first.pageNumber);
    EXPECT_EQ(saved->savedAt, first.savedAt);
    EXPECT_FALSE(archive->savedFrom("http://i.test/other.jpg"));
    EXPECT_FALSE(archive->savedFrom("http://t.test/a_t.jpg"));
}

TEST(DownloadArchive, AddressesThatShareALookUpKeyAreToldApart) {
    // Two addresses whose SHA-256 starts with the same four bytes, found by trying.
    std::unordered_map<std::uint32_t, std::string> seen;
    std::string first;
    std::string second;
    for (int k = 0; second.empty(); ++k) {
        const std::string address = "http://s.test/" + std::to_string(k) + ".jpg";
        const Sha256Digest digest = sha256Of(address);
        const std::uint32_t key = (std::uint32_t{digest[0]} << 24) |
                                  (std::uint32_t{digest[1]} << 16) |
                                  (std::uint32_t{digest[2]} << 8) | digest[3];
        const auto [known, added] = seen.emplace(key, address);
        if (!added) {
            first = known->second;
            second = address;
        }
    }

    TempFolder folder;
    const auto archive = openArchive(folder / kArchiveFileName);
    ASSERT_TRUE(archive);
    std::string problem;
    EXPECT_TRUE(archive->record(savedFile(first, first, "a.jpg"), problem)) << problem;
    EXPECT_TRUE(archive->hasEntry(first));
    EXPECT_FALSE(archive->hasEntry(second)) << first << " and " << second;
    EXPECT_FALSE(archive->hasFullAddress(second)) << first << " and " << second;
    EXPECT_TRUE(archive->record(savedFile(second, second, "b.jpg"), problem)) << problem;
    EXPECT_TRUE(archive->hasEntry(second));
    EXPECT_TRUE(archive->hasFullAddress(second));
}

TEST(DownloadArchive, FindsWhereTheSameBytesWereSaved) {
    TempFolder folder;
    const auto archive = openArchive(folder / kArchiveFileName);
    ASSERT_TRUE(archive);
    std::string problem;
    SavedFile saved = savedFile("http://t.test/a_t.jpg", "http://i.test/a.jpg", "a.jpg");
    saved.sha256 = sha256Of("the bytes");
    saved.size = 9;
    ASSERT_TRUE(archive->record(saved, problem)) << problem;
    SavedFile later = savedFile("http://t.test/b_t.jpg", "http://i.test/b.jpg", "b.jpg");
    later.folder = "/elsewhere";
    later.sha256 = saved.sha256;
    later.size = 9;
    ASSERT_TRUE(archive->record(later, problem)) << problem;

    const auto same = archive->nameOfSameBytes(sha256Of("the bytes"), 9);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->folder, "/home/someone/pictures");
    EXPECT_EQ(same->fileName, "a.jpg");
    EXPECT_FALSE(archive->nameOfSameBytes(sha256Of("the bytes"), 10));
    EXPECT_FALSE(archive->nameOfSameBytes(sha256Of("other bytes"), 9));
    // The same first four bytes of the digest, the rest different.
    Sha256Digest close = saved.sha256;
    close[31] ^= 1;
    EXPECT_FALSE(archive->nameOfSameBytes(close, 9));
}

TEST(DownloadArchive, RemembersTheLastPageOfEachThread) {
    TempFolder folder;
    const fs::path file = folder / kArchiveFileName;
    std::string problem;
    {
        const auto archive = openArchive(file);
        ASSERT_TRUE(archive);
        EXPECT_FALSE(archive->lastPageRead("http://forum.test/t/1"));
        EXPECT_TRUE(archive->rememberLastPage("http://forum.test/t/1", 4,
                                              "http://forum.test/t/1?page=4", problem));
        EXPECT_TRUE(archive->rememberLastPage("http://forum.test/t/2", 2,
                                              "http://forum.test/t/2?page=2", problem));
        EXPECT_TRUE(archive->rememberLastPage("http://forum.test/t/1", 7,
                                              "http://forum.test/t/1?page=7", problem));
    }
    const auto archive = openArchive(file);
    ASSERT_TRUE(archive);
    const auto first = archive->lastPageRead("http://forum.test/t/1");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->number, 7);
    EXPECT_EQ(first->address, "http://forum.test/t/1?page=7");
    const auto second = archive->lastPageRead("http://forum.test/t/2");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->number, 2);
    EXPECT_FALSE(archive->lastPageRead("http://forum.test/t/3"));
}

// A real archive of `count` files, closed (its log written into it).
std::string archiveBytes(const fs::path& file, int count) {
    {
        const auto archive = openArchive(file);
        std::string problem;
        for (int k = 0; archive && k < count; ++k) archive->record(longFile(k), problem);
    }
    return readFile(file);
}

TEST(DownloadArchive, RefusesFilesItCannotUseAndLeavesThemAsTheyWere) {
    TempFolder source;
    const std::string whole = archiveBytes(source / "whole.sqlite", 3000);
    ASSERT_GT(whole.size(), 100'000u);
    std::string random(20'000, '\0');
    std::mt19937 generator(11);
    for (char& c : random) c = static_cast<char>(generator());
    std::string damagedPage = whole;
    damagedPage.replace(whole.size() / 2, 3000, random.substr(0, 3000));
    std::string damagedHeader = whole;
    damagedHeader.replace(20, 4, "\xff\xff\xff\xff");
    std::string foreign = whole;
    foreign.replace(68, 4, std::string(4, '\0'));  // the application id
    std::string newer = whole;
    newer[63] = 99;  // user_version, the last of its four big-endian bytes

    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"random bytes", random, "is not an SQLite database"},
        {"a text file", "pics\r\n 30 \r\n 102400 \r\n", "is not an SQLite database"},
        {"an archive cut in half", whole.substr(0, whole.size() / 2), "is damaged ("},
        {"an archive cut inside its header", whole.substr(0, 60), "is damaged ("},
        {"a page overwritten", damagedPage, "is damaged ("},
        {"a header field overwritten", damagedHeader, "is "},
        {"another program's database", foreign, "is a database of another program"},
        {"an archive of a newer version", newer, "was made by a newer version of this program"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const fs::path file = folder / kArchiveFileName;
        writeFile(file, c.bytes);
        std::string problem;
        EXPECT_FALSE(DownloadArchive::open(file, problem)) << c.what;
        EXPECT_EQ(problem.rfind("Archive cannot be used: " + file.string() + " " + c.reason, 0), 0u)
            << c.what << ": " << problem;
        EXPECT_EQ(readFile(file), c.bytes) << c.what;
    }

    // What is no file at all, or cannot be made.
    TempFolder folder;
    fs::create_directory(folder / "a folder");
    std::string problem;
    EXPECT_FALSE(DownloadArchive::open(folder / "a folder", problem));
    EXPECT_EQ(problem,
              "Archive cannot be used: " + (folder / "a folder").string() + " is not a file");
    EXPECT_FALSE(DownloadArchive::open(folder / "missing" / "archive.sqlite", problem));
    EXPECT_EQ(problem, "Archive cannot be used: " + (folder / "missing/archive.sqlite").string() +
                           " cannot be created (No such file or directory)");
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"a folder"});
}

TEST(DownloadArchive, TakesUnder200BytesPerFile) {
    constexpr int kFiles = 10'000;
    for (const auto make : {benchFile, longFile}) {
        TempFolder folder;
        const fs::path file = folder / kArchiveFileName;
        std::uintmax_t empty = 0;
        double cpuSeconds = 0;
        {
            const auto archive = openArchive(file);
            ASSERT_TRUE(archive);
            empty = fs::file_size(file);
            const std::clock_t start = std::clock();
            std::string problem;
            for (int k = 0; k < kFiles; ++k) {
                const SavedFile saved = make(k);
                ASSERT_FALSE(archive->hasEntry(saved.entryAddress));
                ASSERT_FALSE(archive->hasFullAddress(saved.fullAddress));
                ASSERT_FALSE(archive->nameOfSameBytes(saved.sha256, saved.size));
                ASSERT_TRUE(archive->record(saved, problem)) << problem;
            }
            cpuSeconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
            ASSERT_TRUE(archive->hasEntry(make(kFiles - 1).entryAddress));
        }
        const double perFile = static_cast<double>(fs::file_size(file) - empty) / kFiles;
        const std::string shape = make(0).entryAddress;
        // For the record: what a job's look-ups and record cost a file in processor time.
        std::printf("%s: %.1f bytes per file, %.1f us of CPU per file\n", shape.c_str(), perFile,
                    cpuSeconds * 1e6 / kFiles);
        EXPECT_LT(perFile, 200.0) << shape;
        EXPECT_FALSE(fs::exists(file.string() + "-wal"));
    }
}

}  // namespace
}  // namespace velnoria
