// The runner as a program, in child processes: what it does with odd outputs,
// signals and memory limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <png.h>

#include "app/headless_runner.h"
#include "sim/core/program_start.h"
#include "sim/core/time_step.h"
#include "sim/drawing/world_picture.h"
#include "sim/io/run_state.h"
#include "tests/app/scratch_folder.h"

// AddressSanitizer reserves terabytes of address space at start: under a small
// RLIMIT_AS such a build cannot even start.
#if defined(__SANITIZE_ADDRESS__)
#define LANDUSE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LANDUSE_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

namespace fs = std::filesystem;

struct Finished {
    int exitCode = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string err;
};

// Starts the runner with `arguments`; `prepare` runs in the child before exec
// (to change its descriptors or limits). Stdout goes to /dev/null unless prepared.
pid_t Start(const std::vector<std::string>& arguments, const std::function<void()>& prepare, int errPipe)
{
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(errPipe, STDERR_FILENO);
    prepare();
    std::vector<char*> argv = {const_cast<char*>(LANDUSE_HEADLESS_PROGRAM)};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

Finished Wait(pid_t pid, int errRead)
{
    Finished finished;
    char buffer[4096];
    for (ssize_t got; (got = read(errRead, buffer, sizeof buffer)) > 0;) finished.err.append(buffer, got);
    close(errRead);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) finished.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) finished.signal = WTERMSIG(status);
    return finished;
}

Finished RunProgram(const std::vector<std::string>& arguments, const std::function<void()>& prepare = [] {})
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    const pid_t pid = Start(arguments, [&] { close(pipeEnds[0]); prepare(); }, pipeEnds[1]);
    close(pipeEnds[1]);
    return Wait(pid, pipeEnds[0]);
}


const std::vector<std::string> kSmallRun = {"--steps", "3", "--set", "Edit_size=10"};

std::vector<std::string> With(std::vector<std::string> arguments, const std::vector<std::string>& more)
{
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

// The RGB pixels of a PNG file, rows top to bottom; empty when it is no 404 x 404 PNG.
std::vector<std::uint8_t> DecodedPicture(const std::string& file)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    const bool read = png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
    const bool panelSized = image.width == kPictureSide && image.height == kPictureSide;
    png_image_free(&image);
    if (!read || !panelSized) return {};
    return rgb;
}

}  // namespace

TEST(RunnerFiles, WriteErrorsOnStdoutFailTheRun)
{
    // A full device: the error shows at the first flush, not at the end.
    const Finished full = RunProgram({"--steps", "2000", "--set", "Edit_size=10"}, [] {
        const int fd = open("/dev/full", O_WRONLY);
        dup2(fd, STDOUT_FILENO);
    });
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_NE(full.err.find("cannot write stdout: No space left on device"), std::string::npos) << full.err;

    const Finished closed = RunProgram(kSmallRun, [] { close(STDOUT_FILENO); });
    EXPECT_EQ(closed.exitCode, 1);
    EXPECT_NE(closed.err.find("cannot write stdout: Bad file descriptor"), std::string::npos) << closed.err;

    // --help too.
    const Finished help = RunProgram({"--help"}, [] {
        const int fd = open("/dev/full", O_WRONLY);
        dup2(fd, STDOUT_FILENO);
    });
    EXPECT_EQ(help.exitCode, 1);

    // A run whose stdout failed commits none of its files.
    ScratchFolder folder;
    const Finished partly =
        RunProgram(With(kSmallRun, {"--stats", folder.File("s.csv"), "--agents"}), [] { close(STDOUT_FILENO); });
    EXPECT_EQ(partly.exitCode, 1);
    EXPECT_TRUE(folder.Names().empty());

    // A closed stdout that nothing is written to is no failure, and no file lands on it.
    const Finished unused =
        RunProgram(With(kSmallRun, {"--stats", folder.File("s.csv")}), [] { close(STDOUT_FILENO); });
    EXPECT_EQ(unused.exitCode, 0) << unused.err;
    EXPECT_EQ(ReadFile(folder.File("s.csv")).substr(0, 5), "step,");
}

