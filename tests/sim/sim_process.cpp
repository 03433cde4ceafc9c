#include "tests/sim/sim_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

sim_process sim_start(const std::vector<std::string>& extra) {
    sim_process p;
    p.dir = sim_run_folder();
    std::vector<std::string> argv = {emu_bin_path("tavi-sim"), "--dir", p.dir};
    argv.insert(argv.end(), extra.begin(), extra.end());
    p.child = emu_spawn_program(argv);
    bool ready =
        emu_wait_until([&] { return access((p.dir + "/ready").c_str(), F_OK) == 0; }, 10000);
    EXPECT_TRUE(ready) << "tavi-sim did not come up in " << p.dir;
    return p;
}

std::map<std::string, std::string> sim_stop(sim_process* p, std::string* log) {
    kill(p->child.pid, SIGTERM);
    emu_child_result r = emu_child_finish(&p->child, 15000);
    EXPECT_FALSE(r.timed_out);
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0);
    if (log != nullptr)
        *log = emu_read_file(p->dir + "/log.csv");
    return sim_read_summary(p->dir + "/summary.txt");
}
