// Keeps DLLs that lie beside the program (a downloads folder, say) from being
// loaded in place of system DLLs. Call it before anything else runs.
#pragma once

namespace tvk {

void GuardDllSearch();

}  // namespace tvk