// A named output whose last writes fail (a full device; a regular file past the
// size limit, where only the commit writes out the buffered table), or whose sync
// or close fails (made to fail in the runner by a preloaded library), fails the
// run with exit code 1 and the system's reason; a file it would have replaced
// stays as it was, with no temporary file beside it, and a link stays a link.
TEST(RunnerFiles, WriteErrorsAtTheCommitFailTheRun)
{
    ScratchFolder folder;
    fs::create_symlink("/dev/full", folder.File("to-full"));
    const auto fileLimit = [] {
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
        const rlimit limit{64, 64};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    // The temporary files' names hold ".part-".
    const auto failing = [](const char* call) {
        return [call] {
            setenv("LD_PRELOAD", LANDUSE_FAILING_CALLS, 1);
            setenv(call, ".part-", 1);
        };
    };
    const struct {
        std::vector<std::string> outputs;
        std::function<void()> prepare;
        std::string reason;
    } cases[] = {
        {{"--agents", "/dev/full"}, [] {}, std::strerror(ENOSPC)},
        {{"--stats", folder.File("to-full")}, [] {}, std::strerror(ENOSPC)},
        {{"--agents", folder.File("old.csv")}, fileLimit, std::strerror(EFBIG)},
        {{"--save-state", folder.File("old.csv")}, fileLimit, std::strerror(EFBIG)},
        {{"--agents", folder.File("old.csv")}, failing("LANDUSE_FAIL_FSYNC"), std::strerror(EIO)},
        {{"--stats", folder.File("old.csv")}, failing("LANDUSE_FAIL_CLOSE"), std::strerror(EIO)},
    };
    for (const auto& c : cases) {
#ifdef LANDUSE_ADDRESS_SANITIZER
        // The sanitizer's runtime must come first: no library is preloaded before it.
        if (c.reason == std::strerror(EIO)) continue;
#endif
        WriteFile(folder.File("old.csv"), "old");
        const Finished run = RunProgram(With(kSmallRun, c.outputs), c.prepare);
        EXPECT_EQ(run.exitCode, 1) << c.outputs[1];
        EXPECT_NE(run.err.find("cannot write " + c.outputs[1] + ": " + c.reason), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(folder.File("old.csv")), "old") << c.outputs[1];
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"old.csv", "to-full"})) << c.outputs[1];
    }
    EXPECT_TRUE(fs::is_symlink(folder.File("to-full")));
}

namespace {

constexpr uid_t kNobody = 65534;

// Hands the folder to `nobody` when the tests run as root, so that the runner can be
// run as an ordinary user: a runner that replaced a link it was given would then
// fail on a system link instead of replacing it for the whole machine.
bool CanRunAsNobody(const ScratchFolder& folder)
{
    if (getuid() != 0) return false;
    bool handed = lchown(folder.path.c_str(), kNobody, kNobody) == 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder.path))
        handed = handed && lchown(entry.path().c_str(), kNobody, kNobody) == 0;
    return handed && access(LANDUSE_HEADLESS_PROGRAM, X_OK) == 0;
}

void BecomeNobody()
{
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
}

}  // namespace

