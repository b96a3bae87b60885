// How a replace on POSIX makes its new file beside the target and puts it in
// place: created exclusively, given its permissions, written, and renamed
// over a link, else only where nothing stands.
#pragma once

#include <memory>
#include <string>

#include "core/file_system.h"
#include "core/posix_permissions.h"
#include "core/posix_support.h"

namespace pellamar::posix {

// Creates the new file `name` in `folder` for the target `target_name`
// (`path`), where `look` found what stands, for bytes made from `card`. A
// file that is replaced gives the new one its owner and permissions: it is
// looked at again, through a descriptor, and must be the one that the look
// found (else Kind::kChanged). Kind::kExists when `name` is taken.
std::unique_ptr<PendingFile> CreatePendingFile(std::shared_ptr<const Folder> folder,
                                               const char* target_name, const std::string& name,
                                               const TargetLook& look, const OpenedCard& card,
                                               const std::string& path, Status* status);

}  // namespace pellamar::posix
