#include "bench/test_scratch.h"

namespace {

// Held here rather than dropped, so a test that runs until interrupted still
// owns its stream.
FILE* scratch = nullptr;

}  // namespace

FILE* test_scratch_open() {
    test_scratch_close();
    scratch = fopen("test.data", "w");
    return scratch;
}

void test_scratch_close() {
    if (scratch != nullptr) {
        fclose(scratch);
        scratch = nullptr;
    }
}
