#pragma once
// The UPDATE statements of one table, one per set of fields written, prepared
// the first time that set is written and kept until the table is closed.
#include "storage/engine.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tsl {

// Bit i set: field i (in stored order) is written.
using FieldSet = std::uint64_t;
inline constexpr int kMaxFieldSetFields = 64;

[[nodiscard]] constexpr FieldSet fieldBit(int field) { return FieldSet(1) << field; }

class UpdateCache {
public:
    // `quotedFields`: the table's fields, quoted, in stored order (at most kMaxFieldSetFields).
    void reset(Engine& engine, std::string quotedTable, std::vector<std::string> quotedFields);
    void clear() noexcept;

    // "UPDATE table SET a = ?1, c = ?2 WHERE rowid = ?3" for the set {a, c}: the
    // written fields' values bound in stored order, then the rowid. The set must
    // hold at least one of the table's fields.
    [[nodiscard]] Query& forFields(FieldSet fields);

    [[nodiscard]] std::size_t size() const { return byFields_.size(); }

private:
    Engine* engine_ = nullptr;
    std::string table_;
    std::vector<std::string> fields_;
    std::unordered_map<FieldSet, QueryPtr> byFields_;
};

} // namespace tsl
