// What every front end's main window shares: captions, the control table in
// twips, the credit label's look and the pick-card dialog's request. No
// toolkit here; the Qt and Win32 windows turn these into controls.
#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <string_view>

#include "core/batch_run.h"

namespace pellamar::ui {

inline constexpr char kWindowCaption[] = "Pellamar [Batch Conversion]";

// Layout values are twips (1/1440 inch); at 96 dots per inch 15 make a pixel.
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidthTwips = 4275;
inline constexpr int kClientHeightTwips = 1710;

constexpr int TwipsToPixels(int twips) { return twips / kTwipsPerPixel; }

// Tab index of the controls that never take the focus.
inline constexpr int kNoFocus = -1;

struct ControlSpec {
  std::string_view name;
  std::string_view caption;
  int left, top, width, height;  // twips, within the client area
  int tab_index;                 // the order among all controls; labels never take focus
};

// In creation order.
inline constexpr ControlSpec kTxtSource{"txtSource", "", 690, 330, 3060, 300, 4};
inline constexpr ControlSpec kBtnSource{"btnSource", "...", 3735, 315, 270, 315, 3};
inline constexpr ControlSpec kBtnStart{"btnStart", "Convert", 2700, 765, 1335, 930, 0};
inline constexpr ControlSpec kLabel1{"Label1", "Bleem Memory Cards Directory:", 705, 90, 2970, 240,
                                     5};
inline constexpr ControlSpec kLabel3{"Label3", kDescriptionText, 60, 780, 2355, 585, 2};
inline constexpr ControlSpec kLabel2{"Label2", "Created By Orrinwald", 45, 1455, 1680, 195, 1};
inline constexpr ControlSpec kImage1{"Image1", "", 30, 15, 555, 525, kNoFocus};

inline constexpr std::array<ControlSpec, 7> kControls = {kTxtSource, kBtnSource, kBtnStart, kLabel1,
                                                         kLabel3,    kLabel2,    kImage1};

// The controls by tab index, those that take no focus last: the order in
// which Tab visits them (labels are passed over, as they take no focus).
constexpr std::array<const ControlSpec*, kControls.size()> InTabOrder() {
  std::array<const ControlSpec*, kControls.size()> order{};
  std::transform(kControls.begin(), kControls.end(), order.begin(),
                 [](const ControlSpec& control) { return &control; });
  const auto rank = [](const ControlSpec* control) {
    return control->tab_index == kNoFocus ? INT_MAX : control->tab_index;
  };
  std::sort(order.begin(), order.end(),
            [&](const auto* a, const auto* b) { return rank(a) < rank(b); });
  return order;
}

// Pictures, in pixels.
inline constexpr int kConvertPictureWidth = 43;
inline constexpr int kConvertPictureHeight = 44;
inline constexpr int kImage1PictureWidth = 37;
inline constexpr int kImage1PictureHeight = 35;

// The credit label Label2: a small underlined link in pure blue.
inline constexpr char kCreditFontFace[] = "Arial";
inline constexpr double kCreditFontPoints = 6.75;
inline constexpr int kCreditFontWeight = 400;
inline constexpr unsigned kCreditColourRgb = 0x0000FF;

// The pick-card dialog that "..." opens.
inline constexpr char kSourceFilter[] = "Bleem Memory Cards (*.mcd)|*.mcd|All files (*.*)|*.*";
inline constexpr char kPickCardTitle[] = "Select a memory card";
inline constexpr char kPickCardInitialDir[] = "c:\\";

// The author's home page: the credit label's tooltip and the address it
// opens. Set at configure time (PELLAMAR_HOME_PAGE).
std::string_view HomePage();

}  // namespace pellamar::ui
