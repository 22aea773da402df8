#include "platform/x11/X11Keycodes.h"

#include <array>
#include <utility>

namespace murel::x11 {
namespace {

constexpr std::pair<int, quint32> kTable[] = {
    {9, 53},  // Escape
    {10, 18},   {11, 19},   {12, 20},   {13, 21},   {14, 23},  {15, 22},  {16, 26},  {17, 28},
    {18, 25},   {19, 29},  // 1 … 9, 0
    {20, 27},              // minus
    {21, 24},              // equal
    {22, 51},              // BackSpace
    {23, 48},              // Tab
    {24, 12},   {25, 13},   {26, 14},   {27, 15},   {28, 17},  {29, 16},  {30, 32},  {31, 34},
    {32, 31},   {33, 35},  // q … p
    {34, 33},              // bracketleft
    {35, 30},              // bracketright
    {36, 36},              // Return
    {37, 59},              // Control_L
    {38, 0},    {39, 1},    {40, 2},    {41, 3},    {42, 5},   {43, 4},   {44, 38},  {45, 40},
    {46, 37},   {47, 41},                                                                       // semicolon
    {48, 39},                                                                                   // apostrophe
    {49, 50},                                                                                   // grave
    {50, 56},                                                                                   // Shift_L
    {51, 42},                                                                                   // backslash
    {52, 6},    {53, 7},    {54, 8},    {55, 9},    {56, 11},  {57, 45},  {58, 46},  {59, 43},  // comma
    {60, 47},                                                                                   // period
    {61, 44},                                                                                   // slash
    {62, 60},                                                                                   // Shift_R
    {63, 67},                                                                                   // KP_Multiply
    {64, 58},                                                                                   // Alt_L
    {65, 49},                                                                                   // space
    {66, 57},                                                                                   // Caps_Lock
    {67, 122},  {68, 120},  {69, 99},   {70, 118},  {71, 96},  {72, 97},  {73, 98},  {74, 100},
    {75, 101},  {76, 109},                         // F1 … F10
    {77, 71},                                      // Num_Lock sits where the keypad's Clear key is
    {78, 107},                                     // Scroll_Lock sits where F14 is
    {79, 89},   {80, 91},   {81, 92},              // KP_7 … KP_9
    {82, 78},                                      // KP_Subtract
    {83, 86},   {84, 87},   {85, 88},              // KP_4 … KP_6
    {86, 69},                                      // KP_Add
    {87, 83},   {88, 84},   {89, 85},   {90, 82},  // KP_1 … KP_3, KP_0
    {91, 65},                                      // KP_Decimal
    {94, 10},                                      // the extra key of ISO keyboards, left of Z
    {95, 103},  {96, 111},                         // F11, F12
    {104, 76},                                     // KP_Enter
    {105, 62},                                     // Control_R
    {106, 75},                                     // KP_Divide
    {107, 105},                                    // Print sits where F13 is
    {108, 61},                                     // Alt_R
    {110, 115},                                    // Home
    {111, 126},                                    // Up
    {112, 116},                                    // Prior
    {113, 123},                                    // Left
    {114, 124},                                    // Right
    {115, 119},                                    // End
    {116, 125},                                    // Down
    {117, 121},                                    // Next
    {118, 114},                                    // Insert sits where Help is
    {119, 117},                                    // Delete
    {125, 81},                                     // KP_Equal
    {127, 113},                                    // Pause sits where F15 is
    {133, 55},                                     // Super_L
    {134, 54},                                     // Super_R
    {191, 105}, {192, 107}, {193, 113}, {194, 106}, {195, 64}, {196, 79}, {197, 80}, {198, 90},  // F13 … F20
};

struct Forward {
  std::array<std::optional<quint32>, 256> codes{};
  Forward() {
    for (const auto& [x, v] : kTable) codes[static_cast<size_t>(x)] = v;
  }
};

}  // namespace

std::optional<quint32> virtualKeyCode(int xKeycode) {
  static const Forward forward;
  if (xKeycode < 0 || xKeycode > 255) return std::nullopt;
  return forward.codes[static_cast<size_t>(xKeycode)];
}

std::vector<int> xKeycodes(quint32 virtualKeyCode) {
  std::vector<int> out;
  for (const auto& [x, v] : kTable) {
    if (v == virtualKeyCode) out.push_back(x);
  }
  return out;
}

}  // namespace murel::x11
