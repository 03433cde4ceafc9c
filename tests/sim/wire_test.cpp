// Byte-level protocols of the simulated devices.
#include <gtest/gtest.h>

#include <vector>

#include "sim/wire.h"

namespace {

std::vector<sim_motor_frame> split(sim_motor_framer* f, std::vector<uint8_t> bytes) {
    sim_motor_frame out[16];
    int n = wire_motor_split(f, bytes.data(), bytes.size(), out, 16);
    return std::vector<sim_motor_frame>(out, out + n);
}

TEST(MotorFraming, FourByteFrameFromMotorDrive) {
    sim_motor_framer f{};
    auto frames = split(&f, {78, 196, 196, 196});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].len, 4);
    EXPECT_EQ(frames[0].bytes[0], 78);
    EXPECT_EQ(frames[0].bytes[1], 196);
    EXPECT_FALSE(f.has_pending);
}

TEST(MotorFraming, TwoByteFramesAndMergedChunks) {
    sim_motor_framer f{};
    auto one = split(&f, {148, 30});
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].len, 2);
    EXPECT_EQ(one[0].bytes[0], 148);
    EXPECT_EQ(one[0].bytes[1], 30);
    // A motor_drive frame followed by drivehalt's stop frame in one chunk.
    auto merged = split(&f, {29, 19, 19, 19, 0, 0});
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(merged[0].len, 4);
    EXPECT_EQ(merged[1].len, 2);
    EXPECT_EQ(merged[1].bytes[0], 0);
    // Two different 2-byte frames merged stay two frames.
    auto pwm = split(&f, {148, 30, 20, 10});
    ASSERT_EQ(pwm.size(), 2u);
    EXPECT_EQ(pwm[1].bytes[0], 20);
    EXPECT_EQ(pwm[1].bytes[1], 10);
}

TEST(MotorFraming, LoneByteWaitsForItsPartner) {
    sim_motor_framer f{};
    EXPECT_TRUE(split(&f, {5}).empty());
    EXPECT_TRUE(f.has_pending);
    auto frames = split(&f, {6});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes[0], 5);
    EXPECT_EQ(frames[0].bytes[1], 6);
    EXPECT_FALSE(f.has_pending);
}

TEST(EncoderReply, RightWheelSignIsInvertedOnTheWire) {
    uint8_t out[2];
    bool wl = true, wr = true;
    wire_encoder_reply(5, 5, out, &wl, &wr);
    EXPECT_EQ(out[0], 0x05);
    EXPECT_EQ(out[1], 0xFB);
    EXPECT_FALSE(wl);
    EXPECT_FALSE(wr);
    wire_encoder_reply(-1, -1, out, &wl, &wr);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0x01);
}

TEST(EncoderReply, IncrementsBeyondEightBitsWrapAndAreFlagged) {
    uint8_t out[2];
    bool wl = false, wr = false;
    // Right +128 forward is -128 on the wire: still fits.
    wire_encoder_reply(127, 128, out, &wl, &wr);
    EXPECT_EQ(out[0], 0x7F);
    EXPECT_EQ(out[1], 0x80);
    EXPECT_FALSE(wl);
    EXPECT_FALSE(wr);
    wire_encoder_reply(130, -128, out, &wl, &wr);
    EXPECT_EQ(out[0], 0x82);  // 130 seen as -126 by the reader
    EXPECT_EQ(out[1], 0x80);  // +128 does not fit int8
    EXPECT_TRUE(wl);
    EXPECT_TRUE(wr);
}

TEST(UltrasonicReply, ReadingIsRangeMinusTwentyLowByteFirst) {
    uint8_t out[2];
    wire_uss_reply(true, 320.0, out);
    EXPECT_EQ(out[0], 0x2C);
    EXPECT_EQ(out[1], 0x01);
    wire_uss_reply(true, 57.4, out);
    EXPECT_EQ(out[0], 37);
    EXPECT_EQ(out[1], 0);
    // Closer than the board's offset reads 0, not a wrapped number.
    wire_uss_reply(true, 8.0, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    // The largest reading keeps the high byte below the no-echo marker.
    wire_uss_reply(true, 1e6, out);
    EXPECT_EQ(out[1], 0xFE);
    wire_uss_reply(false, 100.0, out);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);
}

TEST(UltrasonicReply, LatencyGrowsWithTheSoundsRoundTrip) {
    double near = wire_uss_latency_ms(true, 30.0);
    double far = wire_uss_latency_ms(true, 300.0);
    // 270 cm more, there and back at 343 m/s.
    EXPECT_NEAR(far - near, 540.0 / 34.3, 1e-9);
    EXPECT_GT(near, 2.0);
    EXPECT_LT(far, 50.0);  // an answer on time lands inside the first wait
}

}  // namespace
