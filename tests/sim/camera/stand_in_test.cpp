// The capture and copy stand-ins, run as the built programs, the way the
// robot's programs run them inside a simulated run.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/emulated_devices.h"

namespace fs = std::filesystem;

namespace {

const std::string kSimBin = TAVI_BUILD_DIR "/sim-bin";
constexpr int kRunTimeoutMs = 20000;

void write_file(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

// A temporary directory removed with everything in it, as a path.
struct temp_dir {
    emu_temp_dir made;
    fs::path path{made.path};
};

using scoped_env = emu_scoped_env;

// Runs a stand-in in workdir; output holds what it wrote on standard error.
emu_child emu_spawn_stderr(const std::string& program, const std::vector<std::string>& args,
                           const fs::path& workdir) {
    std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1 >/dev/null",
                                  kSimBin + "/" + program};
    argv.insert(argv.end(), args.begin(), args.end());
    return emu_spawn_program(argv, "", workdir.string());
}

struct run_result {
    int exit_code;  // -1 when it did not exit normally
    std::string err;
};

run_result finish(emu_child* child) {
    const emu_child_result r = emu_child_finish(child, kRunTimeoutMs);
    const int code = !r.timed_out && WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1;
    return run_result{code, r.output};
}

run_result run(const std::string& program, const std::vector<std::string>& args,
               const fs::path& workdir) {
    emu_child c = emu_spawn_stderr(program, args, workdir);
    return finish(&c);
}

// The simulator's end of the camera socket, served from the test's thread.
struct fake_simulator {
    explicit fake_simulator(const fs::path& dir) : path((dir / "sim.sock").string()) {
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        bound =
            bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, 4) == 0;
    }
    ~fake_simulator() { close(fd); }

    // Takes one connection and its request line; -1 when none came in time.
    int accept_request(std::string* line, int timeout_ms) {
        if (!emu_wait_readable(fd, timeout_ms))
            return -1;
        const int c = accept(fd, nullptr, nullptr);
        line->clear();
        while (c >= 0 && emu_wait_readable(c, timeout_ms)) {
            char ch;
            if (read(c, &ch, 1) != 1 || ch == '\n')
                break;
            *line += ch;
        }
        return c;
    }

    std::string path;
    int fd = -1;
    bool bound = false;
};

struct CaptureStandIn : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(sim.bound); }
    temp_dir dir;
    fake_simulator sim{dir.path};
    scoped_env socket_env{"TAVI_SIM_SOCKET", sim.path.c_str()};
};

