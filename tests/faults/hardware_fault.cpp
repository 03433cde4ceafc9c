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
    std::string setup{};             // shell words before the program's exec
    std::string input{};             // standard input, then end of file
    stop_with stop{};                // for a program that would go on for ever
    std::vector<std::string> lines;  // whole terminal lines, in this order
    int status;
    int timeout_ms = 30000;
    bool long_legs = false;  // drives the demonstration's 80 cm/s legs first
    double target_x = 0;     // a healthy move: it ends here (cm, the simulator's truth), no fault
    double stopped_within_s = 0;  // the first stop frame this soon after the fault, at most
    int ends_within_ms = 0;       // the program gone this soon after the stop signal, at most
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

// The encoder node as a driver without a poll method serves it: always
// "ready", its read blocking (tests/support/no_poll_shim.cpp). The loader
// splits LD_PRELOAD at blanks, so the shim goes by name, its folder on the
// library path; AddressSanitizer would object to a library loaded before
// its runtime, which the shim must be.
std::string no_poll_driver() {
    return "LD_LIBRARY_PATH=" + shell_quoted(std::string(TAVI_BUILD_DIR) + "/tests/support") +
           " LD_PRELOAD=libtavi_no_poll_shim.so"
           " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\" ";
}

// The console's 300 cm run with one encoder reply late, not lost: the move
// still ends at its target, with no fault.
hardware_row late_reply(const char* name, const char* fault, const char* sim_fault) {
    return {.name = name,
            .fault = fault,
            .program = "benchtest",
            .world = sim_world("open", sim_fault),
            .input = "s\n20\n300\n",
            .lines = {"run mode (s or r) = ", "end of input: motors stopped, program ends"},
            .status = 0,
            .target_x = 300};
}

// The console's 300 cm run with a fault of the drive's hardware switched on.
hardware_row console_drive_fault(const char* name, const char* fault, const char* sim_fault,
                                 const char* says) {
    return {.name = name,
            .fault = fault,
            .program = "benchtest",
            .world = sim_world("open", sim_fault),
            .input = "s\n20\n300\n",
            .lines = {says, drive_stopped},
            .status = 1};
}

