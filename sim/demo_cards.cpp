#include "demo_cards.h"

#include <memory>

namespace vr {

void insertDemoCards(Reader &reader) {
    // A contact card that answers GET CHALLENGE and selections.
    auto card = std::make_shared<ScriptedCard>();
    card->on("00 84 00 00 08", "4B 45 53 54 52 45 4C 31 90 00");
    card->on("00 A4", "90 00");
    reader.insert(0x01, card);
}

}  // namespace vr