// An output name that is a link is written through: the file it leads to is
// replaced (or made, where it dangles) and the link stays a link, with /dev/stdout
// first among them. Two names of one file are refused, and a file keeps its mode.
TEST(RunnerFiles, LinksAreWrittenThroughNeverReplaced)
{
    ScratchFolder folder;
    fs::create_directory(folder.File("sub"));
    WriteFile(folder.File("target.csv"), "old");
    ASSERT_EQ(chmod(folder.File("target.csv").c_str(), 0600), 0);
    fs::create_symlink(folder.File("target.csv"), folder.File("to-target"));
    fs::create_symlink("sub/made.csv", folder.File("dangling"));
    fs::create_symlink("/dev/null", folder.File("to-null"));
    fs::create_symlink("to-target", folder.File("to-link"));  // two hops
    const bool asNobody = CanRunAsNobody(folder);
    const std::function<void()> asUser = asNobody ? std::function<void()>(BecomeNobody) : [] {};
    const std::string out = folder.File("out.csv");
    const auto stdoutToFile = [&] {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        close(fd);
        asUser();
    };
    WriteFile(out, "");
    if (asNobody) {
        ASSERT_EQ(lchown(out.c_str(), kNobody, kNobody), 0);
    }

    const struct {
        std::vector<std::string> outputs;
        std::string written;  // the file that must hold the table
        std::vector<std::string> links;
    } cases[] = {
        {{"--stats", "/dev/stdout"}, out, {}},
        {{"--stats", folder.File("to-target")}, folder.File("target.csv"), {"to-target"}},
        {{"--agents", folder.File("to-link")}, folder.File("target.csv"), {"to-target", "to-link"}},
        {{"--stats", folder.File("dangling")}, folder.File("sub/made.csv"), {"dangling"}},
        {{"--stats", folder.File("to-null"), "--agents", folder.File("to-null")}, "", {"to-null"}},
    };
    for (const auto& c : cases) {
        const Finished run = RunProgram(With(kSmallRun, c.outputs), stdoutToFile);
        EXPECT_EQ(run.exitCode, 0) << c.outputs[1] << ": " << run.err;
        const std::string header = c.outputs[0] == "--agents" ? "index," : "step,";
        if (!c.written.empty()) {
            EXPECT_EQ(ReadFile(c.written).substr(0, header.size()), header) << c.outputs[1];
        }
        for (const std::string& link : c.links) EXPECT_TRUE(fs::is_symlink(folder.File(link))) << link;
    }
    EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    struct stat info {};
    ASSERT_EQ(stat(folder.File("target.csv").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"dangling", "out.csv", "sub", "sub/made.csv", "target.csv",
                                                        "to-link", "to-null", "to-target"}));

    // A dangling link and the name it leads to are one file.
    fs::create_symlink("sub/later.csv", folder.File("dangling-too"));
    const Finished twice = RunProgram(With(kSmallRun, {"--stats", folder.File("dangling-too"), "--agents",
                                                       folder.File("sub/later.csv")}));
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_NE(twice.err.find("are the same file"), std::string::npos) << twice.err;
}

TEST(RunnerFiles, SignalsLeaveNoTemporaryFiles)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ScratchFolder folder;
        fs::create_directory(folder.File("cells"));
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        const pid_t pid = Start({"--steps", "1000000", "--stats", folder.File("stats.csv"), "--agents",
                                 folder.File("agents.csv"), "--cells-every", "1", "--cells-dir", folder.File("cells")},
                                [&] { close(pipeEnds[0]); }, pipeEnds[1]);
        close(pipeEnds[1]);
        // Waits until the run is well under way: some snapshots written.
        while (!fs::exists(folder.File("cells/cells-0000000003.csv")))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        kill(pid, signal);
        const Finished finished = Wait(pid, pipeEnds[0]);
        EXPECT_EQ(finished.exitCode, 128 + signal) << strsignal(signal) << " " << finished.signal;
        for (const std::string& name : folder.Names()) {
            EXPECT_EQ(name.find(".part-"), std::string::npos) << strsignal(signal) << ": " << name;
            EXPECT_NE(name, "stats.csv");
            EXPECT_NE(name, "agents.csv");
        }
    }
}

