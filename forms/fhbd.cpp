#include "fhbd.h"

#include "look.h"
#include "roster.h"

Tfhb::Tfhb(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("fhb"));
    setupWindow(*this, QStringLiteral("发货!"), 369, 199);
}
