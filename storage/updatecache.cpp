#include "storage/updatecache.h"

#include <cassert>

namespace tsl {

void UpdateCache::reset(Engine& engine, std::string quotedTable, std::vector<std::string> quotedFields) {
    assert(quotedFields.size() <= std::size_t(kMaxFieldSetFields));
    clear();
    engine_ = &engine;
    table_ = std::move(quotedTable);
    fields_ = std::move(quotedFields);
}

void UpdateCache::clear() noexcept {
    byFields_.clear();
    engine_ = nullptr;
}

Query& UpdateCache::forFields(FieldSet fields) {
    assert(engine_ && fields != 0);
    assert(fields_.size() == std::size_t(kMaxFieldSetFields) || fields >> fields_.size() == 0);
    if (auto it = byFields_.find(fields); it != byFields_.end())
        return *it->second;
    std::string assigns;
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields & fieldBit(int(i)))
            assigns += (assigns.empty() ? "" : ", ") + fields_[i] + " = ?";
    QueryPtr q = engine_->prepare("UPDATE " + table_ + " SET " + assigns + " WHERE rowid = ?", true);
    Query& ref = *q;
    byFields_.emplace(fields, std::move(q));
    return ref;
}

} // namespace tsl
