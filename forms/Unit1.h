#pragma once
#include "connection.h"
#include "cursor.h"

#include <QMainWindow>

class Roster;

// The workspace: one open ledger, its four books.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(Roster& roster);
    ~TForm1() override;

    // The open ledger and its two cursors; declared in this order so the
    // cursors go before their connection.
    tsl::Connection ado1;
    tsl::Cursor table1{ado1};
    tsl::Cursor table2{ado1};

    // The view number: table1's table name, "1".."4".
    [[nodiscard]] QString viewNumber() const;

    // Record commands (add, edit, delete of the shown book); the menu items click the buttons.
    void btnaddClick();
    void btneditClick();
    void btndelClick();

private:
    Roster& r_;
};
