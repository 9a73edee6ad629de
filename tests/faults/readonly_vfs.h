#pragma once

namespace velmora::testing {

// Registers (once) and names an SQLite VFS that opens every main database
// read-only, as a catalogue on a read-only medium would be.
const char* readOnlyVfs();

} // namespace velmora::testing
