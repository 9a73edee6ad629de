#pragma once

#include "access/jet_bytes.h"
#include "access/jet_format.h"

#include <string_view>

namespace velmora::jet {

// Checks the database header (page 0) of the file `name` the writer is to
// change: a file of the version `format` describes whose pages are not
// masked with a database key. Part of the header is RC4-masked with a key
// every Jet file shares. Throws JetWriteError.
void checkWritableHeader(const JetFormat& format, Bytes header, std::string_view name);

} // namespace velmora::jet
