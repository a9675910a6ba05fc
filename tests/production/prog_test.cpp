// kt6200-prog as an operator runs it: each command's exit status and what it says.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "frontends/prog/progress.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kLayout =
    "[[unit]]\nlun = 0\nsize = \"rest\"\n[[unit]]\nlun = 1\nsize = \"2MiB\"\nboot = \"A\"\n"
    "[[image]]\nfile = \"a.img\"\nlun = 1\n";

TEST(Prog, ExitStatusAndWhatItSays) {
    const kt::test::TempDir dir;
    setenv("KT62_EMULATOR",
           dir.Write("p.json", R"({"programmers": [{"ufs": {"raw_capacity_bytes": 1073741824}},
               {"ufs": {"raw_capacity_bytes": 1073741824}, "faults": [{"call": "kt62ScsiWrite10Unit", "result": 4}]}]})")
               .c_str(),
           1);
    dir.Write("a.img", std::string(8192, 'a'));
    dir.Write("job.toml", kLayout);
    dir.Write("large.toml", std::string(kLayout) + "[[unit]]\nlun = 2\nsize = \"2GiB\"\n");
    dir.Write("lock.toml", std::string("lock_configuration = true\n") + kLayout);
    dir.Write("bad.toml", "[[unit]]\nlun = 0\nsise = \"rest\"\n");
    dir.Write("nv.toml", "layout_from = \"nv.txt\"\n");
    dir.Write("nv.txt", "lun_to_grow=0\nlun0.size_in_kb=0\nlun1.size_in_kb=2048\nlun1.boot_lun_id=1\n");
    struct Case {
        std::string args;
        int status;
        const char* says;
        bool last = false;  // the last line said
    };
    const Case cases[] = {
        {"plan job.toml --programmer 1", 0, "4 MiB        1024 x 4 KiB"},
        {"plan large.toml", 1, "unit 2"},
        {"plan job.toml --programmer 7", 1, "programmer 7 cannot be opened"},
        {"plan bad.toml", 2, "bad.toml:3:1"},
        {"run job.toml --programmers 0", 0, "programmer 0: verify: ok"},
        {"plan nv.toml --programmer 1", 0, "  lun1.boot_lun_id=1 -> unit 1 boot A\n"},
        {"run job.toml --programmers 0,0", 0, "0          EMU0000000000001   EMU-UFS21-1G       ok\n", true},
        {"run job.toml --programmers 0 --report no/r.jsonl", 1, "the record of programmer 0 was not written"},
        {"run job.toml", 1, "1          EMU0000000000001   EMU-UFS21-1G       failed   images", true},
        {"run lock.toml", 2, "--confirm-lock"},
        {"run", 2, "JOB is required"},
    };
    for (const Case& c : cases) {
        const std::string out = dir.Path() + "/out.txt";
        const int got = std::system(
            ("cd " + dir.Path() + " && " KT6200_PROG " " + c.args + " >" + out + " 2>&1").c_str());
        const std::string said = kt::test::TempDir::Read(out);
        EXPECT_EQ(WIFEXITED(got) ? WEXITSTATUS(got) : -1, c.status) << c.args << ": " << said;
        const std::size_t at = said.find(c.says);
        EXPECT_NE(at, std::string::npos) << c.args << ": " << said;
        if (c.last) {
            EXPECT_EQ(said.find('\n', at + 1), said.size() - 1) << c.args << ": " << said;
        }
    }
    unsetenv("KT62_EMULATOR");
}

}  // namespace

// The terminal view: each programmer's line redrawn in place, the cursor back over all of them,
// and the last state always drawn however soon it comes.
TEST(Prog, TheLiveViewEndsOnEachProgrammersLastState) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    {
        kt::prog::LiveSink sink(out, {0, 2, 3});
        using kt::production::Outcome, kt::production::Step;
        sink.StepStarted(0, Step::Images);
        sink.Progress(0, 1, 2);
        sink.StepEnded(0, {Step::Images, Outcome::Ok, ""});
        sink.StepStarted(2, Step::Identify);
        sink.StepEnded(2, {Step::Identify, Outcome::Failed, "no part"});
        sink.StepStarted(3, Step::Verify);
        sink.StepEnded(3, {Step::Verify, Outcome::Stopped, "at sector 8"});
        sink.StepStarted(0, Step::Lock);
        sink.StepEnded(0, {Step::Lock, Outcome::Ok, ""});
    }
    std::fclose(out);
    const std::string drawn(text, size);
    std::free(text);
    const std::string last = drawn.substr(drawn.rfind("\x1b[3A") + 4);
    EXPECT_EQ(last,
              "\r\x1b[Kprogrammer 0: done      \n\r\x1b[Kprogrammer 2: identify  failed: no part\n"
              "\r\x1b[Kprogrammer 3: verify    stopped: at sector 8\n");
    EXPECT_EQ(drawn.rfind("\r\x1b[Kprogrammer 0: images    \n\r\x1b[Kprogrammer 2: waiting", 0), 0u)
        << "the first draw";
}
