#include "bench/test.h"

#include <cstdio>
#include <cstring>

#include "bench/test_comm.h"
#include "bench/test_dir_num.h"
#include "bench/test_direction.h"
#include "bench/test_distance.h"
#include "bench/test_encoder.h"
#include "bench/test_input.h"
#include "bench/test_io.h"
#include "bench/test_motor.h"
#include "bench/test_number.h"
#include "bench/test_pwm.h"
#include "bench/test_pwm_vel.h"
#include "bench/test_run_ctrl.h"
#include "bench/test_uss.h"
#include "bench/test_vel_ctrl.h"
#include "drive/device.h"
#include "drive/encoder.h"
#include "drive/motor.h"
#include "drive/run_ctrl.h"
#include "drive/stop_guard.h"
#include "drive/vel_ctrl.h"

namespace {

// test_number reports its outcome on screen; the program's status does not
// depend on it.
void run_number() {
    test_number();
}

const test_routine routines[] = {
    {"run_ctrl", "drive console: straight runs and turns (the default)", test_run_ctrl, true},
    {"motor", "motor outputs through the dead-band encoding", test_motor, false},
    {"pwm", "raw two-byte motor frames", test_pwm, false},
    {"pwm_vel", "raw motor frames with the encoder readout", test_pwm_vel, false},
    {"encoder", "encoder counts and sums", test_encoder, false},
    {"distance", "wheel distances", test_distance, false},
    {"vel_ctrl", "speed-control run of 201 samples with statistics", test_vel_ctrl, true},
    {"uss", "ultrasonic ranges of channels 1 and 2", test_uss, false},
    {"direction", "wall alignment at a distance", test_direction, true},
    {"number", "two-digit number reading", run_number, false},
    {"dir_num", "wall alignment, then a one-digit reading", test_dir_num, true},
    {"io", "the 12 digital inputs", test_io, false},
    {"comm", "send a number to the host, fetch info.data", test_comm, false},
};

}  // namespace

const test_routine* test_find(const char* name) {
    if (name == nullptr) {
        return &routines[0];
    }
    for (const test_routine& r : routines) {
        if (strcmp(r.name, name) == 0) {
            return &r;
        }
    }
    return nullptr;
}

void test_list(FILE* stream) {
    fprintf(stream, "usage: benchtest [ROUTINE]\nroutines:\n");
    for (const test_routine& r : routines) {
        fprintf(stream, "  %-10s %s\n", r.name, r.what);
    }
}

int main(int argc, char** argv) {
    // Before any thread exists, so an interrupt anywhere leaves a stop frame last.
    device_std_streams_reserve();
    stop_guard_install();

    if (argc > 1 && strcmp(argv[1], "--help") == 0 && argc == 2) {
        test_list(stdout);
        return 0;
    }
    const test_routine* routine = argc > 2 ? nullptr : test_find(argc == 2 ? argv[1] : nullptr);
    if (routine == nullptr) {
        test_list(stderr);
        return 2;
    }

    // Lines appear as they are printed, also when the transcript goes to a pipe.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    device_encoder_open();
    device_motor_open();
    device_uss_open();
    device_io_open();

    if (routine->needs_encoder && device_encoder_get() == -1) {
        printf("%s not started: encoder_dev did not open\n", routine->name);
        motor_halt();
        device_motor_close();
        device_uss_close();
        device_io_close();
        return 1;
    }

    routine->run();

    // Worker threads may still be commanding the wheels (the speed loop runs
    // on after its test); the stop frame goes last and nothing follows it.
    motor_halt();
    // Workers still using the handles are ended before the handles close.
    run_ctrl_cancel();
    vel_ctrl_cancel();
    encoder_stop();

    device_encoder_close();
    device_motor_close();
    device_uss_close();
    device_io_close();
    fflush(stdout);
    return test_input_status();
}
