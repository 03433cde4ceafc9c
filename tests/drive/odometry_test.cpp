// Encoder reply decoding and the conversion of running sums into cm.
#include <gtest/gtest.h>

#include "drive/distance.h"
#include "drive/encoder.h"

namespace {

TEST(EncoderDecode, SignsAndRightInversion) {
    encoder_increments a = encoder_decode(0x05, 0xFB);
    EXPECT_EQ(a.left, 5);
    EXPECT_EQ(a.right, 5);
    encoder_increments b = encoder_decode(0xFF, 0x01);
    EXPECT_EQ(b.left, -1);
    EXPECT_EQ(b.right, -1);
    // 0x80 is -128 on the wire: -128 on the left, +128 once the right is negated
    EXPECT_EQ(encoder_decode(0x80, 0x00).left, -128);
    EXPECT_EQ(encoder_decode(0x00, 0x80).right, 128);
    EXPECT_EQ(encoder_decode(0x7F, 0x7F).left, 127);
    EXPECT_EQ(encoder_decode(0x7F, 0x7F).right, -127);
}

TEST(Distance, WorkedExamplesAsFloats) {
    distance_pair five = distance_from_sums(5, 5);
    EXPECT_FLOAT_EQ(five.left, 0.1905088f);
    EXPECT_FLOAT_EQ(five.right, 0.1935672f);
    // Rounded once from double, these are exactly the nearest floats.
    distance_pair hundred = distance_from_sums(100, 100);
    EXPECT_EQ(hundred.left, 3.8101761f);
    EXPECT_EQ(hundred.right, 3.8713434f);
    distance_pair zero = distance_from_sums(0, 0);
    EXPECT_EQ(zero.left, 0.0f);
    EXPECT_EQ(zero.right, 0.0f);
}

TEST(Distance, RoundedOnceFromDouble) {
    // The nearest floats to sum x the count length (x the left share on the
    // left), worked out apart from the code. A float product would drift: it gives
    // 0.419119388 for 11 counts on the left and 5715.53125 for 150007.
    const struct {
        int32_t sum;
        float left, right;
    } rows[] = {
        {11, 0.419119358f, 0.425847769f},
        {2583, 98.4168472f, 99.9967957f},  // 100 cm on the right wheel: 99.997
        {150007, 5715.53076f, 5807.28613f},
        {-150007, -5715.53076f, -5807.28613f},
        {200000, 7620.35205f, 7742.68652f},  // a long patrol
    };
    for (const auto& r : rows) {
        const distance_pair d = distance_from_sums(r.sum, r.sum);
        EXPECT_EQ(d.left, r.left) << r.sum;
        EXPECT_EQ(d.right, r.right) << r.sum;
    }
}

}  // namespace
