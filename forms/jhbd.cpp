#include "jhbd.h"

#include "look.h"
#include "roster.h"

Tjhb::Tjhb(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("jhb"));
    setupWindow(*this, QStringLiteral("进货!"), 267, 141);
}
