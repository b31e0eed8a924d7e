#include "lb.h"

#include "look.h"
#include "roster.h"

Tl::Tl(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("l"));
    setupWindow(*this, QStringLiteral("帐本选择!"), 258, 307, WindowButtons::MinimiseOnly, true);
}

Tl::~Tl() = default;
