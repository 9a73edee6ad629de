#pragma once

#include "access/jet_page_file.h"

namespace velmora::jet {

// Checks the database header (page 0) of a file the writer is to change: a
// Jet 4 file whose pages are not masked with a database key. Its fields past
// 0x18 are RC4-masked with a key every Jet file shares. Throws JetWriteError.
void checkWritableHeader(const Page& header);

} // namespace velmora::jet
