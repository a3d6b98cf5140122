// The command-line quirks, table-driven: substring switches, -letter:, the -file forms, and the
// joining of argv into the command-line text.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "model/version_manifest.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace {

const char* const kProgram = "/opt/pemo/bin/pemo";

struct SwitchCase {
    const char* line;
    std::vector<const char*> on; // every other switch must be off
};

TEST(CommandLine, SwitchesAreCaseSensitiveSubstrings) {
    const SwitchCase cases[] = {
        {"", {}},
        {"-showdetlog", {"showDetLog", "show"}},
        {"-Show -RUNALL", {}},
        {"-runall -show -stay", {"runAll", "show", "stay"}},
        {"-auto -shutdown", {"autoRun", "shutdown"}},
        {"-ignoreerrors -datelog -logexclusions -noballoon", {"ignoreErrors", "dateLog", "logExclusions", "noBalloon"}},
        {"-file /backups/-stay/x.job", {"stay"}},
        {"x-runallx", {"runAll"}},
        {"-autorun", {"autoRun"}},
    };
    for (const auto& c : cases) {
        const StartOptions o = ParseCommandLine(c.line, kProgram);
        const std::pair<const char*, bool> actual[] = {
            {"show", o.show},
            {"runAll", o.runAll},
            {"stay", o.stay},
            {"shutdown", o.shutdown},
            {"ignoreErrors", o.ignoreErrors},
            {"dateLog", o.dateLog},
            {"logExclusions", o.logExclusions},
            {"noBalloon", o.noBalloon},
            {"autoRun", o.autoRun},
            {"showDetLog", o.showDetLog},
        };
        for (const auto& [name, value] : actual) {
            bool expected = false;
            for (const char* on : c.on) {
                expected = expected || std::string(on) == name;
            }
            EXPECT_EQ(value, expected) << "\"" << c.line << "\": " << name;
        }
    }
}

TEST(CommandLine, JobFileForms) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "default.job"},
        {"-runall", "default.job"},
        {"-file C:\\a.job", "C:\\a.job"},
        {"-file:C:\\a.job", "C:\\a.job"},
        {"-file \"C:\\My Jobs\\a.job\" -runall", "C:\\My Jobs\\a.job"},
        {"-file C:\\My Jobs\\a.job", "C:\\My"},
        {"-file \"C:\\My Jobs\\a.job", "default.job"},
        {"-file \"\"", "default.job"},
        {"-file", "default.job"},
        {"-file ", "default.job"},
        {"-file x", "x"},
        {"-file a.job -file b.job", "a.job"},
        {"-runall -file /home/u/nightly.job -letter:E", "/home/u/nightly.job"},
        {"-filename.job", "ame.job"},
    };
    for (const auto& [line, file] : cases) {
        EXPECT_EQ(ParseCommandLine(line, kProgram).startJobFile, file) << "\"" << line << "\"";
    }
}

TEST(CommandLine, DriveLetter) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"-letter:E", "E"},
        {"-runall -letter:Fxyz", "F"},
        {"-letter:", ""},
        {"-runall -letter:", ""},
        {"-letter:. -runall", "/"},
        {"-letter:G -letter:H", "G"},
        {"-letter:\xC3\x89 x", "\xC3\x89"},
        {"-letter: ", " "},
    };
    for (const auto& [line, letter] : cases) {
        EXPECT_EQ(ParseCommandLine(line, kProgram).driveLetter, letter) << "\"" << line << "\"";
    }
    EXPECT_EQ(ParseCommandLine("-letter:.", "E:\\Tools\\pemo.exe").driveLetter, "E");
    EXPECT_EQ(ParseCommandLine("-letter:.", "\\\\?\\F:\\Tools\\pemo.exe").driveLetter, "F");
    EXPECT_EQ(ParseCommandLine("-letter:.", "\\\\srv\\tools\\pemo.exe").driveLetter, "");
    EXPECT_EQ(ParseCommandLine("-letter:.", "\\\\?\\UNC\\srv\\tools\\pemo.exe").driveLetter, "");
    EXPECT_EQ(ParseCommandLine("-letter:.", "").driveLetter, ".");
}

TEST(CommandLine, ArgumentsJoinWithQuotesAroundBlanks) {
    const std::vector<std::vector<const char*>> argvs = {
        {"pemo"},
        {"pemo", "-runall", "-file", "My Jobs/a.job", "-letter:E"},
        {"pemo", "-file", "plain.job"},
        {"pemo", ""},
    };
    const char* const expected[] = {"", "-runall -file \"My Jobs/a.job\" -letter:E", "-file plain.job", ""};
    for (std::size_t i = 0; i < argvs.size(); ++i) {
        EXPECT_EQ(JoinArguments(static_cast<int>(argvs[i].size()), argvs[i].data()), expected[i]);
    }
    // What the shell split comes back as the parser expects it.
    const char* argv[] = {"pemo", "-file", "/media/My Backups/nightly.job", "-runall"};
    const StartOptions o = ParseCommandLine(JoinArguments(4, argv), kProgram);
    EXPECT_EQ(o.startJobFile, "/media/My Backups/nightly.job");
    EXPECT_TRUE(o.runAll);
}

