// The host exchange against a real OpenSSH server on 127.0.0.1: the module
// built for that address runs the real scp, which logs in as tavi with a key.
// tests/comm/openssh_host makes the throwaway host and removes it again.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "comm/comm.h"
#include "comm_files.h"
#include "tests/support/emulated_devices.h"

namespace {

// A port nobody listens on right now, for the test's sshd.
int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    close(fd);
    return port;
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

// Runs fn with standard output and standard error each captured into a file
// of dir, as scp (a child of the shell) writes them; returns {stdout, stderr}.
std::pair<std::string, std::string> run_captured(const std::string& dir,
                                                 const std::function<void()>& fn) {
    fflush(stdout);
    fflush(stderr);
    const int saved_out = dup(1);
    const int saved_err = dup(2);
    const int out = open((dir + "/out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open((dir + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    fn();
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(out);
    close(err);
    close(saved_out);
    close(saved_err);
    return {read_all(dir + "/out.txt"), read_all(dir + "/err.txt")};
}

}  // namespace

TEST(CommOpenSsh, SendFetchMissingFileAndHostDown) {
    ASSERT_STREQ("127.0.0.1", comm_host_ip());
    const emu_temp_dir temp;
    const std::string& dir = temp.path;
    const std::string helper = std::string(TAVI_ROOT) + "/tests/comm/openssh_host";
    const int port = free_port();
    ASSERT_GT(port, 0);

    const std::string up = quoted(helper) + " up " + quoted(dir) + " " + std::to_string(port) +
                           " > " + quoted(dir + "/up.txt") + " 2>&1";
    const int status = system(up.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no OpenSSH host here: " << read_all(dir + "/up.txt");
    }
    struct host_down {  // whatever happens below, the account and sshd go
        std::string command;
        ~host_down() { system(command.c_str()); }
    } cleanup{quoted(helper) + " down " + quoted(dir)};
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read_all(dir + "/up.txt");

    const std::string robot = dir + "/robot";
    const std::string tavion = dir + "/home/tavion";
    ASSERT_EQ(0, mkdir(robot.c_str(), 0755));
    const emu_scoped_cwd in_robot(robot);
    const emu_path_first host_tools(dir + "/bin");

    // The number file arrives on the host under its own name.
    auto sent = run_captured(dir, [] { comm_put_number(1602, "number1602.data"); });
    EXPECT_EQ("", sent.first);
    EXPECT_EQ("1602\n", read_all(tavion + "/number1602.data")) << sent.second;
    EXPECT_EQ("1602\n", read_all(robot + "/number1602.data"));

    // The host's file lands in the working directory.
    {
        std::ofstream info(tavion + "/info.data");
        info << "37\n";
    }
    auto fetched = run_captured(dir, [] { comm_get_file("info.data"); });
    EXPECT_EQ("", fetched.first);
    EXPECT_EQ("37\n", read_all(robot + "/info.data")) << fetched.second;

    // A file the host lacks: scp's complaint only, nothing created here.
    auto missing = run_captured(dir, [] { comm_get_file("absent.data"); });
    EXPECT_EQ("", missing.first);
    EXPECT_NE(std::string::npos, missing.second.find("No such file")) << missing.second;
    EXPECT_FALSE(exists(robot + "/absent.data"));

    // The host goes down: the new number stays here, scp says why it failed.
    system((quoted(helper) + " down " + quoted(dir)).c_str());
    auto down = run_captured(dir, [] { comm_put_number(-12, "number1602.data"); });
    EXPECT_EQ("", down.first);
    EXPECT_NE(std::string::npos, down.second.find("Connection refused")) << down.second;
    EXPECT_EQ("-12\n", read_all(robot + "/number1602.data"));
    EXPECT_EQ("1602\n", read_all(tavion + "/number1602.data"));
    EXPECT_EQ("37\n", read_all(robot + "/info.data"));
}
