#include "khlx.h"

#include "look.h"
#include "roster.h"

Tkhl::Tkhl(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("khl"));
    setupWindow(*this, QStringLiteral("客户联系!"), 326, 164);
}
