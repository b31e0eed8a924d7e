#pragma once
#include "connection.h"
#include "cursor.h"

#include <QWidget>

class Roster;

// The ledger chooser, the application's main window.
class Tl : public QWidget {
    Q_OBJECT
public:
    explicit Tl(Roster& roster);
    ~Tl() override;

    tsl::Connection ado1;
    tsl::Cursor table1{ado1};

signals:
    void closed(); // the program ends when the chooser closes

private:
    Roster& r_;
};
