// The host exchange built with an address the safe-name rule refuses: it says
// so, runs nothing and writes nothing, and does not blame the line's length.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "comm/comm.h"
#include "tests/support/emulated_devices.h"

TEST(CommRefusedHost, SaysSoAndDoesNothing) {
    for (const auto& call : {+[] { comm_put_number(1, "comm_refused_host.data"); },
                             +[] { comm_get_file("info.data"); }}) {
        const std::string out = emu_capture_stdout(call);
        EXPECT_EQ(out.rfind("comm: built-in host address or directory refused", 0), 0u) << out;
        EXPECT_EQ(out.find("99 characters"), std::string::npos) << out;
    }
    struct stat st;
    EXPECT_NE(stat("comm_refused_host.data", &st), 0);
    char line[COMM_LINE_SIZE];
    EXPECT_EQ(comm_fetch_line("info.data", line), -1);
}
