#include "scan.h"

#include <string>

namespace tsl {

void reopen(Cursor& cursor, std::string_view table) {
    cursor.close();
    cursor.setTableName(std::string(table));
    cursor.open();
}

bool findExact(Cursor& cursor, int pos, std::string_view text) {
    cursor.first();
    const int n = cursor.recordCount();
    for (int i = 0; i < n; ++i) {
        if (cursor.fieldText(pos) == text)
            return true;
        cursor.next();
    }
    return false;
}

} // namespace tsl
