#include "core/wheel_steps.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace korvex {
namespace {

TEST(WheelSteps, AddsPartialAmountsAndKeepsTheSignedRest) {
    struct Case {
        std::vector<std::int32_t> amounts;
        std::vector<std::int32_t> notches;
        std::int64_t rest;
    };
    const Case cases[] = {
        {{120}, {1}, 0},
        {{-120}, {-1}, 0},
        {{5, 5, 5}, {0, 0, 0}, 15},                // scroll 1.0 is 5 units: 24 of them make a notch
        {{60, 60, 60}, {0, 1, 0}, 60},
        {{100, -30}, {0, 0}, 70},                  // a reversal nets against the rest
        {{-100, -100}, {0, -1}, -80},
        {{250}, {2}, 10},
        {{6, 6}, {0, 0}, 12},                      // pinch steps (amount 0.01 x 600)
        {{INT_MAX}, {WheelSteps::kMaxNotchesPerCall}, INT_MAX % 120},
        {{INT_MIN}, {-WheelSteps::kMaxNotchesPerCall}, -(2147483648LL % 120)},
    };
    for (const auto& c : cases) {
        WheelSteps steps;
        std::vector<std::int32_t> got;
        for (auto a : c.amounts) got.push_back(steps.add(a));
        EXPECT_EQ(got, c.notches) << c.amounts.front();
        EXPECT_EQ(steps.rest(), c.rest) << c.amounts.front();
    }
}

}  // namespace
}  // namespace korvex
