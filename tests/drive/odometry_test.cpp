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
    // A float product would drift over a long run; check against the double
    // product for sums up to a long patrol, both signs.
    for (int32_t sum = -200000; sum <= 200000; sum += 997) {
        double right = static_cast<double>(sum) * static_cast<double>(0.038713433f);
        double left = right * 0.9842;
        distance_pair d = distance_from_sums(sum, sum);
        ASSERT_EQ(d.right, static_cast<float>(right)) << sum;
        ASSERT_EQ(d.left, static_cast<float>(left)) << sum;
    }
    // 100 cm on the right wheel takes 2583 counts (99.997 cm)
    EXPECT_NEAR(distance_from_sums(0, 2583).right, 99.997f, 0.0005f);
    // equal sums: the left distance is 1.58 % shorter
    distance_pair eq = distance_from_sums(1000, 1000);
    EXPECT_NEAR(eq.left / eq.right, 1.0 - 0.0158, 1e-6);
}

}  // namespace
