// The host exchange against a stand-in scp on PATH that records its arguments.
#include "comm/comm.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "comm_files.h"
#include "tests/support/emulated_devices.h"

namespace {

std::string host_prefix() {
    return std::string("tavi@") + TAVI_HOST_IP + ":tavion/";
}

// A temporary working directory holding the stand-in scp, put first on PATH
// and made the current directory for the test.
class CommExchange : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream script(dir + "/scp");
        script << "#!/bin/sh\necho \"$@\" >> " << log << "\n";
        script.close();
        ASSERT_EQ(chmod((dir + "/scp").c_str(), 0755), 0);
    }

    emu_temp_dir work;
    const std::string dir = work.path;
    const std::string log = dir + "/scp.log";
    emu_path_first on_path{dir};
    emu_scoped_cwd in_dir{dir};
};

TEST(CommLines, SendAndFetchFormats) {
    char line[COMM_LINE_SIZE];
    ASSERT_EQ(comm_send_line("number1602.data", line), 0);
    EXPECT_EQ(std::string(line), "scp number1602.data " + host_prefix());
    ASSERT_EQ(comm_fetch_line("info.data", line), 0);
    EXPECT_EQ(std::string(line), "scp " + host_prefix() + "info.data ./");
}

TEST(CommLines, NinetyNineCharactersFitAHundredDoNot) {
    char line[COMM_LINE_SIZE];
    // "scp " + path + " " + host prefix
    const std::size_t fixed = 4 + 1 + host_prefix().size();
    const std::string fits(99 - fixed, 'a');
    ASSERT_EQ(comm_send_line(fits.c_str(), line), 0);
    EXPECT_EQ(std::string(line).size(), 99u);
    const std::string too_long = fits + "b";
    EXPECT_EQ(comm_send_line(too_long.c_str(), line), -1);
    EXPECT_STREQ(line, "");

    // "scp " + host prefix + name + " ./"
    const std::size_t fetch_fixed = 4 + host_prefix().size() + 3;
    const std::string name(99 - fetch_fixed, 'n');
    EXPECT_EQ(comm_fetch_line(name.c_str(), line), 0);
    EXPECT_EQ(comm_fetch_line((name + "x").c_str(), line), -1);
}

TEST(CommLines, OnlyPlainNamesAreSafe) {
    for (const char* ok : {"number1602.data", "info.data", "a/b-c_d.e", "/tmp/x", "A9"}) {
        EXPECT_TRUE(comm_name_is_safe(ok)) << ok;
    }
    for (const char* bad : {"", "-oProxyCommand=x", "a b", "a;b", "$(x)", "`x`", "a|b", "a&b",
                            "a>b", "host:file", "a\nb", "a'b", "a\"b", "*", "~/x", "a\\b"}) {
        EXPECT_FALSE(comm_name_is_safe(bad)) << bad;
        char line[COMM_LINE_SIZE];
        EXPECT_EQ(comm_send_line(bad, line), -1) << bad;
        EXPECT_EQ(comm_fetch_line(bad, line), -1) << bad;
    }
    EXPECT_FALSE(comm_name_is_safe(nullptr));
    // A fetched file lands under its own name: safe, and plain besides.
    for (const char* folder : {"a/b", "/tmp/x", "..", ".", "../x", "tavion/info.data"}) {
        EXPECT_FALSE(comm_plain_name(folder)) << folder;
        char line[COMM_LINE_SIZE];
        EXPECT_EQ(comm_fetch_line(folder, line), -1) << folder;
    }
    EXPECT_TRUE(comm_plain_name("info.data"));
}

TEST_F(CommExchange, NumberFileThenCopy) {
    comm_put_number(7, "number1602.data");
    EXPECT_EQ(read_all("number1602.data"), "7\n");
    EXPECT_EQ(read_all(log), "number1602.data " + host_prefix() + "\n");
}

TEST_F(CommExchange, NegativeNumberAndOverwrite) {
    comm_put_number(123456, "number1602.data");
    comm_put_number(-12, "number1602.data");
    EXPECT_EQ(read_all("number1602.data"), "-12\n");
    const std::string once = "number1602.data " + host_prefix() + "\n";
    EXPECT_EQ(read_all(log), once + once);
}

TEST_F(CommExchange, FetchCopiesIntoWorkingDirectory) {
    comm_get_file("info.data");
    EXPECT_EQ(read_all(log), host_prefix() + "info.data ./\n");
}

TEST_F(CommExchange, UnsafeNamesNeverReachTheShell) {
    for (const char* bad : {"x;touch pwned", "$(touch pwned)", "-oProxyCommand=touch", "a b"}) {
        std::string out = emu_capture_stdout([bad] { comm_put_number(1, bad); });
        EXPECT_NE(out.find("refused"), std::string::npos) << out;
        out = emu_capture_stdout([bad] { comm_get_file(bad); });
        EXPECT_NE(out.find("refused"), std::string::npos) << out;
    }
    const std::string out = emu_capture_stdout([] { comm_get_file("../info.data"); });
    EXPECT_NE(out.find("file name refused (a plain name"), std::string::npos) << out;
    EXPECT_FALSE(exists(log));
    EXPECT_FALSE(exists("pwned"));
    EXPECT_FALSE(exists("x;touch pwned"));
}

TEST_F(CommExchange, UncreatableFileIsReportedAndNotCopied) {
    const std::string out =
        emu_capture_stdout([] { comm_put_number(3, "no_such_dir/number1602.data"); });
    EXPECT_NE(out.find("cannot create no_such_dir/number1602.data"), std::string::npos) << out;
    EXPECT_FALSE(exists(log));
}

TEST_F(CommExchange, OverlongLineIsNeitherRunNorWritten) {
    const std::string path(90, 'p');
    const std::string out = emu_capture_stdout([&path] {
        comm_put_number(3, path.c_str());
        comm_get_file(path.c_str());
    });
    EXPECT_NE(out.find("99 characters"), std::string::npos) << out;
    EXPECT_FALSE(exists(path));
    EXPECT_FALSE(exists(log));
}

}  // namespace
