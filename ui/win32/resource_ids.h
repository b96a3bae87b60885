// Resource numbers, shared by the resource script and the code that loads
// them. Plain macros, because the resource compiler reads this file too.
#pragma once

#define PELLAMAR_ICON 1
// The pictures, kept as the original GIF files (resource type RCDATA).
#define PELLAMAR_CONVERT_PICTURE 101
#define PELLAMAR_IMAGE1_PICTURE 102