TEST(CommandLine, OwnProgramPathIsAbsolute) {
    const std::string path = OwnProgramPath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
}

// ---- The strict reading of the arguments ----

TEST(CheckArguments, HelpAndVersionWinOverEverythingButAJobPath) {
    using V = ArgumentsVerdict;
    const std::pair<std::vector<std::string>, V> cases[] = {
        {{"--help"}, V::Help},
        {{"-h"}, V::Help},
        {{"-?"}, V::Help},
        {{"-auto", "--help"}, V::Help},
        {{"--bogus", "-h"}, V::Help},
        {{"--version"}, V::Version},
        {{"-auto", "--version"}, V::Version},
        {{"--version", "-h"}, V::Help},
        // A job file may be called -h.
        {{"-auto", "-file", "-h"}, V::Run},
        {{}, V::Run},
    };
    for (const auto& [args, verdict] : cases) {
        EXPECT_EQ(CheckArguments(args, kProgram, NativeFileSystem()).verdict, verdict)
            << (args.empty() ? "" : args.back());
    }
}

TEST(CheckArguments, AnythingBeginningWithADashMustBeAKnownSwitch) {
    const std::vector<std::string> refused = {
        "--dry-run",  "-dry-run", "-Show",      "-autox",      "-runall2",      "-file2",
        "-fileX.job", "-letter:", "-letter:EF", "-maxdelete:", "-maxdelete:1x", "-maxdelete:-3",
        "--auto",     "-",        "--",         "nightly.jbo", "/no/such.job",  ""};
    for (const auto& bad : refused) {
        const CheckedArguments checked = CheckArguments({"-auto", bad}, kProgram, NativeFileSystem());
        EXPECT_EQ(checked.verdict, ArgumentsVerdict::Refused) << bad;
        EXPECT_NE(checked.error.find("\"" + bad + "\""), std::string::npos) << checked.error;
    }
    EXPECT_EQ(CheckArguments({"-auto", "-file"}, kProgram, NativeFileSystem()).verdict, ArgumentsVerdict::Refused);
    EXPECT_EQ(CheckArguments({"-verbose", "-quiet"}, kProgram, NativeFileSystem()).verdict, ArgumentsVerdict::Refused);
    const std::vector<std::string> accepted = {
        "-show",        "-runall",        "-stay",       "-shutdown", "-ignoreerrors", "-datelog",  "-logexclusions",
        "-noballoon",   "-auto",          "-showdetlog", "-fakeit",   "-letter:E",     "-letter:.", "-letter:é",
        "-maxdelete:0", "-maxdelete:250", "-file:a.job", "-verbose",  "-quiet"};
    for (const auto& good : accepted) {
        EXPECT_EQ(CheckArguments({good}, kProgram, NativeFileSystem()).verdict, ArgumentsVerdict::Run) << good;
    }
}

TEST(CheckArguments, WholeArgumentsDecideTheOptions) {
    const StartOptions a =
        CheckArguments({"-auto", "-file", "/backups/-stay -datelog/x.job", "-fakeit"}, kProgram, NativeFileSystem())
            .options;
    EXPECT_TRUE(a.autoRun);
    EXPECT_TRUE(a.fakeIt);
    EXPECT_FALSE(a.stay) << "a switch's text inside the job path is not a switch";
    EXPECT_FALSE(a.dateLog);
    EXPECT_EQ(a.startJobFile, "/backups/-stay -datelog/x.job");

    const StartOptions b =
        CheckArguments({"-file:/j/a-letter:Q.job", "-letter:E", "-showdetlog"}, kProgram, NativeFileSystem()).options;
    EXPECT_EQ(b.startJobFile, "/j/a-letter:Q.job");
    EXPECT_EQ(b.driveLetter, "E");
    EXPECT_TRUE(b.showDetLog && b.show);

    const StartOptions c =
        CheckArguments({"-letter:.", "-file", "first.job", "-file", "second.job"}, kProgram, NativeFileSystem())
            .options;
    EXPECT_EQ(c.driveLetter, "/");
    EXPECT_EQ(c.startJobFile, "first.job") << "only the first -file counts";
    EXPECT_FALSE(c.fakeIt || c.autoRun || c.show);

    EXPECT_EQ(CheckArguments({}, kProgram, NativeFileSystem()).options.startJobFile, "default.job");
}

