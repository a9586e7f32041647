// The archive of saved files under a job that is killed, beside another job, on a disk that
// fills up and on one that is read-only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "download/archive.h"
#include "tests/support/scoped_tmpfs.h"
#include "tests/support/sqlite_rows.h"
#include "tests/support/temp_folder.h"

namespace velnoria::testing {
namespace {

namespace fs = std::filesystem;

SavedFile numbered(int k) {
    SavedFile file;
    const std::string n = std::to_string(k);
    file.entryAddress = "http://s01.radikal.ru/i1/img" + n + "t.jpg";
    file.fullAddress = "http://s01.radikal.ru/i1/img" + n + ".jpg";
    file.fileName = "img" + n + ".jpg";
    file.folder = "/pictures";
    file.size = 8192;
    file.sha256 = sha256Of(n);
    file.threadAddress = "http://forum.test/t/1";
    file.savedAt = 1780000000 + k;
    return file;
}

// A process of its own running body; its exit status is what body returns. No connection to an
// archive may be open in the test process meanwhile (SQLite's rule for fork).
pid_t startChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int status = 3;
        try {
            status = body();
        } catch (...) {
        }
        ::_exit(status);
    }
    return pid;
}

// The child's exit status; -1 when it did not exit by itself within the bound (it is killed).
int exitStatus(pid_t pid, std::chrono::seconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Records files from..to-1, each number written to `progress` once it is recorded.
int recordFiles(const fs::path& file, int from, int to, int progress = -1) {
    std::string problem;
    const auto archive = DownloadArchive::open(file, problem);
    if (!archive) return 1;
    for (int k = from; k < to; ++k) {
        if (!archive->record(numbered(k), problem)) return 2;
        if (progress >= 0 && ::write(progress, &k, sizeof k) != sizeof k) return 4;
    }
    return 0;
}

// How many of the numbered files, from the first on without a gap, the archive holds.
int filesIn(const fs::path& file) {
    std::string problem;
    const auto archive = DownloadArchive::open(file, problem);
    EXPECT_TRUE(archive) << problem;
    int count = 0;
    while (archive && archive->hasEntry(numbered(count).entryAddress)) ++count;
    return count;
}

TEST(ArchiveFaults, AJobKilledMidwayLosesAtMostTheFileInHand) {
    TempFolder folder;
    const fs::path file = folder / kArchiveFileName;
    int recorded = 0;
    for (int round = 0; round < 3; ++round) {
        int pipeEnds[2];
        ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
        const pid_t child = startChild([&] {
            ::close(pipeEnds[0]);
            return recordFiles(file, recorded, recorded + 1'000'000, pipeEnds[1]);
        });
        ::close(pipeEnds[1]);

        // Killed once it has recorded a few hundred more files, in the middle of the next.
        int last = -1;
        const auto readNumber = [&](int timeoutMs) {
            pollfd ready{pipeEnds[0], POLLIN, 0};
            int k = 0;
            if (::poll(&ready, 1, timeoutMs) != 1 ||
                ::read(pipeEnds[0], &k, sizeof k) != sizeof k) {
                return false;
            }
            last = k;
            return true;
        };
        while (last < recorded + 300 && readNumber(30'000)) {
        }
        ASSERT_GE(last, recorded + 300) << "the child recorded too little: round " << round;
        ::kill(child, SIGKILL);
        while (readNumber(10'000)) {
        }
        ::close(pipeEnds[0]);
        EXPECT_EQ(exitStatus(child, std::chrono::seconds(30)), -1);

        // Every file it said it recorded is there; the one in hand may be too.
        const int count = filesIn(file);
        EXPECT_GE(count, last + 1) << "round " << round;
        EXPECT_LE(count, last + 2) << "round " << round;
        recorded = count;
    }
}

TEST(ArchiveFaults, TwoJobsRecordingAtOnceBothFinishWithoutDuplicates) {
    TempFolder folder;
    const fs::path file = folder / kArchiveFileName;
    // Both start at one moment, on an archive that does not exist yet.
    int gate[2];
    ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
    const auto atTheGate = [&](int from, int to) {
        return [&, from, to] {
            ::close(gate[1]);
            char byte;
            if (::read(gate[0], &byte, 1) != 0) return 5;
            return recordFiles(file, from, to);
        };
    };
    const pid_t first = startChild(atTheGate(0, 1500));
    const pid_t second = startChild(atTheGate(750, 2250));
    ::close(gate[0]);
    ::close(gate[1]);
    EXPECT_EQ(exitStatus(first, std::chrono::seconds(100)), 0);
    EXPECT_EQ(exitStatus(second, std::chrono::seconds(100)), 0);

    EXPECT_EQ(filesIn(file), 2250);
    // Nothing twice: no more rows than files.
    std::string problem;
    const auto archive = DownloadArchive::open(file, problem);
    ASSERT_TRUE(archive) << problem;
    EXPECT_FALSE(archive->hasEntry(numbered(2250).entryAddress));
    EXPECT_EQ(sqliteRows(file, "SELECT count(*), count(DISTINCT entry) FROM saved_file"),
              std::vector<std::string>{"2250|2250"});
}

TEST(ArchiveFaults, AFullDiskFailsTheRecordAndKeepsEveryEarlierOne) {
    ScopedTmpfs disk("512k");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error();
    const fs::path file = disk.path() / kArchiveFileName;
    const fs::path filler = disk.path() / "filler";

    // A new archive on a full disk is refused, and nothing of it is left.
    writeFile(filler, std::string(600 * 1024, 'x'));
    std::string problem;
    EXPECT_FALSE(DownloadArchive::open(file, problem));
    EXPECT_EQ(problem.rfind("Archive cannot be used: " + file.string() + " cannot be", 0), 0u)
        << problem;
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"filler"});

    fs::resize_file(filler, 300 * 1024);
    int recorded = 0;
    {
        const auto archive = DownloadArchive::open(file, problem);
        ASSERT_TRUE(archive) << problem;
        while (recorded < 100'000 && archive->record(numbered(recorded), problem)) ++recorded;
        ASSERT_LT(recorded, 100'000);
        EXPECT_EQ(problem, "Archive cannot be used: " + file.string() +
                               " cannot be written (database or disk is full)");
        // Room again: the same archive goes on.
        fs::remove(filler);
        EXPECT_TRUE(archive->record(numbered(recorded), problem)) << problem;
    }
    EXPECT_EQ(filesIn(file), recorded + 1);
}

TEST(ArchiveFaults, AReadOnlyArchiveIsRefusedAndLeftAsItWas) {
    ScopedTmpfs disk("1m");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error();
    const fs::path file = disk.path() / kArchiveFileName;
    ASSERT_EQ(recordFiles(file, 0, 50), 0);
    const std::string before = readFile(file);
    ASSERT_TRUE(disk.remountReadOnly()) << disk.error();

    std::string problem;
    EXPECT_FALSE(DownloadArchive::open(file, problem));
    EXPECT_EQ(problem, "Archive cannot be used: " + file.string() +
                           " cannot be written (Read-only file system)");
    EXPECT_EQ(readFile(file), before);
    EXPECT_FALSE(DownloadArchive::open(disk.path() / "new.sqlite", problem));
    EXPECT_EQ(problem, "Archive cannot be used: " + (disk.path() / "new.sqlite").string() +
                           " cannot be created (Read-only file system)");
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{kArchiveFileName});
}

}  // namespace
}  // namespace velnoria::testing
