// The saver's own window procedure: set-up on creation, a frame of the
// tumbling cube on every 50 ms tick, tear-down on destruction.
//
//   SaverWindowProc   acts on create/destroy/erase/timer, then HostDefaultProc
//   RotationState     three angles and the steps added at the next tick
//   randomUnit        a uniform double in [0, 1], both ends included
//   drawCredit        the credit line in the bottom-right corner
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct RotationState {
    float angleA;
    float angleB;
    float angleC;
    float stepA;
    float stepB;
    float stepC;
};

extern RotationState rotationState;

inline constexpr float kInitialAngle = 0.7853982f;  // pi / 4
inline constexpr float kInitialStep = 0.06283186f;  // about 2 pi / 100
inline constexpr float kFullTurn = 6.2831853f;
inline constexpr std::uint32_t kFrameTimerId = 0;
inline constexpr std::uint32_t kFramePeriodMs = 50;
inline constexpr const char* kCreditText = "Visit us at https://rovanta.example/";
inline constexpr const char* kSaveFailedText = "Could not save ROVANTA settings to rovanta.cfg.";

// What the window drew with: sizes taken once at creation and the surface.
struct SaverDrawing {
    std::int32_t width;
    std::int32_t height;
    plat::FrameSurface* surface;
};

extern SaverDrawing saverDrawing;

plat::LResult SaverWindowProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                              plat::LParam lParam);

// Integers uniform over 0..32767 from our own generator; the C library's
// differs in range between platforms.
void seedRandom(std::uint32_t seed);
std::int32_t nextRandom();
double randomUnit();

void drawCredit(plat::FrameSurface* target);
