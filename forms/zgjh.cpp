#include "zgjh.h"

#include "look.h"
#include "roster.h"

Tzgj::Tzgj(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("zgj"));
    setupWindow(*this, QStringLiteral("职工交货!"), 270, 142);
}
