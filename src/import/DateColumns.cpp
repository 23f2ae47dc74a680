#include "import/DateColumns.h"

#include <string_view>
#include <variant>

#include "addressbook/ContactKeys.h"

namespace pelkora {

std::map<std::int64_t, dates::DayMonthOrder> dayMonthOrdersOfDateColumns(
    std::span<const DataRow> rows, const std::vector<MappedContactProperty>& mappedProperties) {
    std::map<std::int64_t, dates::DayMonthOrderEvidence> evidence;
    for (const auto& property : mappedProperties) {
        const auto& key = property.contactProperty.propertyKey;
        if (key && (*key == contacts::ContactKey::birthday || *key == contacts::ContactKey::dates))
            evidence.try_emplace(property.columnIndex);
    }
    std::map<std::int64_t, dates::DayMonthOrder> orders;
    if (evidence.empty()) return orders;
    for (const DataRow& row : rows) {
        for (auto& [column, seen] : evidence) {
            const auto cell = row.cellForColumn(column);
            if (!cell) continue;
            if (const auto* text = std::get_if<std::string_view>(&cell->value)) seen.add(*text);
        }
    }
    for (const auto& [column, seen] : evidence) orders.emplace(column, seen.order());
    return orders;
}

}  // namespace pelkora
