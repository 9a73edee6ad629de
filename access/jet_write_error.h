#pragma once

#include "access/jet_error.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmora::jet {

// Why a row was not added to an Access catalogue. Thrown before anything is
// written unless the kind is Io (a write or flush that failed midway: the
// journal beside the file then restores the old pages at the next open).
class JetWriteError : public std::runtime_error {
public:
    enum class Kind {
        // The file or table CD has something the writer cannot keep exactly
        // as the engine would (a text-keyed index, a validation rule, an
        // enforced relationship, ...): the text names it and points to
        // `velmora2-init --convert`.
        Unsupported,
        // The engine itself would refuse this row (a value longer than its
        // field, a required column left empty, a duplicate key): the number is
        // the engine's error number, the text names the column.
        Rejected,
        // The file is not a sound Jet 4 catalogue with a table CD.
        Damaged,
        // Reading, writing, locking or flushing failed; the number is errno.
        Io,
    };

    JetWriteError(Kind kind, std::int32_t number, const std::string& description)
        : std::runtime_error(description), m_kind(kind), m_number(number) {}

    Kind kind() const noexcept { return m_kind; }
    std::int32_t number() const noexcept { return m_number; }

private:
    Kind m_kind;
    std::int32_t m_number;
};

// The engine's numbers for the refusals it makes itself.
inline constexpr std::int32_t kJetFieldTooSmall = 3163;
inline constexpr std::int32_t kJetRequiredIsNull = 3314;
inline constexpr std::int32_t kJetZeroLengthString = 3315;
inline constexpr std::int32_t kJetDuplicateKey = 3022;
// The engine's numbers for a file it cannot read, a table it cannot find and
// a column the insert names that the table does not have.
inline constexpr std::int32_t kJetDamaged = 3049;
inline constexpr std::int32_t kJetNoSuchTable = 3078;
inline constexpr std::int32_t kJetNoSuchColumn = 3127;
// Our own number for what the writer cannot do (the engine has none).
inline constexpr std::int32_t kJetCannotWriteInPlace = 3251; // "operation not supported"

// The one-line refusals every part of the writer throws. `file` is the
// catalogue's name as the caller gave it.
[[noreturn]] inline void throwDamaged(std::string_view file, const std::string& why) {
    throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                        std::string(file) + " is damaged: " + why);
}
// A bounded walk's JetError ("it is damaged: ..." or "the definition of ...
// is damaged: ...") as the writer's refusal.
[[noreturn]] inline void throwDamaged(std::string_view file, const JetError& error) {
    constexpr std::string_view kPrefix = "it is damaged: ";
    const std::string_view why(error.what());
    throwDamaged(
        file,
        std::string(why.substr(0, kPrefix.size()) == kPrefix ? why.substr(kPrefix.size()) : why));
}
[[noreturn]] inline void throwUnsupported(const std::string& text) {
    throw JetWriteError(JetWriteError::Kind::Unsupported, kJetCannotWriteInPlace, text);
}
[[noreturn]] inline void throwIo(const std::string& what, int error) {
    throw JetWriteError(JetWriteError::Kind::Io, error, what + ": " + std::strerror(error));
}

} // namespace velmora::jet
