// Turns the six side texts into side records: "#rrggbb", "$none" or a JPEG path.
//
//   parseHexPair   two hex digits -> 0..255 (0 when they are not hex)
//   SideKind, sideKindOf   colour, "$none" (any case) or picture path
//   loadSide       one side; true when it loaded
//   SideFailure, lastSideFailure, sideFailureText   why the last loadSide failed
//   loadAllSides   all six; the cube's edge length, or 0 after "Image %s not found."
//                  (the callers store the length, so it is the result, not a flag)
//   edgeLengthOfSides  the edge-length rule over the current side table
//   lastLoaderMessage, loaderMessageOwner   the last box's text and its owner
#pragma once

#include <cstdint>

#include "render/side_table.h"

std::int32_t parseHexPair(const char* text);
// What loadSide makes of a text, without loading anything.
enum class SideKind { Colour, Empty, Picture };
SideKind sideKindOf(const char* text);
bool loadSide(Side& side, const char* text);
enum class SideFailure { None, NoSuchFile, Unreadable, NotJpeg, TooLarge };
SideFailure lastSideFailure();
// "no such file", "cannot be read", "not a JPEG file", "too large"; "" for None.
const char* sideFailureText(SideFailure failure);
std::int32_t loadAllSides(const char* text1, const char* text2, const char* text3,
                          const char* text4, const char* text5, const char* text6);
std::int32_t edgeLengthOfSides();
// The text of the last "Image %s not found." box, empty before any.
const char* lastLoaderMessage();

// Owner window of the "Image %s not found." box; 0 means none. The dialog
// sets it to itself while OK runs, so the box is modal to the dialog and a
// second OK cannot start inside the first.
inline std::uintptr_t loaderMessageOwner = 0;
