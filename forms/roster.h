#pragma once
#include <memory>

class QWidget;

class Prompter;
namespace tsl {
class Clock;
}

class Tl;
class TForm1;
class Tj;
class Tabou;
class Tkhl;
class Tfhb;
class Tjhb;
class Tzgj;

// Creates the eight windows once, in this order, and owns them until the end.
// Windows reach each other only through the roster they were given.
class Roster {
public:
    Roster(Prompter& prompter, const tsl::Clock& clock);
    ~Roster();
    Roster(const Roster&) = delete;
    Roster& operator=(const Roster&) = delete;

    void create();

    // The window a window the user opens from the workspace stands above: the
    // settlement report while it is up (it stays on top of the rest), else the workspace.
    [[nodiscard]] QWidget* frontOwner() const;

    Prompter& prompter;
    const tsl::Clock& clock;

    std::unique_ptr<Tl> l;         // ledger chooser, the main window
    std::unique_ptr<TForm1> Form1; // workspace
    std::unique_ptr<Tj> j;         // settlement report
    std::unique_ptr<Tabou> abou;   // About
    std::unique_ptr<Tkhl> khl;     // customer contact dialog
    std::unique_ptr<Tfhb> fhb;     // shipment dialog
    std::unique_ptr<Tjhb> jhb;     // purchase dialog
    std::unique_ptr<Tzgj> zgj;     // worker delivery dialog
};