// clang-format off
const hardware_row rows[] = {
    // The ultrasonic board. One that never answers reads 20 cm on both sides:
    // equal, yet no wall.
    {.name = "SilentBoardUss", .fault = silent, .program = "benchtest uss",
     .world = sim_world("wall_bay", "uss_silent"), .stop = {.sig = SIGTERM, .after = "uss[2]=", .count = 2},
     .lines = {"Test_USS thread created!  ", "uss[1]= 20    uss[2]= 20    "}, .status = 128 + SIGTERM},
    {.name = "SilentBoardDirection", .fault = silent, .program = "benchtest direction",
     .world = sim_world("wall_bay", "uss_silent"), .input = "50\n",
     .lines = {"ref_dist=50     cur_dist = 999", "can't get distance using USS", "正体補正 失敗！Program stopped"},
     .status = 0},
    {.name = "SilentBoardSquaring", .fault = silent, .program = "benchtest direction (squaring only)",
     .world = sim_world("wall_bay", "uss_silent"), .input = "0\n",
     .lines = {"正体補正スタート", "uss_l=99999   uss_r= 99999", "正体補正 失敗！Program stopped"}, .status = 0},
    {.name = "SilentBoardDemo", .fault = silent, .program = "tavi_demo", .world = sim_world("demo", "uss_silent"),
     .lines = {"ref_dist=50     cur_dist = 999", "can't get distance using USS", "左数字={board_ahead_digits}、右数字=-1"},
     .status = 0, .timeout_ms = 60000, .long_legs = true},
    {.name = "LateRepliesUss", .fault = late, .program = "benchtest uss", .world = sim_world("wall_bay", "uss_late"),
     .stop = {.sig = SIGTERM, .after = "uss[2]=", .count = 2},
     .lines = {"Test_USS thread created!  ", "{uss_line_late}"}, .status = 128 + SIGTERM},
    {.name = "LateRepliesDirection", .fault = late, .program = "benchtest direction",
     .world = sim_world("wall_bay", "uss_late"), .input = "50\n",
     .lines = {"ref_dist=50     cur_dist = 999", "can't get distance using USS", "正体補正 失敗！Program stopped"},
     .status = 0},
    {.name = "NoEchoUss", .fault = no_echo, .program = "benchtest uss", .world = sim_world("wall_bay", "uss_no_echo=1"),
     .stop = {.sig = SIGTERM, .after = "uss[2]=", .count = 2},
     .lines = {"Test_USS thread created!  ", "{uss_line}"}, .status = 128 + SIGTERM},
    // The right sensor alone gives the distance; squaring then sees the left
    // side missing, turns right by the clamp each time until neither echoes.
    {.name = "NoEchoDirection", .fault = no_echo, .program = "benchtest direction",
     .world = sim_world("wall_bay", "uss_no_echo=1"), .input = "50\n",
     .lines = {"正体補正スタート", "diff_uss=10      ref_angle=  41.7", "uss_l=99999   uss_r= 99999",
               "正体補正 失敗！Program stopped"},
     .status = 0, .timeout_ms = 60000},

    // The camera and ./img/.
    {.name = "CaptureFailsDirNum", .fault = "capture command fails", .program = "benchtest dir_num",
     .world = sim_world("wall_bay", "capture_fail"), .input = "50\n",
     .lines = {"正体補正 成功！uvccapture: capture failed: injected", "Capture fail!!", "数字=-1", "Program stopped"},
     .status = 0},
    {.name = "CaptureFailsDemo", .fault = "capture command fails", .program = "tavi_demo",
     .world = sim_world("demo", "capture_fail"),
     .lines = {"uvccapture: capture failed: injected", "Capture fail!!", "左数字=-1、右数字=-1"},
     .status = 0, .timeout_ms = 60000, .long_legs = true},
    {.name = "CaptureNoFileDirNum", .fault = "capture says ok, writes no file", .program = "benchtest dir_num",
     .world = sim_world("wall_bay", "capture_nofile"), .input = "50\n",
     .lines = {std::string("正体補正 成功！") + no_image, "数字=-1", "Program stopped"}, .status = 0},
    // Ten attempts a second apart, each saying why it read nothing.
    {.name = "CaptureNoFileNumber", .fault = "capture says ok, writes no file", .program = "benchtest number",
     .world = sim_world("wall_bay", "capture_nofile"), .input = "46\n",
     .lines = {std::string("数字認識ボードまでの距離[cm] = ") + no_image, "1 回目：左数字=-1、右数字=-1", no_image,
               "10 回目：左数字=-1、右数字=-1", "数字認識に10回失敗しました。"},
     .status = 0},
    {.name = "TruncatedJpegDirNum", .fault = "truncated JPEG", .program = "benchtest dir_num",
     .world = sim_world("wall_bay", "capture_truncated"), .input = "50\n",
     .lines = {std::string("正体補正 成功！") + no_image, "数字=-1", "Program stopped"}, .status = 0},
    {.name = "NoImgDirNum", .fault = "./img/ missing", .program = "benchtest dir_num", .world = sim_world("wall_bay"),
     .setup = "rmdir img && ", .input = "50\n",
     .lines = {"正体補正 成功！uvccapture: capture failed: cannot write {dir}/img/input.jpg", "Capture fail!!",
               "数字=-1", "Program stopped"},
     .status = 0},

    // The drive's own hardware, 3 s into a 300 cm run (1 s into the route's
    // first move): the speed loop stops the wheels and names the fault, and
    // the console or the patrol ends there, with a failure status.
    console_drive_fault("EncoderSilentConsole", "encoder_dev falls silent mid-move", "encoder_silent=3",
                        "drive fault: encoder_dev stopped answering, motors stopped"),
    // The same on a driver that only blocks: the sampler waits in its read
    // for good, and the speed loop, which counts the exchanges it completes,
    // still stops the wheels within 0.3 s; the program then ends its stuck
    // sampler and itself. A program that would go on ends on SIGTERM at once.
    {.name = "EncoderSilentNoPollConsole", .fault = "encoder_dev falls silent mid-move, driver without poll",
     .program = "benchtest", .world = sim_world("open", "encoder_silent=3"), .setup = no_poll_driver(),
     .input = "s\n20\n300\n", .lines = {"drive fault: encoder_dev stopped answering, motors stopped", drive_stopped},
     .status = 1, .stopped_within_s = 0.3},
    {.name = "EncoderSilentNoPollEncoder", .fault = "encoder_dev silent, driver without poll, SIGTERM",
     .program = "benchtest encoder", .world = sim_world("open", "encoder_silent"), .setup = no_poll_driver(),
     .stop = {.sig = SIGTERM, .after = "left=", .count = 5},
     .lines = {"left=    0    right=    0   left_sum=    0   right_sum=    0"}, .status = 128 + SIGTERM,
     .ends_within_ms = 1000},
    // One reply late, not lost: its first byte just before the speed loop's
    // wait runs out and its second 30 ms later, or its second 45 ms after its
    // first. The replies after it stay in step and the move ends on target.
    late_reply("EncoderReplySplitConsole", "one encoder reply split: 29 ms, then 30 ms", "encoder_split=3,29,30"),
    late_reply("EncoderReplyLateConsole", "one encoder reply's second byte 45 ms late", "encoder_split=3,0,45"),
    console_drive_fault("WheelsBlockedConsole", "both wheels blocked mid-move", "wheel_blocked=both,3",
                        "drive fault: both wheels stalled, motors stopped"),
    console_drive_fault("CounterDeadConsole", "left counter dead mid-move", "encoder_dead=left,3",
                        "drive fault: left wheel stalled, motors stopped"),
    console_drive_fault("MotorReversedConsole", "right motor leads swapped", "motor_reversed=right",
                        "drive fault: right wheel turning against its command, motors stopped"),
    {.name = "WheelBlockedRoute", .fault = "right wheel blocked mid-move", .program = "tavion_patrol",
     .world = sim_world("patrol_a", "wheel_blocked=right,1"),
     .lines = {"sequence_num=1     style=0      value=348   ", "drive fault: right wheel stalled, motors stopped",
               "patrol stopped at step 1: the drive stopped on a fault"},
     .status = 1},

    // The host: the stand-in scp refuses every copy while this is set.
    {.name = "HostDownComm", .fault = "scp fails (host down)", .program = "benchtest comm", .world = sim_world("open"),
     .setup = "TAVI_SIM_SCP_FAIL=1 ", .input = "42\n",
     .lines = {"input number 0-9:  " + host_down, "lost connection", host_down, "lost connection", "input number 0-9:  ",
               "end of input: motors stopped, program ends"},
     .status = 0},

    // A capture that never ends, and Ctrl-C for the whole job. The program is
    // started with SIGINT and SIGQUIT ignored, as a script's background job
    // is; system() passed that on to the capture (SigIgn 0x180000006), which
    // outlived the program and kept the camera.
    {.name = "CaptureHangsNumber", .fault = "capture never ends, SIGINT to the job",
     .program = "benchtest number (started with SIGINT ignored)", .world = sim_world("open"),
     .setup = std::string(hung_capture) + "trap '' INT QUIT && ", .input = "50\n",
     .stop = {.sig = SIGINT, .after = "uvccapture: hangs", .count = 1, .to_job = true},
     .lines = {"数字認識ボードまでの距離[cm] = uvccapture: hangs", "uvccapture: ended by SIGINT"},
     .status = 128 + SIGINT},
};
// clang-format on

