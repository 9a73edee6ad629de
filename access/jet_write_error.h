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
        // as the engine would (a text-keyed index, a rule or default outside
        // the expressions it evaluates, ...): the text names it and points to
        // `velmora2-init --convert`.
        Unsupported,
        // The engine itself would refuse this row (a value longer than its
        // field, a required column left empty, a duplicate key, a broken
        // validation rule, a missing related record): the number is the
        // engine's error number, the text the engine's words.
        Rejected,
        // The file is not a sound Jet 4 catalogue with a table CD.
        Damaged,
        // Reading, writing, locking or flushing failed; the number is errno.
        Io,
        // Another program has the catalogue open (its user lock is held in
        // the lock file beside it); nothing was written. The text names the
        // computer.
        InUse,
        // The row is stored and the file complete; what failed afterwards
        // (removing the journal, flushing the folder) is the text, the number
        // errno. Never to be reported as a failed insert: a retry would store
        // the row twice.
        AfterCommit,
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
inline constexpr std::int32_t kJetRelatedRecordRequired = 3201;
// A validation rule broken: with the designer's ValidationText, or without.
inline constexpr std::int32_t kJetValidationText = 3316;
inline constexpr std::int32_t kJetValidationRule = 3317;
// An autonumber column that has given its last number.
inline constexpr std::int32_t kJetAutonumberFull = 3161;
// The engine's numbers for a file it cannot read, a table it cannot find and
// a column the insert names that the table does not have.
inline constexpr std::int32_t kJetDamaged = 3049;
inline constexpr std::int32_t kJetNoSuchTable = 3078;
inline constexpr std::int32_t kJetNoSuchColumn = 3127;
// Our own number for what the writer cannot do (the engine has none).
inline constexpr std::int32_t kJetCannotWriteInPlace = 3251; // "operation not supported"
// The engine's number for a database that another user on another machine holds.
inline constexpr std::int32_t kJetLockedByUser = 3260;

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
