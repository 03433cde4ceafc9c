// Something the program talks to misbehaves: a silent, late or echo-less
// ultrasonic board, a camera that fails, leaves no image or never ends, a
// missing ./img/, a host that is down. The program says what went wrong, gives up what needs
// it, and leaves the wheels stopped.
#include <signal.h>

#include "tests/faults/fault_run.h"

namespace faults {
namespace {

struct hardware_row {
    const char* name;
    const char* fault;               // as the table says it
    const char* program;             // as the operator starts it
    std::vector<std::string> world;  // with the simulator's fault switch
    std::string setup;               // shell words before the program's exec
    std::string input;               // standard input, then end of file
    std::vector<std::string> lines;  // whole terminal lines, in this order
    int status;
    stop_with stop{};  // for a program that would go on for ever
    int timeout_ms = 30000;
    bool long_legs = false;  // drives the demonstration's 80 cm/s legs first
};

void PrintTo(const hardware_row& r, std::ostream* os) {
    *os << r.name;
}

const char* const silent = "ultrasonic board silent";
const char* const late = "late replies (70 ms)";
const char* const no_echo = "channel 1 without echo";
const char* const no_image = "cannot load ./img/input.jpg: the capture left no complete image";
const char* const drive_stopped = "the drive stopped on a fault: motors stopped, program ends";
const std::string host_down =
    std::string("ssh: connect to host ") + TAVI_HOST_IP + " port 22: Connection refused";
// A capture command that never ends and says so when SIGINT ends it (a
// leftover the launcher ends later goes silently). It hangs in the shell's
// wait, which a trapped signal ends at once; the sleep it waits for runs in
// the background, where a script's jobs ignore SIGINT, so the trap ends it.
// With a foreground sleep the trap waited for that sleep, and a SIGINT sent
// as soon as "hangs" showed could come between the fork and the exec of the
// next one (tens of ms under the user-mode emulator), which then missed it and
// slept its whole second: the line came after the program and the launcher
// had ended, into a closed pipe.
const char* const hung_capture =
    "mkdir hang && printf '%s\\n' '#!/bin/sh' "
    "'trap \"echo uvccapture: ended by SIGINT; kill \\$! 2>/dev/null; exit 130\" INT' "
    "'echo uvccapture: hangs' 'sleep 1000 & wait' >hang/uvccapture && chmod +x "
    "hang/uvccapture && "
    "PATH=\"$PWD/hang:$PATH\" && ";

// clang-format off
const hardware_row rows[] = {
    // The ultrasonic board. One that never answers reads 20 cm on both sides:
    // equal, yet no wall.
    {"SilentBoardUss", silent, "benchtest uss", world("wall_bay", "uss_silent"), "", "",
     {"Test_USS thread created!  ", "uss[1]= 20    uss[2]= 20    "},
     128 + SIGTERM, {SIGTERM, "uss[2]=", 2}},
    {"SilentBoardDirection", silent, "benchtest direction", world("wall_bay", "uss_silent"), "", "50\n",
     {"ref_dist=50     cur_dist = 999", "can't get distance using USS", "正体補正 失敗！Program stopped"}, 0},
    {"SilentBoardSquaring", silent, "benchtest direction (squaring only)", world("wall_bay", "uss_silent"), "", "0\n",
     {"正体補正スタート", "uss_l=99999   uss_r= 99999", "正体補正 失敗！Program stopped"}, 0},
    {"SilentBoardDemo", silent, "tavi_demo", world("demo", "uss_silent"), "", "",
     {"ref_dist=50     cur_dist = 999", "can't get distance using USS", "左数字={board_ahead_digits}、右数字=-1"},
     0, {}, 60000, true},
    {"LateRepliesUss", late, "benchtest uss", world("wall_bay", "uss_late"), "", "",
     {"Test_USS thread created!  ", "{uss_line_late}"}, 128 + SIGTERM, {SIGTERM, "uss[2]=", 2}},
    {"LateRepliesDirection", late, "benchtest direction", world("wall_bay", "uss_late"), "", "50\n",
     {"ref_dist=50     cur_dist = 999", "can't get distance using USS", "正体補正 失敗！Program stopped"}, 0},
    {"NoEchoUss", no_echo, "benchtest uss", world("wall_bay", "uss_no_echo=1"), "", "",
     {"Test_USS thread created!  ", "{uss_line}"}, 128 + SIGTERM, {SIGTERM, "uss[2]=", 2}},
    // The right sensor alone gives the distance; squaring then sees the left
    // side missing, turns right by the clamp each time until neither echoes.
    {"NoEchoDirection", no_echo, "benchtest direction", world("wall_bay", "uss_no_echo=1"), "", "50\n",
     {"正体補正スタート", "diff_uss=10      ref_angle=  41.7", "uss_l=99999   uss_r= 99999",
      "正体補正 失敗！Program stopped"},
     0, {}, 60000},

    // The camera and ./img/.
    {"CaptureFailsDirNum", "capture command fails", "benchtest dir_num", world("wall_bay", "capture_fail"), "", "50\n",
     {"正体補正 成功！uvccapture: capture failed: injected", "Capture fail!!", "数字=-1", "Program stopped"}, 0},
    {"CaptureFailsDemo", "capture command fails", "tavi_demo", world("demo", "capture_fail"), "", "",
     {"uvccapture: capture failed: injected", "Capture fail!!", "左数字=-1、右数字=-1"}, 0, {}, 60000, true},
    {"CaptureNoFileDirNum", "capture says ok, writes no file", "benchtest dir_num",
     world("wall_bay", "capture_nofile"), "", "50\n",
     {std::string("正体補正 成功！") + no_image, "数字=-1", "Program stopped"}, 0},
    // Ten attempts a second apart, each saying why it read nothing.
    {"CaptureNoFileNumber", "capture says ok, writes no file", "benchtest number",
     world("wall_bay", "capture_nofile"), "", "46\n",
     {std::string("数字認識ボードまでの距離[cm] = ") + no_image, "1 回目：左数字=-1、右数字=-1", no_image,
      "10 回目：左数字=-1、右数字=-1", "数字認識に10回失敗しました。"}, 0},
    {"TruncatedJpegDirNum", "truncated JPEG", "benchtest dir_num", world("wall_bay", "capture_truncated"), "", "50\n",
     {std::string("正体補正 成功！") + no_image, "数字=-1", "Program stopped"}, 0},
    {"NoImgDirNum", "./img/ missing", "benchtest dir_num", world("wall_bay"), "rmdir img && ", "50\n",
     {"正体補正 成功！uvccapture: capture failed: cannot write {dir}/img/input.jpg", "Capture fail!!", "数字=-1",
      "Program stopped"}, 0},

    // The drive's own hardware, 3 s into a 300 cm run (1 s into the route's
    // first move): the speed loop stops the wheels and names the fault, and
    // the console or the patrol ends there, with a failure status.
    {"EncoderSilentConsole", "encoder_dev falls silent mid-move", "benchtest", world("open", "encoder_silent=3"), "",
     "s\n20\n300\n", {"drive fault: encoder_dev stopped answering, motors stopped", drive_stopped}, 1},
    {"WheelsBlockedConsole", "both wheels blocked mid-move", "benchtest", world("open", "wheel_blocked=both,3"), "",
     "s\n20\n300\n", {"drive fault: both wheels stalled, motors stopped", drive_stopped}, 1},
    {"CounterDeadConsole", "left counter dead mid-move", "benchtest", world("open", "encoder_dead=left,3"), "",
     "s\n20\n300\n", {"drive fault: left wheel stalled, motors stopped", drive_stopped}, 1},
    {"MotorReversedConsole", "right motor leads swapped", "benchtest", world("open", "motor_reversed=right"), "",
     "s\n20\n300\n", {"drive fault: right wheel turning against its command, motors stopped", drive_stopped}, 1},
    {"WheelBlockedRoute", "right wheel blocked mid-move", "tavion_patrol", world("patrol_a", "wheel_blocked=right,1"), "",
     "", {"sequence_num=1     style=0      value=348   ", "drive fault: right wheel stalled, motors stopped",
          "patrol stopped at step 1: the drive stopped on a fault"}, 1},

    // The host: the stand-in scp refuses every copy while this is set.
    {"HostDownComm", "scp fails (host down)", "benchtest comm", world("open"), "TAVI_SIM_SCP_FAIL=1 ", "42\n",
     {"input number 0-9:  " + host_down, "lost connection", host_down, "lost connection", "input number 0-9:  ",
      "end of input: motors stopped, program ends"}, 0},

    // A capture that never ends, and Ctrl-C for the whole job. The program is
    // started with SIGINT and SIGQUIT ignored, as a script's background job
    // is; system() passed that on to the capture (SigIgn 0x180000006), which
    // outlived the program and kept the camera.
    {"CaptureHangsNumber", "capture never ends, SIGINT to the job", "benchtest number (started with SIGINT ignored)",
     world("open"), std::string(hung_capture) + "trap '' INT QUIT && ", "50\n",
     {"数字認識ボードまでの距離[cm] = uvccapture: hangs", "uvccapture: ended by SIGINT"},
     128 + SIGINT, {SIGINT, "uvccapture: hangs", 1, true}},
};
// clang-format on

class HardwareFault : public FaultRun, public ::testing::WithParamInterface<hardware_row> {};

TEST_P(HardwareFault, ProgramSaysWhatWentWrongAndLeavesTheWheelsStopped) {
    const hardware_row& r = GetParam();
    if (r.long_legs && under_tsan) {
        GTEST_SKIP() << long_legs_skip;
    }
    emu_child child = start(r.world, r.setup + exec_of(r.program), r.input);
    const pid_t job = child.pid;
    stop_when_printed(&child, r.stop, r.timeout_ms);
    outcome o;
    ASSERT_NO_FATAL_FAILURE(finish(&child, r.timeout_ms, &o));
    if (r.stop.to_job) {
        expect_job_gone(job);
    }

    EXPECT_EQ(o.status, r.status) << o.output;
    std::vector<std::string> seen;
    ASSERT_NO_FATAL_FAILURE(expect_lines(o, r.lines, &seen));
    expect_wheels(o, motors::stopped);
    record(r.fault, r.program, seen, o, motors::stopped);
}

INSTANTIATE_TEST_SUITE_P(Faults, HardwareFault, ::testing::ValuesIn(rows), row_name<hardware_row>);

}  // namespace
}  // namespace faults