// "pemo -auto nightly.jbo" fails rather than mirror default.job.
TEST(CheckArguments, AWordThatIsNoSwitchMustNameTheOneExistingJob) {
    TempDir dir;
    WriteFileBytes(dir / "Nightly.JOB", "");
    EXPECT_EQ(CheckArguments({dir / "Nightly.JOB", "-runall"}, kProgram, NativeFileSystem()).options.startJobFile,
              dir / "Nightly.JOB");
    for (const std::vector<std::string>& args : {std::vector<std::string>{dir.Path()},
                                                 {dir / "Nightly.JOB", dir / "Nightly.JOB"},
                                                 {"-file", "a", dir / "Nightly.JOB"}}) {
        EXPECT_EQ(CheckArguments(args, kProgram, NativeFileSystem()).verdict, ArgumentsVerdict::Refused) << args.back();
    }
}

} // namespace

namespace {

TEST(CommandLine, MaxDeleteTakesAWholeNumberOfFiles) {
    struct Case {
        const char* line;
        std::int64_t maxDelete;
        bool refused;
    };
    const Case cases[] = {
        {"-auto", -1, false},
        {"-auto -maxdelete:0", 0, false},
        {"-maxdelete:250 -auto", 250, false},
        {"-auto -maxdelete:007", 7, false},
        {"-auto -maxdelete:99999999999999999999999", INT64_MAX, false},
        {"-auto -maxdelete:", -1, true},
        {"-auto -maxdelete", -1, true},
        {"-auto -maxdelete 5", -1, true},
        {"-auto -maxdelete:-1", -1, true},
        {"-auto -maxdelete:1.5", -1, true},
        {"-auto -maxdelete:ten", -1, true},
        {"-auto -maxdelete:5x", -1, true},
        {"-auto -maxdelete:+5", -1, true},
    };
    for (const Case& c : cases) {
        const StartOptions o = ParseCommandLine(c.line, kProgram);
        EXPECT_EQ(o.maxDelete, c.maxDelete) << c.line;
        EXPECT_EQ(!o.error.empty(), c.refused) << c.line << ": " << o.error;
    }
    EXPECT_EQ(ParseCommandLine("-auto -maxdelete:ten -file a.job", kProgram).error,
              "-maxdelete needs a whole number of files, 0 or more, as in -maxdelete:100 (not \"-maxdelete:ten\")");
}

} // namespace

TEST(CheckArguments, RestoreTakesAPathATimeAndAFolderStrictly) {
    const struct {
        std::vector<std::string> args;
        const char* says; // empty: accepted
    } cases[] = {
        {{"-auto", "-restore", "/d/a", "-at", "2026-01-31"}, ""},
        {{"-auto", "-restore", "/d/a", "-at", "2026-01-31 18:30", "-to", "/tmp"}, ""},
        {{"-auto", "-restore", "-h", "-at", "2026-01-31 18:30:05", "-task:T"}, ""},
        {{"-auto", "-restore", "/d/a", "-at", "2026-01-31_18-30-00_2"}, ""},
        {{"-auto", "-restore"}, "needs the path"},
        {{"-auto", "-restore", "/d/a", "-at"}, "needs a time"},
        {{"-auto", "-restore", "/d/a", "-at", "2026-02-30"}, "give the time as"},
        {{"-auto", "-restore", "/d/a", "-at", "2026-01-31 25:00"}, "give the time as"},
        {{"-auto", "-restore", "/d/a", "-at", "31.01.2026"}, "give the time as"},
        {{"-auto", "-restore", "/d/a", "-at", "2026-01-31T18:30"}, "give the time as"},
        {{"-auto", "-restore", "/d/a", "-restore", "/d/b"}, "is given once"},
        {{"-restore", "/d/a"}, "without a window only"},
        {{"-auto", "-undo", "-restore", "/d/a"}, "give one of them"},
        {{"-auto", "-at", "2026-01-31"}, "choose the time and the folder of -restore"},
        {{"-auto", "-restore", "/d/a", "-to", "/tmp"}, "-to needs -at"},
    };
    for (const auto& c : cases) {
        const CheckedArguments checked = CheckArguments(c.args, kProgram, NativeFileSystem());
        const std::string said = c.says;
        EXPECT_EQ(checked.verdict, said.empty() ? ArgumentsVerdict::Run : ArgumentsVerdict::Refused) << c.args.back();
        EXPECT_NE(checked.error.find(said), std::string::npos) << checked.error;
    }
    const StartOptions o = CheckArguments({"-auto", "-restore", "/d/a", "-at", "2026-01-31 18:30", "-to", "/tmp"},
                                          kProgram, NativeFileSystem())
                               .options;
    EXPECT_TRUE(o.restore && o.restoreAtGiven);
    EXPECT_EQ(o.restorePath, "/d/a");
    EXPECT_EQ(o.restoreAt, CalendarSeconds(2026, 1, 31, 18, 30, 0));
    EXPECT_EQ(o.restoreTo, "/tmp");
}
