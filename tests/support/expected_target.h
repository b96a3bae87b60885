// A converted card spelled out byte by byte, independently of the program's
// own header code, so that tests of the executable check the format itself.
#pragma once

#include "core/file_system.h"

namespace pellamar::testing {

inline Bytes ExpectedTarget(const Bytes& card) {
  Bytes target = {'V', 'g', 's', 'M', 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 2};
  target.resize(64, 0);
  target.insert(target.end(), card.begin(), card.end());
  return target;
}

}  // namespace pellamar::testing
