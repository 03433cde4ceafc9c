#include "tests/support/sim_run.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string gate() {
    const char* named = std::getenv("TAVI_GATE");
    if (named != nullptr && *named != '\0') {
        return named;
    }
#if defined(__SANITIZE_ADDRESS__)
    return "asan";
#elif defined(__SANITIZE_THREAD__)
    return "tsan";
#elif defined(__i386__)
    return "m32";
#else
    return "plain";
#endif
}

// The folder a failed test's runs go to, named as ctest names the test.
fs::path kept_folder(const ::testing::TestInfo& test) {
    return fs::path(TAVI_BUILD_DIR) / "Testing/failed-runs" / gate() /
           (std::string(test.test_suite_name()) + "." + test.name());
}

// What a run leaves: files, folders, links (drivehalt's); a node or socket
// still there is of no use to a reader.
void copy_folder(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::create_directories(to, ec);
    for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const fs::path target = to / it->path().lexically_relative(from);
        const fs::file_status st = it->symlink_status();
        if (fs::is_directory(st)) {
            fs::create_directories(target, ec);
        } else if (fs::is_symlink(st)) {
            fs::copy_symlink(it->path(), target, ec);
        } else if (fs::is_regular_file(st)) {
            fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec);
        }
        if (ec) {
            std::fprintf(stderr, "could not copy %s: %s\n", it->path().c_str(),
                         ec.message().c_str());
            ec.clear();
        }
    }
}

// The run folders of the running test, dealt with once it has ended.
struct run_folders : ::testing::EmptyTestEventListener {
    std::vector<std::string> dirs;

    void OnTestEnd(const ::testing::TestInfo& test) override {
        if (test.result()->Failed() && !dirs.empty()) {
            const fs::path kept = kept_folder(test);
            std::error_code ec;
            fs::remove_all(kept, ec);
            for (std::size_t i = 0; i < dirs.size(); ++i) {
                copy_folder(dirs[i],
                            dirs.size() == 1 ? kept : kept / ("run-" + std::to_string(i + 1)));
            }
            std::fprintf(stderr, "run kept in %s\n", kept.c_str());
        }
        for (const std::string& d : dirs) {
            std::error_code ec;
            fs::remove_all(d, ec);
        }
        dirs.clear();
    }
};

run_folders& folders() {
    // Registered at the first run; gtest owns it from then on.
    static run_folders* const f = [] {
        auto* l = new run_folders;
        ::testing::UnitTest::GetInstance()->listeners().Append(l);
        return l;
    }();
    return *f;
}

}  // namespace

std::string sim_run_folder() {
    char tmpl[] = "/tmp/tavi-run-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        ADD_FAILURE() << "no run folder: mkdtemp failed";
        return "";
    }
    folders().dirs.push_back(tmpl);
    return tmpl;
}

std::vector<std::string> sim_world(const std::string& name, const char* fault) {
    std::vector<std::string> args{"--world",
                                  std::string(TAVI_ROOT) + "/sim/worlds/" + name + ".world"};
    if (fault != nullptr) {
        args.insert(args.end(), {"--fault", fault});
    }
    return args;
}

std::map<std::string, std::string> sim_read_summary(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

bool sim_under_emulator() {
    const char* way = std::getenv("TAVI_I386_WAY");
    return way != nullptr && std::string(way) == "emulator";
}

bool sim_is_stop_frame(const std::string& hex) {
    return hex == "00 00 00 00" || hex == "00 00";
}

std::string sim_result::value(const std::string& key) const {
    const auto it = summary.find(key);
    return it == summary.end() ? "(no " + key + " in the summary)" : it->second;
}

double sim_result::number(const std::string& key) const {
    const std::string text = value(key);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) {
        ADD_FAILURE() << key << ": " << text << " is not a number";
        return NAN;
    }
    return v;
}

void sim_expect_stopped(const sim_result& r) {
    // Where drivehalt's two zero bytes and the closing stop frame reach the
    // simulator in one read, it cannot tell which came first: under load the
    // last frame may show as "00 00" though the four zeros came last.
    EXPECT_GT(r.number("motor_frames"), 0);
    EXPECT_TRUE(sim_is_stop_frame(r.value("last_motor_frame"))) << r.value("last_motor_frame");
    ASSERT_FALSE(r.frames.empty()) << "no motor frame in " << r.dir << "/log.csv";
    EXPECT_TRUE(sim_is_stop_frame(r.frames.back().hex)) << r.frames.back().hex;
    EXPECT_EQ(r.value("motor_left"), "0");
    EXPECT_EQ(r.value("motor_right"), "0");
}

sim_run::sim_run() : dir(sim_run_folder()) {}

sim_run::~sim_run() {
    if (child.pid > 0) {
        kill(child.pid, SIGTERM);
        finish(10000);
    }
}

void sim_run::start(const std::vector<std::string>& sim_args,
                    const std::vector<std::string>& command, const std::string& input) {
    // The paths go as arguments, never inside the command text, so a checkout
    // whose path holds blanks or quotes runs the same.
    std::vector<std::string> argv{"/bin/sh",
                                  "-c",
                                  merge_stderr ? "export TAVI_BUILD_DIR=\"$0\"; exec \"$@\" 2>&1"
                                               : "export TAVI_BUILD_DIR=\"$0\"; exec \"$@\"",
                                  TAVI_BUILD_DIR,
                                  TAVI_ROOT "/scripts/sim",
                                  "--run-dir",
                                  dir};
    argv.insert(argv.end(), sim_args.begin(), sim_args.end());
    argv.push_back("--");
    argv.insert(argv.end(), command.begin(), command.end());
    child = emu_spawn_program(argv, input);
}

sim_result sim_run::finish(int timeout_ms) {
    const emu_child_result e = emu_child_finish(&child, timeout_ms);
    sim_result r;
    r.timed_out = e.timed_out;
    r.status = e.status;
    r.exit_code = !e.timed_out && WIFEXITED(e.status) ? WEXITSTATUS(e.status) : -1;
    r.output = e.output;
    r.dir = dir;
    // Beside the simulator's files, for a failed test's reader.
    std::ofstream(dir + "/transcript.txt") << r.output;
    r.summary = sim_read_summary(dir + "/summary.txt");
    std::ifstream log(dir + "/log.csv");
    std::string line;
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        std::string time, event;
        if (std::getline(fields, time, ',') && std::getline(fields, event, ',') &&
            event == "motor") {
            r.frames.push_back({std::atof(time.c_str()), line.substr(line.rfind(',') + 1)});
        }
    }
    return r;
}

sim_result sim_run::run(const std::vector<std::string>& sim_args,
                        const std::vector<std::string>& command, const std::string& input,
                        int timeout_ms) {
    start(sim_args, command, input);
    return finish(timeout_ms);
}