// A process that may take little memory is refused a large batch with a message
// (exit 1), rather than killed by the system part-way.
TEST(RunnerFiles, BatchesBeyondTheMemoryLimitAreRefused)
{
    const std::vector<std::string> largeBatch = {"--steps", "2", "--set", "Edit_size=10", "--set",
                                                 "Edit_anzAg=7000000", "--set", "E_crAgs=6000000"};
#ifndef LANDUSE_ADDRESS_SANITIZER
    const Finished limited = RunProgram(largeBatch, [] {
        const rlimit limit{std::uint64_t{1} << 30, std::uint64_t{1} << 30};
        setrlimit(RLIMIT_AS, &limit);
    });
    EXPECT_EQ(limited.exitCode, 1);
    EXPECT_NE(limited.err.find("Not enough memory to create 6000000 agents"), std::string::npos) << limited.err;
#endif

    // A memory cgroup of 512 MiB, where one can be made (as root, with cgroup v1's
    // memory hierarchy or cgroup v2 with the memory controller).
    std::string group;
    for (const auto& [hierarchy, limitFile] :
         {std::pair{"/sys/fs/cgroup/memory", "memory.limit_in_bytes"}, {"/sys/fs/cgroup", "memory.max"}}) {
        const std::string candidate = std::string(hierarchy) + "/landuse-test-" + std::to_string(getpid());
        if (mkdir(candidate.c_str(), 0755) != 0) continue;
        if (std::ofstream(candidate + "/" + limitFile) << (512 << 20) << std::flush) {
            group = candidate;
            break;
        }
        rmdir(candidate.c_str());
    }
    if (group.empty()) GTEST_SKIP() << "no memory cgroup can be made here (needs root and a writable cgroup fs)";
    const Finished inGroup = RunProgram(largeBatch, [&group] {
        std::ofstream(group + "/cgroup.procs") << getpid() << std::flush;
    });
    rmdir(group.c_str());
    EXPECT_EQ(inGroup.exitCode, 1) << "signal " << inGroup.signal;
    EXPECT_NE(inGroup.err.find("Not enough memory to create 6000000 agents"), std::string::npos) << inGroup.err;
}

// Pictures land at the start and at their steps, each the painter's picture of
// the run as it stands then (the run stepped again here with its drawing
// recorded); they leave the statistics as they are, and one that cannot be
// written fails the run. A loaded run opens on the picture of its loaded step.
TEST(RunnerFiles, PicturesAreThePaintersPicturesOfTheirSteps)
{
    ScratchFolder folder;
    fs::create_directory(folder.File("pictures"));
    const std::vector<std::string> run = {"--steps", "7", "--set", "CB_showAg=1", "--set", "Edit_anzAg=40"};
    std::ostringstream out, err;
    ASSERT_EQ(RunHeadless(With(run, {"--stats", folder.File("pictured.csv"), "--pictures-every", "3", "--pictures-dir",
                                     folder.File("pictures"), "--save-state-every", "3", "--state-dir", folder.path}),
                          out, err),
              0)
        << err.str();
    ASSERT_EQ(RunHeadless(With(run, {"--stats", folder.File("plain.csv")}), out, err), 0) << err.str();
    EXPECT_EQ(ReadFile(folder.File("pictured.csv")), ReadFile(folder.File("plain.csv")));
    EXPECT_EQ(folder.Names(),
              (std::vector<std::string>{"pictured.csv", "pictures", "pictures/picture-0000000000.png",
                                        "pictures/picture-0000000003.png", "pictures/picture-0000000006.png",
                                        "plain.csv", "state-0000000003.lus", "state-0000000006.lus"}));

    Simulation sim;
    DrawingRecorder recorder(sim);
    sim.SetScreen(&recorder);
    StartProgram(sim, {{"CB_showAg", "1"}, {"Edit_anzAg", "40"}});
    for (int step = 0; step <= 6; ++step) {
        if (step > 0) TimeStep(sim);
        if (step % 3 != 0) continue;
        const std::vector<std::uint8_t> decoded =
            DecodedPicture(ReadFile(folder.File("pictures/picture-000000000" + std::to_string(step) + ".png")));
        ASSERT_FALSE(decoded.empty()) << "step " << step;
        EXPECT_TRUE(decoded == WorldPictureRgb(sim)) << "step " << step;
    }

    // Loaded at step 3 and run to 5: the opening picture is the loaded step's, the
    // same file as the first run's, and no multiple of 3 follows.
    fs::create_directory(folder.File("loaded"));
    ASSERT_EQ(RunHeadless({"--load-state", folder.File("state-0000000003.lus"), "--steps", "2", "--stats", "/dev/null",
                           "--pictures-every", "3", "--pictures-dir", folder.File("loaded")},
                          out, err),
              0)
        << err.str();
    std::vector<std::string> loaded;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.File("loaded")))
        loaded.push_back(entry.path().filename());
    EXPECT_EQ(loaded, std::vector<std::string>{"picture-0000000003.png"});
    EXPECT_EQ(ReadFile(folder.File("loaded/picture-0000000003.png")),
              ReadFile(folder.File("pictures/picture-0000000003.png")));

    // A folder where step 3's picture would go: the run stops there, with exit code 1.
    fs::create_directory(folder.File("pictures/blocked"));
    fs::create_directory(folder.File("pictures/blocked/picture-0000000003.png"));
    std::ostringstream blockedErr;
    EXPECT_EQ(RunHeadless(With(run, {"--stats", "/dev/null", "--pictures-every", "3", "--pictures-dir",
                                     folder.File("pictures/blocked")}),
                          out, blockedErr),
              1);
    EXPECT_NE(blockedErr.str().find("picture-0000000003.png"), std::string::npos) << blockedErr.str();
}