TEST_F(CaptureStandIn, SendsAnAbsolutePathAndSizeAndSucceedsOnOk) {
    const std::string cwd = fs::canonical(dir.path).string();
    const std::vector<std::vector<std::string>> forms{
        {"-o./img/input.jpg", "-x320", "-y240"},
        {"-o", "img/input.jpg", "-x", "640", "-y", "480"},
        {"-o" + cwd + "/img/input.jpg", "-y", "60", "-x80"},
        {"-o", "a  b 'é.jpg"},
    };
    const std::vector<std::string> expected{
        "capture " + cwd + "/img/input.jpg 320 240",
        "capture " + cwd + "/img/input.jpg 640 480",
        "capture " + cwd + "/img/input.jpg 80 60",
        "capture " + cwd + "/a  b 'é.jpg 320 240",
    };
    for (size_t i = 0; i < forms.size(); ++i) {
        emu_child child = emu_spawn_stderr("uvccapture", forms[i], dir.path);
        std::string request;
        const int c = sim.accept_request(&request, kRunTimeoutMs);
        ASSERT_GE(c, 0) << "no request for form " << i;
        EXPECT_EQ(request, expected[i]);
        ASSERT_EQ(write(c, "ok\n", 3), 3);
        close(c);
        const run_result r = finish(&child);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(CaptureStandIn, ReportsAFailedOrUnansweredCapture) {
    {
        emu_child child = emu_spawn_stderr("uvccapture", {"-oa.jpg"}, dir.path);
        std::string request;
        const int c = sim.accept_request(&request, kRunTimeoutMs);
        ASSERT_GE(c, 0);
        EXPECT_NE(request.find(" 320 240"), std::string::npos) << "default size";
        ASSERT_EQ(write(c, "fail injected\n", 14), 14);
        close(c);
        const run_result r = finish(&child);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find("injected"), std::string::npos) << r.err;
    }
    {
        // The simulator hangs up without a word.
        emu_child child = emu_spawn_stderr("uvccapture", {"-oa.jpg"}, dir.path);
        std::string request;
        const int c = sim.accept_request(&request, kRunTimeoutMs);
        ASSERT_GE(c, 0);
        close(c);
        const run_result r = finish(&child);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_FALSE(r.err.empty());
    }
}

TEST_F(CaptureStandIn, RefusesBadArgumentsWithoutAskingTheSimulator) {
    const std::vector<std::vector<std::string>> bad{
        {"-oa.jpg", "-x0"}, {"-oa.jpg", "-x32a"}, {"-oa.jpg", "-y"}, {"-oa.jpg", "-x99999"}, {"-z"},
        {"-o", "a\nb.jpg"}, {"stray", "-oa.jpg"},
    };
    for (const auto& args : bad) {
        const run_result r = run("uvccapture", args, dir.path);
        EXPECT_EQ(r.exit_code, 1) << args.back();
        EXPECT_FALSE(r.err.empty()) << args.back();
    }
    EXPECT_FALSE(emu_wait_readable(sim.fd, 0)) << "a refused call must not connect";
}

TEST(CaptureStandInAlone, FailsClearlyWithoutASimulator) {
    temp_dir dir;
    {
        scoped_env none("TAVI_SIM_SOCKET", nullptr);
        const run_result r = run("uvccapture", {"-oa.jpg", "-x320", "-y240"}, dir.path);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find("TAVI_SIM_SOCKET"), std::string::npos) << r.err;
    }
    scoped_env gone("TAVI_SIM_SOCKET", (dir.path / "no.sock").c_str());
    const run_result r = run("uvccapture", {"-oa.jpg"}, dir.path);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("no.sock"), std::string::npos) << r.err;
}

// A run directory with the host's home, its tavion folder and the robot's
// working directory.
struct CopyStandIn : ::testing::Test {
    void SetUp() override {
        fs::create_directories(home() / "tavion");
        fs::create_directories(work());
    }
    fs::path home() const { return dir.path / "host"; }
    fs::path work() const { return dir.path / "robot"; }
    std::string log() const { return emu_read_file(dir.path / "scp.log"); }
    temp_dir dir;
    scoped_env home_env{"TAVI_SIM_HOST_DIR", (dir.path / "host").c_str()};
    scoped_env no_fault{"TAVI_SIM_SCP_FAIL", nullptr};
};

TEST_F(CopyStandIn, SendsAndFetchesTheTwoForms) {
    write_file(work() / "number1602.data", "7\n");
    run_result r = run("scp", {"number1602.data", "tavi@192.168.0.10:tavion/"}, work());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(emu_read_file(home() / "tavion" / "number1602.data"), "7\n");

    // Sending again replaces the host's copy.
    write_file(work() / "number1602.data", "-12\n");
    r = run("scp", {"number1602.data", "tavi@192.168.0.10:tavion/"}, work());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(emu_read_file(home() / "tavion" / "number1602.data"), "-12\n");

    write_file(home() / "tavion" / "info.data", "route 3\n");
    r = run("scp", {"tavi@10.0.0.1:tavion/info.data", "./"}, work());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(emu_read_file(work() / "info.data"), "route 3\n");

    const std::string l = log();
    EXPECT_NE(l.find(" 0 scp number1602.data tavi@192.168.0.10:tavion/ :"), std::string::npos) << l;
    EXPECT_NE(l.find(" 0 scp tavi@10.0.0.1:tavion/info.data ./ :"), std::string::npos) << l;
    EXPECT_EQ(std::count(l.begin(), l.end(), '\n'), 3);
}

