#include "jg.h"

#include "look.h"
#include "roster.h"

Tj::Tj(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("j"));
    setupWindow(*this, QStringLiteral("报表!"), 443, 221, WindowButtons::MinimiseOnly, true);
}
