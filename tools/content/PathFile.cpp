// CLOCK.FPP: the loop the automatic camera's flyer travels, kept centred on
// the flock at run time. The first nine points climb from the flock's level
// onto a plateau at y = 50.7114 that holds the other 38.

#include <bit>
#include <cstdint>
#include <iterator>
#include <numbers>

#include "tools/content/ContentGen.h"

namespace content {

Bytes MakePathFile() {
    struct PathPoint {
        float x, y, z;
        float first;  // first trailing array
        float second; // second trailing array
    };
    static constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;
    static constexpr float kPlateau = 50.7114f;
    static constexpr PathPoint kPoints[] = {
        {1.5078f, -1.1636f, -303.0890f, 6.5276f, 70.3096f},
        {94.4722f, 0.2582f, -311.0506f, 5.5711f, 88.4538f},
        {198.6027f, -8.2127f, -262.0424f, 5.9480f, 80.1434f},
        {234.9793f, -5.1352f, -173.6940f, 6.3121f, 81.7277f},
        {232.9175f, 1.7522f, -75.7022f, 7.1114f, 80.4466f},
        {168.2635f, 1.5653f, 10.4166f, 7.5412f, 89.4684f},
        {56.6323f, 11.4931f, 30.1627f, 6.9802f, 80.8823f},
        {-39.8053f, 9.8189f, 16.4604f, 7.3350f, 91.9332f},
        {-118.2964f, 60.7475f, -111.0563f, kTwoPi, 75.0f},
        {-117.1854f, kPlateau, -213.5206f, kTwoPi, 150.0f},
        {-179.9677f, kPlateau, -271.8934f, kTwoPi, 150.0f},
        {-202.3746f, kPlateau, -183.1039f, kTwoPi, 150.0f},
        {-191.5749f, kPlateau, -95.1070f, kTwoPi, 150.0f},
        {-165.1594f, kPlateau, -38.7091f, kTwoPi, 150.0f},
        {-99.5775f, kPlateau, -2.3041f, kTwoPi, 150.0f},
        {-17.5591f, kPlateau, 57.7068f, kTwoPi, 150.0f},
        {-35.9949f, kPlateau, 130.1002f, kTwoPi, 150.0f},
        {-26.7839f, kPlateau, 216.4934f, kTwoPi, 150.0f},
        {27.6177f, kPlateau, 254.0978f, kTwoPi, 150.0f},
        {121.5819f, kPlateau, 253.2734f, kTwoPi, 150.0f},
        {200.3976f, kPlateau, 172.9111f, kTwoPi, 150.0f},
        {253.9838f, kPlateau, 76.9096f, kTwoPi, 150.0f},
        {293.6008f, kPlateau, -4.3122f, kTwoPi, 150.0f},
        {329.9866f, kPlateau, -99.9385f, kTwoPi, 150.0f},
        {295.9921f, kPlateau, -203.5184f, kTwoPi, 150.0f},
        {281.1992f, kPlateau, -274.7047f, kTwoPi, 150.0f},
        {280.3912f, kPlateau, -364.7012f, kTwoPi, 150.0f},
        {216.3953f, kPlateau, -441.0680f, kTwoPi, 150.0f},
        {76.8201f, kPlateau, -492.3164f, kTwoPi, 150.0f},
        {-42.7665f, kPlateau, -430.6958f, kTwoPi, 150.0f},
        {-178.3546f, kPlateau, -453.4958f, kTwoPi, 150.0f},
        {-173.5434f, kPlateau, -603.1046f, kTwoPi, 150.0f},
        {-59.5523f, kPlateau, -683.9067f, kTwoPi, 150.0f},
        {71.6658f, kPlateau, -661.0966f, kTwoPi, 150.0f},
        {51.2759f, kPlateau, -540.6956f, kTwoPi, 150.0f},
        {40.8902f, kPlateau, -414.2836f, kTwoPi, 150.0f},
        {11.6752f, kPlateau, -269.8908f, kTwoPi, 150.0f},
        {-2.3270f, kPlateau, -159.0985f, kTwoPi, 150.0f},
        {-4.7415f, kPlateau, -66.7014f, kTwoPi, 150.0f},
        {-10.7487f, kPlateau, 12.0866f, kTwoPi, 150.0f},
        {-125.9418f, kPlateau, 6.0859f, kTwoPi, 150.0f},
        {-186.7411f, kPlateau, -64.7098f, kTwoPi, 150.0f},
        {-199.5225f, kPlateau, -157.5032f, kTwoPi, 150.0f},
        {-219.9238f, kPlateau, -231.0863f, kTwoPi, 150.0f},
        {-203.5150f, kPlateau, -369.4838f, kTwoPi, 150.0f},
        {-173.5159f, kPlateau, -472.2780f, kTwoPi, 150.0f},
        {-84.3195f, kPlateau, -526.6773f, kTwoPi, 150.0f},
    };
    static_assert(std::size(kPoints) == 47);

    Bytes out;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
        }
    };
    auto putFloat = [&](float f) { put32(std::bit_cast<std::uint32_t>(f)); };
    put32(static_cast<std::uint32_t>(std::size(kPoints)));
    for (const PathPoint& p : kPoints) {
        putFloat(p.x);
        putFloat(p.y);
        putFloat(p.z);
    }
    for (const PathPoint& p : kPoints) {
        putFloat(p.first);
    }
    for (const PathPoint& p : kPoints) {
        putFloat(p.second);
    }
    return out;
}

} // namespace content
