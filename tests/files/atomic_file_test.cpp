// The one writer of whole files, in this process: the temporary names it really
// uses, and the failures its commit reports.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include "files/atomic_file.h"
#include "tests/app/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

// Hands out the given suffixes in turn, so that a test knows every temporary
// name the writer tries and can take them first.
std::function<std::string()> Suffixes(std::vector<std::string> suffixes)
{
    auto next = std::make_shared<std::size_t>(0);
    return [suffixes = std::move(suffixes), next] { return suffixes.at((*next)++); };
}

// The temporary files a watch holds listed, as the runner's signal handler does.
struct Listing {
    std::map<int, std::string> listed;
    int calls = 0;
    TemporaryFileWatch Watch()
    {
        return {[this](const std::string& path) {
                    listed[calls] = path;
                    return calls++;
                },
                [this](int slot) { EXPECT_EQ(listed.erase(slot), 1u); }};
    }
};

}  // namespace

// Every name a temporary file could take is planted first: a link to a file of
// someone else's, a hard link to that file, a link to nothing. Each is passed
// over, never followed nor written into, and the file lands at the first free
// name; a name tried and passed over is taken off the listing again.
TEST(AtomicFile, TakenTemporaryNamesAreNeverFollowedNorReused)
{
    ScratchFolder folder;
    const std::string target = folder.File("table.csv");
    WriteFile(target, "old");
    WriteFile(folder.File("victim"), "keep me");
    fs::create_symlink(folder.File("victim"), target + ".part-link");
    fs::create_hard_link(folder.File("victim"), target + ".part-hard");
    fs::create_symlink(folder.File("made-through-link"), target + ".part-dangling");
    Listing listing;
    {
        AtomicFile file(target, listing.Watch(), Suffixes({"link", "hard", "dangling", "free"}));
        EXPECT_EQ(file.temporary(), target + ".part-free");
        EXPECT_EQ(listing.calls, 4);
        EXPECT_EQ(listing.listed, (std::map<int, std::string>{{3, target + ".part-free"}}));
        file.Write("new", 3);
        file.Commit();
    }
    EXPECT_TRUE(listing.listed.empty());
    EXPECT_EQ(ReadFile(folder.File("victim")), "keep me");
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"table.csv", "table.csv.part-dangling", "table.csv.part-hard",
                                                        "table.csv.part-link", "victim"}));
}

// Without a suffix given, the name cannot be known beforehand: six random letters
// or digits, another for each file written at once.
TEST(AtomicFile, TemporaryNamesAreRandom)
{
    ScratchFolder folder;
    const std::string target = folder.File("table.csv");
    std::set<std::string> names;
    std::vector<std::unique_ptr<AtomicFile>> files;
    for (int i = 0; i < 8; ++i) {
        files.push_back(std::make_unique<AtomicFile>(target));
        EXPECT_TRUE(std::regex_match(files.back()->temporary(), std::regex(".*/table\\.csv\\.part-[A-Za-z0-9]{6}")))
            << files.back()->temporary();
        names.insert(files.back()->temporary());
    }
    EXPECT_EQ(names.size(), 8u);
    files.clear();  // none committed: none left
    EXPECT_TRUE(folder.Names().empty());
}

// A failed write shows at the commit, with the system's reason and the name as
// given, and a link to a device stays a link. (The runner's tests fail a regular
// file's writes, under a file size limit, in a process of its own.)
TEST(AtomicFile, TheCommitReportsWriteFailures)
{
    ScratchFolder folder;
    fs::create_symlink("/dev/full", folder.File("to-full"));
    for (const std::string& path : {std::string("/dev/full"), folder.File("to-full")}) {
        AtomicFile file(path);
        EXPECT_TRUE(file.temporary().empty()) << path;  // written into, never replaced
        file.Write("a line\n", 7);
        EXPECT_EQ(file.error(), ENOSPC);
        try {
            file.Commit();
            ADD_FAILURE() << path << ": committed";
        } catch (const FileWriteError& error) {
            EXPECT_EQ(error.path(), path);
            EXPECT_EQ(error.reason(), std::strerror(ENOSPC));
            EXPECT_EQ(std::string(error.what()), "cannot write " + path + ": " + std::strerror(ENOSPC));
        }
    }
    EXPECT_TRUE(fs::is_symlink(folder.File("to-full")));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}
