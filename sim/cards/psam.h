// A PSAM: the terminal's secure module in slots 0x11 to 0x14.  It holds
// applications selected by DF name (the social-security PSAM applications
// of algorithms 2 and 3 among them) and speaks T=0 like the user card.
//
// Commands are dispatched by INS in process(); each application keeps its
// own record, so further services (files, keys, encryption, MAC) go into
// PsamApplication and get a case in the dispatch.
#pragma once

#include <string>
#include <vector>

#include "cards/t0_card.h"

namespace vr {

// DF names of the PSAM applications for the card algorithms 2 and 3:
// "sx2.sh.社会保障" and "sx3.sh.社会保障", the Chinese in GB18030.
Bytes psamApplicationName(int algorithm);

Bytes psamAtr();

struct PsamApplication {
    Bytes name;  // DF name
};

class Psam : public T0Card {
public:
    explicit Psam(Bytes atr = psamAtr()) : T0Card(std::move(atr)) {}

    // Adds an application selectable by its DF name.
    Psam &addApplication(const Bytes &dfName);
    // A PSAM with the applications of the given algorithms (2, 3).
    static std::shared_ptr<Psam> withApplications(std::initializer_list<int> algorithms);

    // The application selected since the last reset, or null.
    const PsamApplication *selected() const;

protected:
    Reply process(const Apdu &apdu) override;
    void onReset() override { selected_ = -1; }

    Reply select(const Apdu &apdu);

    std::vector<PsamApplication> applications_;
    int selected_ = -1;
};

}  // namespace vr