namespace {

// The pictures a folder holds, in the order of their names.
std::vector<std::string> PicturesIn(const std::string& folder)
{
    std::vector<std::string> pictures;
    for (const auto& entry : fs::directory_iterator(folder)) pictures.push_back(entry.path().string());
    std::sort(pictures.begin(), pictures.end());
    return pictures;
}

}  // namespace

// A run saved and continued draws what the whole run draws, picture for picture:
// the state carries the cells' drawing, and a loaded run that was recording goes on
// recording while it saves states, with or without pictures of its own.
TEST(RunnerFiles, ALoadedRunDrawsWhatTheWholeRunDraws)
{
    ScratchFolder folder;
    for (const char* name : {"whole", "states", "continued", "relay", "later"}) fs::create_directory(folder.File(name));
    const std::vector<std::string> run = {"--set", "CB_showAg=1", "--set", "Edit_anzAg=60", "--stats", "/dev/null"};
    std::ostringstream out, err;
    const auto runner = [&](const std::vector<std::string>& more) {
        ASSERT_EQ(RunHeadless(With(run, more), out, err), 0) << err.str();
    };
    runner({"--steps", "30", "--pictures-every", "10", "--pictures-dir", folder.File("whole"), "--save-state-every", "10",
            "--state-dir", folder.File("states")});
    const std::vector<std::string> states = PicturesIn(folder.File("states"));
    ASSERT_EQ(states.size(), 3u);
    // From step 10 with pictures; and from step 10 without them to a state at 20, then with them.
    runner({"--load-state", states[0], "--steps", "20", "--pictures-every", "10", "--pictures-dir", folder.File("continued")});
    runner({"--load-state", states[0], "--steps", "10", "--save-state", folder.File("relay/at-20.lus")});
    runner({"--load-state", folder.File("relay/at-20.lus"), "--steps", "10", "--pictures-every", "10", "--pictures-dir",
            folder.File("later")});

    const std::vector<std::string> whole = PicturesIn(folder.File("whole"));
    const std::vector<std::string> continued = PicturesIn(folder.File("continued"));
    const std::vector<std::string> later = PicturesIn(folder.File("later"));
    ASSERT_GE(whole.size(), 3u);
    ASSERT_GE(continued.size(), 2u);
    ASSERT_GE(later.size(), 1u);
    // The last two pictures (steps 20 and 30), and the last one (step 30), are the whole run's.
    EXPECT_TRUE(DecodedPicture(ReadFile(continued[continued.size() - 2])) == DecodedPicture(ReadFile(whole[whole.size() - 2])));
    EXPECT_TRUE(DecodedPicture(ReadFile(continued.back())) == DecodedPicture(ReadFile(whole.back())));
    EXPECT_TRUE(DecodedPicture(ReadFile(later.back())) == DecodedPicture(ReadFile(whole.back())));

    // A state saved without pictures has no drawing record: continued with pictures,
    // its cells are drawn afresh at the load, and its first picture shows the tracks.
    runner({"--steps", "10", "--save-state", folder.File("relay/unrecorded.lus")});
    Simulation sim;
    std::string bytes = ReadFile(folder.File("relay/unrecorded.lus"));
    DecodeRunState(sim, bytes);
    EXPECT_FALSE(sim.run.drawingRecorded);
    Simulation recorded;
    DecodeRunState(recorded, ReadFile(states[0]));
    EXPECT_TRUE(recorded.run.drawingRecorded);
}