class HardwareFault : public FaultRun, public ::testing::WithParamInterface<hardware_row> {};

TEST_P(HardwareFault, ProgramSaysWhatWentWrongAndLeavesTheWheelsStopped) {
    const hardware_row& r = GetParam();
    if (r.long_legs && under_tsan) {
        GTEST_SKIP() << long_legs_skip;
    }
    start(r.world, r.setup + exec_of(r.program), r.input);
    const pid_t job = sim.child.pid;
    stop_when_printed(r.stop, r.timeout_ms);
    outcome o;
    ASSERT_NO_FATAL_FAILURE(finish(r.timeout_ms, &o));
    if (r.stop.to_job) {
        expect_job_gone(job);
    }

    EXPECT_EQ(o.exit_code, r.status) << o.output;
    std::vector<std::string> seen;
    ASSERT_NO_FATAL_FAILURE(expect_lines(o, r.lines, &seen));
    expect_wheels(o, motors::stopped);
    if (r.target_x != 0) {
        EXPECT_EQ(o.output.find("drive fault"), std::string::npos) << o.output;
        EXPECT_NEAR(o.number("x"), r.target_x, 1.0);
    }
    if (r.stopped_within_s != 0) {
        expect_stopped_within(o, r.stopped_within_s);
    }
    if (r.ends_within_ms != 0) {
        expect_ended_within(o, r.ends_within_ms);
    }
    record(r.fault, r.program, seen, o, motors::stopped);
}

INSTANTIATE_TEST_SUITE_P(Faults, HardwareFault, ::testing::ValuesIn(rows), row_name<hardware_row>);

}  // namespace
}  // namespace faults
