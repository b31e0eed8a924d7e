#include "about.h"

#include "look.h"
#include "roster.h"

Tabou::Tabou(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("abou"));
    setupWindow(*this, QStringLiteral("关于!"), 201, 166);
}
