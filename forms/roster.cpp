#include "forms/roster.h"

#include "forms/Unit1.h"
#include "forms/about.h"
#include "forms/fhbd.h"
#include "forms/jg.h"
#include "forms/jhbd.h"
#include "forms/khlx.h"
#include "forms/lb.h"
#include "forms/zgjh.h"

Roster::Roster(Prompter& p, const tsl::Clock& c) : prompter(p), clock(c) {}

Roster::~Roster() {
    // Dialogs first, the chooser last: the reverse of creation.
    zgj.reset();
    jhb.reset();
    fhb.reset();
    khl.reset();
    abou.reset();
    j.reset();
    Form1.reset();
    l.reset();
}

void Roster::create() {
    l = std::make_unique<Tl>(*this); // its start-up steps run here, before any other window exists
    Form1 = std::make_unique<TForm1>(*this);
    j = std::make_unique<Tj>(*this);
    abou = std::make_unique<Tabou>(*this);
    khl = std::make_unique<Tkhl>(*this);
    fhb = std::make_unique<Tfhb>(*this);
    jhb = std::make_unique<Tjhb>(*this);
    zgj = std::make_unique<Tzgj>(*this);
}

QWidget* Roster::frontOwner() const {
    if (j && j->isVisible() && !j->isMinimized())
        return j.get();
    return Form1.get();
}
