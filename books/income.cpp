#include "books/income.h"

namespace tsl::books {

std::int64_t income(const YearFigures& f) {
    return income(f.book(Movement::Shipments).all.total, f.book(Movement::Purchases).all.total,
                  f.book(Movement::Deliveries).all.total);
}

std::int64_t income(const YearFigures& f, int line) {
    const auto i = std::size_t(line);
    return income(f.book(Movement::Shipments).months[i].total, f.book(Movement::Purchases).months[i].total,
                  f.book(Movement::Deliveries).months[i].total);
}

} // namespace tsl::books
