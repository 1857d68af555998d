// The saver's own window procedure: set-up on creation, a frame of the
// tumbling cube on every tick (50 ms, or what a hack's run asks for),
// tear-down on destruction.
//
//   SaverWindowProc   acts on create/destroy/erase/timer, then HostDefaultProc
//   RotationState     three angles and the steps added at the next tick
//   kInitialAngle .. kSaveFailedText   start values, the timer, the texts
//   SaverDrawing      the window's size and frame surface
//   SaverRunOptions   what the command line changes for one run (Linux)
//   seedRandom, nextRandom   the saver's own random numbers
//   randomUnit        a uniform double in [0, 1], both ends included
//   drawCredit        the credit line in the bottom-right corner
//   frameRateText     the frame-rate line's text (shown with --fps)
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "settings/settings.h"

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
    plat::Window window;  // the surface's window
};

extern SaverDrawing saverDrawing;

// How this run differs from the saver's own behaviour. The Linux program
// fills it from its command line before the host starts; left as it is, it
// changes nothing: the settings file rules and the saver ends on input.
struct SaverRunOptions {
    // Run as a hack of the XScreenSaver daemon: a side that fails to load is
    // left empty and named on stderr, and only when no side loaded is the
    // message shown in the window; the saver runs on either way. Without a
    // reduction for the run the cube is reduced to fit its window. The
    // settings are only read, never saved.
    bool hack = false;
    bool showFrameRate = false;  // frames a second, bottom-left
    std::uint32_t seedMix = 0;   // mixed into the time seed: the process id
    // Settings for this run only, over the file's: null and -1 keep the file's.
    const char* sides[kSideCount] = {};
    std::int32_t pointStep = -1;
    std::int32_t reduceFactor = -1;
    std::int32_t maxRotationDegrees = -1;
    std::uint32_t framePeriodMs = kFramePeriodMs;  // the tick
};

extern SaverRunOptions saverRunOptions;

plat::LResult SaverWindowProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                              plat::LParam lParam);

// Integers uniform over 0..32767 from our own generator; the C library's
// differs in range between platforms.
void seedRandom(std::uint32_t seed);
std::int32_t nextRandom();
double randomUnit();

void drawCredit(plat::FrameSurface* target);
// The frame-rate line as last drawn; empty until its first second is over.
const char* frameRateText();
