#include "Unit1.h"

#include "look.h"
#include "roster.h"

TForm1::TForm1(Roster& roster) : QMainWindow(nullptr), r_(roster) {
    setObjectName(QStringLiteral("Form1"));
    setupWindow(*this, QStringLiteral("Tessolan!"), 691, 465, WindowButtons::MinimiseMaximise);
}

TForm1::~TForm1() = default;

QString TForm1::viewNumber() const { return QString::fromStdString(table1.tableName()); }
