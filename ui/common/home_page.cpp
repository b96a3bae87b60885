#include "ui/common/form_layout.h"

namespace pellamar::ui {

std::string_view HomePage() { return PELLAMAR_HOME_PAGE; }

}  // namespace pellamar::ui