TEST_F(CopyStandIn, RefusesEverythingElse) {
    write_file(work() / "n.data", "1\n");
    write_file(home() / "tavion" / "info.data", "x\n");
    write_file(dir.path / "secret", "s\n");
    fs::create_symlink(dir.path, home() / "tavion" / "out");
    const std::vector<std::vector<std::string>> refused{
        {"n.data", "root@192.168.0.10:tavion/"},           // another account
        {"n.data", "192.168.0.10:tavion/"},                // no account
        {"n.data", "tavi@192.168.0:tavion/"},              // not an address
        {"n.data", "tavi@192.168.0.10:tavion"},            // not the directory form
        {"n.data", "tavi@192.168.0.10:missing/"},          // no such directory
        {"n.data", "tavi@192.168.0.10:../"},               // leaves the home
        {"n.data", "tavi@192.168.0.10:/tmp/"},             // absolute
        {"gone.data", "tavi@192.168.0.10:tavion/"},        // no local file
        {"n.data", "tavi@192.168.0.10:tavion/", "extra"},  // more arguments
        {"-r", "n.data", "tavi@192.168.0.10:tavion/"},     // options
        {"n.data"},                                        // too few
        {"n.data", "other.data"},                          // local to local
        {"tavi@192.168.0.10:tavion/nothing.data", "./"},   // missing on the host
        {"tavi@192.168.0.10:tavion/info.data", "/tmp/"},   // not ./
        {"tavi@192.168.0.10:tavion/../../secret", "./"},   // escapes with ..
        {"tavi@192.168.0.10:tavion/out/secret", "./"},     // escapes by a link
        {"tavi@192.168.0.10:tavion/", "./"},               // no file name
        {"guest@192.168.0.10:tavion/info.data", "./"},     // another account
    };
    for (const auto& args : refused) {
        const run_result r = run("scp", args, work());
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_EQ(r.exit_code, 1) << line;
        EXPECT_FALSE(r.err.empty()) << line;
    }
    EXPECT_FALSE(fs::exists(work() / "secret"));
    EXPECT_FALSE(fs::exists(work() / "info.data"));
    EXPECT_FALSE(fs::exists(home() / "tavion" / "n.data"));
    const std::string l = log();
    EXPECT_EQ(static_cast<size_t>(std::count(l.begin(), l.end(), '\n')), refused.size());
    EXPECT_EQ(l.find(" 0 scp"), std::string::npos) << l;
}

TEST_F(CopyStandIn, FaultSwitchesMakeItFail) {
    write_file(work() / "n.data", "1\n");
    const std::vector<std::string> send{"n.data", "tavi@192.168.0.10:tavion/"};
    {
        scoped_env fault("TAVI_SIM_SCP_FAIL", "1");
        const run_result r = run("scp", send, work());
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find("192.168.0.10"), std::string::npos) << r.err;
    }
    {
        scoped_env off("TAVI_SIM_SCP_FAIL", "0");
        write_file(home() / ".fail", "");
        EXPECT_EQ(run("scp", send, work()).exit_code, 1);
        EXPECT_FALSE(fs::exists(home() / "tavion" / "n.data"));
        fs::remove(home() / ".fail");
        EXPECT_EQ(run("scp", send, work()).exit_code, 0);
        EXPECT_TRUE(fs::exists(home() / "tavion" / "n.data"));
    }
}

TEST(CopyStandInAlone, FailsClearlyWithoutAHost) {
    temp_dir dir;
    scoped_env none("TAVI_SIM_HOST_DIR", nullptr);
    write_file(dir.path / "n.data", "1\n");
    run_result r = run("scp", {"n.data", "tavi@192.168.0.10:tavion/"}, dir.path);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("TAVI_SIM_HOST_DIR"), std::string::npos) << r.err;
    scoped_env missing("TAVI_SIM_HOST_DIR", (dir.path / "nohost").c_str());
    r = run("scp", {"n.data", "tavi@192.168.0.10:tavion/"}, dir.path);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_FALSE(r.err.empty());
}

}  // namespace
